#include "launch/guard.h"

#include <optional>

#include "base/command_line.h"
#include "base/file_by_handle.h"
#include "base/file_io.h"
#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"
#include "proxy/proxy_restore.h"
#include "proxy/proxy_snapshot.h"

namespace {

// The client or the core could not be opened, or not waited for: nothing was touched.
constexpr uint32_t kNotWatched = 1;
// How long a guard that may not end the core waits for the host to end it. The host, which
// watches the client too, ends the core's job within one supervision cycle of 100 ms.
constexpr DWORD kHostEndsCoreMilliseconds = 5000;
// A restore that did not get the proxy mutexes within their 15 s, or may not open them (another
// program created one first with an access list that shuts the user out), is tried again for
// this long: another helper's change of the settings may take that long, but not for ever.
constexpr ULONGLONG kRestoreRetryMilliseconds = 60000;
constexpr DWORD kRestorePauseMilliseconds = 100;

// A file that something holds for a moment (a scanner, say), or that the system refused to show
// once, is looked at again for this long before the guard gives it up.
constexpr ULONGLONG kFileRetryMilliseconds = 2000;
constexpr DWORD kFilePauseMilliseconds = 50;

// What this guard cleans up is what was there when it started: a later connection's snapshot
// or configuration at the same paths is another one, and not this guard's to touch.
struct GuardedFiles {
    std::optional<SnapshotChoice> snapshot;
    std::optional<FileIdentity> config;
};

// Calls `attempt` until it answers that it is done (it succeeded, or met what trying again cannot
// change), for up to `milliseconds`, pausing `pause` between calls: every retry of the guard.
template <typename Attempt>
void RetryFor(ULONGLONG milliseconds, DWORD pause, Attempt attempt) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (!attempt() && GetTickCount64() < deadline) Sleep(pause);
}

bool NothingAt(const WideString& path) { return LookAtPath(path) == ERROR_FILE_NOT_FOUND; }

// None only once nothing is at the path, or it could not be looked at for the whole retry time.
std::optional<FileIdentity> IdentityOfWhatIsAt(const WideString& path) {
    if (path.empty()) return std::nullopt;
    std::optional<FileIdentity> identity;
    RetryFor(kFileRetryMilliseconds, kFilePauseMilliseconds, [&] {
        identity = IdentityAt(path);
        return identity || NothingAt(path);
    });
    return identity;
}

// The snapshot whose id the file at the path holds; in an earlier version's file, that very file.
// None once nothing is there, or its id could not be read for the whole retry time.
std::optional<SnapshotChoice> SnapshotAt(const WideString& path) {
    const std::optional<FileIdentity> file = IdentityOfWhatIsAt(path);
    if (!file) return std::nullopt;
    std::optional<SnapshotChoice> snapshot;
    RetryFor(kFileRetryMilliseconds, kFilePauseMilliseconds, [&] {
        try {
            const std::optional<SnapshotId> id = SnapshotIdAt(path);
            snapshot = id ? SnapshotChoice{id, std::nullopt} : SnapshotChoice{std::nullopt, file};
            return true;
        } catch (Win32Error) {
            return false;
        }
    });
    return snapshot;
}

GuardedFiles IdentifyGuardedFiles(const OptionMap& options) {
    return GuardedFiles{SnapshotAt(options.Get(L"--state")), IdentityOfWhatIsAt(options.Get(L"--config"))};
}

// The configuration holds the user's credentials: a refused delete is tried again, until the path
// holds nothing or another file.
void DeleteConfigIfStill(const WideString& path, const FileIdentity& config) {
    RetryFor(kFileRetryMilliseconds, kFilePauseMilliseconds, [&] {
        if (DeleteIfStill(path, config) || NothingAt(path)) return true;
        const std::optional<FileIdentity> now = IdentityAt(path);
        return now && *now != config;
    });
}

// The core runs elevated, and an elevated process lets an unelevated one only wait for it and
// query it: then the guard watches it without the right to end it.
struct WatchedCore {
    UniqueHandleNull process;
    bool mayEnd = false;
};

// With a creation time, the core is the process of that id created then: once the core has
// ended, its id may go to another program of the user, which is then taken for a core that has
// gone, as is one whose creation time cannot be read. Without one, whatever holds the id.
WatchedCore OpenCore(uint32_t coreId, std::optional<uint64_t> created) {
    const DWORD query = created ? PROCESS_QUERY_LIMITED_INFORMATION : 0;
    WatchedCore core;
    core.process.Reset(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | query, FALSE, coreId));
    core.mayEnd = core.process.IsValid();
    if (!core.mayEnd) core.process.Reset(OpenProcess(SYNCHRONIZE | query, FALSE, coreId));
    uint64_t creationTime = 0;
    if (core.process && created && (!ReadCreationTime(core.process.Get(), creationTime) || creationTime != *created)) {
        core.process.Reset();
    }
    return core;
}

std::optional<uint64_t> CoreCreationTime(const OptionMap& options) {
    const WideString& created = options.Get(L"--core-created");
    if (created.empty()) return std::nullopt;
    return ParseUnsigned64(created);
}

// Where the guard may not end the core, it gives the host the time to do so, so that the
// configuration goes only once the core that reads it has gone.
void EndCore(const WatchedCore& core) {
    if (core.mayEnd) {
        TerminateProcess(core.process.Get(), 0);
    } else {
        WaitForSingleObject(core.process.Get(), kHostEndsCoreMilliseconds);
    }
}

// Only a proxy lock that is held, or that may not be opened, is tried again.
void RestoreGuardedSnapshot(const OptionMap& options, const SnapshotChoice& snapshot) {
    RetryFor(kRestoreRetryMilliseconds, kRestorePauseMilliseconds, [&] {
        try {
            RestoreProxyFromState(options.Get(L"--state"), options.Get(L"--expected-proxy"), snapshot);
            return true;
        } catch (Win32Error code) {
            const bool held = code == ERROR_TIMEOUT || code == ERROR_ACCESS_DENIED;
            return !held;
        } catch (...) {
            return true;  // Nobody is left to tell; the configuration is deleted all the same.
        }
    });
}

// Whatever ended the wait, the user's proxy comes back and the core's configuration goes.
void CleanUp(const OptionMap& options, const GuardedFiles& files) {
    if (files.snapshot) RestoreGuardedSnapshot(options, *files.snapshot);
    if (files.config) DeleteConfigIfStill(options.Get(L"--config"), *files.config);
}

}  // namespace

uint32_t RunGuard(const OptionMap& options) {
    // The options are converted before either process is opened: a "--core" that does not convert
    // must not leave the client's handle behind.
    const uint32_t clientId = ParseUnsigned32(options.Get(L"--parent"));
    const uint32_t coreId = ParseUnsigned32(options.Get(L"--core"));
    const std::optional<uint64_t> coreCreated = CoreCreationTime(options);
    const GuardedFiles files = IdentifyGuardedFiles(options);
    UniqueHandleNull client(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, clientId));
    // Only a client that is no longer there has ended; one the guard may not open still runs,
    // and its connection is left as it is.
    if (!client && GetLastError() != ERROR_INVALID_PARAMETER) return kNotWatched;
    WatchedCore core = OpenCore(coreId, coreCreated);
    if (!core.process) return kNotWatched;
    if (!client) {
        EndCore(core);
    } else {
        const HANDLE watched[] = {client.Get(), core.process.Get()};
        const DWORD ended = WaitForMultipleObjects(2, watched, FALSE, INFINITE);
        // A wait that failed says nothing about either process.
        if (ended == WAIT_FAILED) return kNotWatched;
        if (ended == WAIT_OBJECT_0) EndCore(core);
    }
    // Both handles are closed before the proxy is restored.
    client.Reset();
    core.process.Reset();
    CleanUp(options, files);
    return 0;
}
