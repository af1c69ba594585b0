#include "launch/launcher.h"

#include "base/executable_path.h"
#include "base/number_conversion.h"
#include "base/win32.h"
#include "launch/host_parameters.h"

namespace {

constexpr uint32_t kCreationTimeUnreadable = 1;

}  // namespace

uint32_t RunLauncher(OptionMap& options) {
    const DWORD clientId = ParseUnsigned32(options.Get(L"--parent"));
    const HANDLE client = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, clientId);
    if (client == nullptr) return GetLastError();
    FILETIME created{}, exited{}, kernel{}, user{};
    const BOOL timesRead = GetProcessTimes(client, &created, &exited, &kernel, &user);
    CloseHandle(client);
    if (!timesRead) return kCreationTimeUnreadable;
    const uint64_t creationTime = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    if (creationTime == 0) return kCreationTimeUnreadable;

    options.Set(L"--created", FormatCreationTime(creationTime));
    const WideString parameters = BuildHostParameters(options);
    const WideString executable = GetExecutablePath();

    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof(request);
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    request.lpVerb = L"runas";
    request.lpFile = executable.c_str();
    request.lpParameters = parameters.c_str();
    request.nShow = SW_HIDE;
    if (!ShellExecuteExW(&request)) return GetLastError();
    if (request.hProcess != nullptr) CloseHandle(request.hProcess);
    return 0;
}
