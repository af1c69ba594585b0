#include "core_finder.h"

#include <set>
#include <vector>

#include "base/process.h"
#include "base/unique_resource.h"

#include <tlhelp32.h>  // after <windows.h>

namespace {

// Every running process with its parent's id and its image name, from one snapshot.
std::vector<PROCESSENTRY32W> ProcessSnapshot() {
    std::vector<PROCESSENTRY32W> processes;
    // Like a file's handle, the snapshot's is INVALID_HANDLE_VALUE when there is none.
    const UniqueHandleFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
        processes.push_back(entry);
    }
    return processes;
}

bool IsNamed(const PROCESSENTRY32W& entry, const wchar_t* imageName) {
    return lstrcmpiW(entry.szExeFile, imageName) == 0;
}

// The helper processes the launcher started: the hosts of this client's connection.
std::set<DWORD> HostsStartedBy(const std::vector<PROCESSENTRY32W>& processes, DWORD launcherId) {
    std::set<DWORD> hosts;
    for (const PROCESSENTRY32W& entry : processes) {
        if (entry.th32ParentProcessID == launcherId && IsNamed(entry, L"KELDRIX-Network.exe")) {
            hosts.insert(entry.th32ProcessID);
        }
    }
    return hosts;
}

bool HasImage(HANDLE process, const std::wstring& corePath) {
    wchar_t image[MAX_PATH * 4] = {};
    DWORD length = static_cast<DWORD>(std::size(image));
    return QueryFullProcessImageNameW(process, 0, image, &length) &&
           CompareStringOrdinal(image, static_cast<int>(length), corePath.c_str(), static_cast<int>(corePath.size()),
                                TRUE) == CSTR_EQUAL;
}

// The creation time of the process when its image is the core; false when it is not, or when
// the process cannot be asked.
bool ReadCoreCreationTime(DWORD processId, const std::wstring& corePath, uint64_t& created) {
    const UniqueHandleNull process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    return process && ReadCreationTime(process.Get(), created) && HasImage(process.Get(), corePath);
}

}  // namespace

uint64_t CurrentFileTime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return FileTimeCount(now);
}

FoundCore FindCore(const std::wstring& corePath, DWORD launcherId, uint64_t startedNotBefore) {
    const std::vector<PROCESSENTRY32W> processes = ProcessSnapshot();
    const std::set<DWORD> hosts = HostsStartedBy(processes, launcherId);
    FoundCore found;
    for (const PROCESSENTRY32W& entry : processes) {
        if (hosts.count(entry.th32ParentProcessID) == 0 || !IsNamed(entry, L"sing-box.exe")) continue;
        uint64_t created = 0;
        if (ReadCoreCreationTime(entry.th32ProcessID, corePath, created) && created >= startedNotBefore &&
            created >= found.created) {
            found = FoundCore{entry.th32ProcessID, created};
        }
    }
    return found;
}
