#include "launch/launcher.h"

#include "base/command_line.h"
#include "base/local_path.h"
#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"

namespace {

constexpr uint32_t kCreationTimeUnreadable = 1;
constexpr uint32_t kPathNotLocal = ERROR_BAD_PATHNAME;

}  // namespace

bool MakeClientPathsAbsolute(OptionMap& options) {
    for (const wchar_t* name : kClientPathOptions) {
        const WideString full = FullPath(options.Get(name));
        if (!IsLocalDrivePath(full)) return false;
        options.Set(name, full);
    }
    return true;
}

uint32_t RunLauncher(OptionMap& options) {
    if (!MakeClientPathsAbsolute(options)) return kPathNotLocal;
    const DWORD clientId = ParseUnsigned32(options.Get(L"--parent"));
    UniqueHandleNull client(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, clientId));
    if (!client) return GetLastError();
    uint64_t creationTime = 0;
    const bool timesRead = ReadCreationTime(client.Get(), creationTime);
    client.Reset();
    if (!timesRead || creationTime == 0) return kCreationTimeUnreadable;

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
    UniqueHandleNull host(request.hProcess);  // not waited for: closed at once
    return 0;
}

WideString FormatCreationTime(uint64_t creationTime) { return FormatUnsigned(creationTime); }

WideString BuildHostParameters(const OptionMap& options) {
    WideString parameters = L"--host";
    for (const auto& [name, value] : options.Entries()) {
        parameters += L' ';
        parameters += ReadsBackUnquoted(name) ? name : QuoteArgument(name);
        parameters += L' ';
        parameters += QuoteArgument(value);
    }
    return parameters;
}
