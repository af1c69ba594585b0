#include "core_finder.h"

#include <set>
#include <vector>

#include "base/process.h"
#include "base/unique_resource.h"
#include "support/running_processes.h"

namespace {

bool HasImage(HANDLE process, const std::wstring& corePath) {
    wchar_t image[MAX_PATH * 4] = {};
    DWORD length = static_cast<DWORD>(std::size(image));
    return QueryFullProcessImageNameW(process, 0, image, &length) &&
           CompareStringOrdinal(image, static_cast<int>(length), corePath.c_str(), static_cast<int>(corePath.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

uint64_t CurrentFileTime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return FileTimeCount(now);
}

DWORD FindCoreProcessId(const std::wstring& corePath, DWORD launcherId, uint64_t startedNotBefore) {
    const std::vector<PROCESSENTRY32W> processes = testing_support::RunningProcesses();
    std::set<DWORD> hosts;
    for (const PROCESSENTRY32W& entry : processes) {
        if (entry.th32ParentProcessID == launcherId && lstrcmpiW(entry.szExeFile, L"KELDRIX-Network.exe") == 0) {
            hosts.insert(entry.th32ProcessID);
        }
    }
    DWORD found = 0;
    uint64_t newest = 0;
    for (const PROCESSENTRY32W& entry : processes) {
        if (hosts.count(entry.th32ParentProcessID) == 0 || lstrcmpiW(entry.szExeFile, L"sing-box.exe") != 0) continue;
        const UniqueHandleNull process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) continue;
        uint64_t created = 0;
        if (ReadCreationTime(process.Get(), created) && HasImage(process.Get(), corePath) &&
            created >= startedNotBefore && created >= newest) {
            found = entry.th32ProcessID;
            newest = created;
        }
    }
    return found;
}
