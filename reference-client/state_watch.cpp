#include "state_watch.h"

#include <cstdint>

#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"

bool ReadFileBriefly(const std::wstring& path, std::string& content) {
    const UniqueHandleFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char buffer[4096];
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr)) return false;
    content.assign(buffer, read);
    return true;
}

namespace {

// The file's size and last write time, taken without opening it.
bool Fingerprint(const std::wstring& path, uint64_t& fingerprint) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    fingerprint = FileTimeCount(data.ftLastWriteTime) ^
                  (static_cast<uint64_t>(data.nFileSizeLow) << 48);
    return true;
}

}  // namespace

bool WaitForDoneMarker(const std::wstring& donePath, unsigned timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    std::string content;
    while (!(ReadFileBriefly(donePath, content) && content == "done")) {
        if (GetTickCount64() > deadline) return false;
        Sleep(50);
    }
    return true;
}

Outcome WaitForOutcome(const std::wstring& statePath, const std::wstring& donePath, unsigned timeoutMilliseconds,
                       const std::function<void(const std::string&, const StatusRecord&)>& onRecord,
                       StatusRecord& last) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    std::string seen;
    uint64_t lastFingerprint = 0;
    for (;;) {
        std::string content;
        StatusRecord record;
        // Open the file only when it has changed, and read it at once: the fewer and shorter
        // the reads, the smaller the chance of being in the way of the host's next record.
        uint64_t fingerprint = 0;
        const bool changed = Fingerprint(statePath, fingerprint) && fingerprint != lastFingerprint;
        if (changed) lastFingerprint = fingerprint;
        if (changed && ReadFileBriefly(statePath, content) && content != seen && ParseStatusRecord(content, record)) {
            seen = content;
            last = record;
            onRecord(content, record);
            if (record.ready) return Outcome::Ready;
            if (record.failed) {
                WaitForDoneMarker(donePath, 10000);
                return Outcome::Failed;
            }
        }
        std::string done;
        if (ReadFileBriefly(donePath, done) && done == "done") {
            // The host may have written its last record just before the marker.
            if (ReadFileBriefly(statePath, content) && content != seen && ParseStatusRecord(content, record)) continue;
            return Outcome::EndedWithoutRecord;
        }
        if (GetTickCount64() > deadline) return Outcome::TimedOut;
        Sleep(5);
    }
}
