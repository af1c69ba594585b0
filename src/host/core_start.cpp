#include "host/core_start.h"

#include <utility>
#include <vector>

#include "base/command_line.h"

namespace {

constexpr unsigned long kErrorFileNotFound = 2;
constexpr unsigned long kErrorAccessDenied = 5;

constexpr DWORD kCoreCreationFlags = CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT;
constexpr DWORD kAttributeCount = 2;

// The job and the handles the attribute list points to live as long as the list.
class CoreStartAttributes {
public:
    CoreStartAttributes(HANDLE job, std::vector<HANDLE> inherited) : job_(job), inherited_(std::move(inherited)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, kAttributeCount, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, kAttributeCount, 0, &size)) return;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job_, sizeof(job_), nullptr,
                                       nullptr) ||
            !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited_.data(),
                                       inherited_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            const DWORD error = GetLastError();
            DeleteProcThreadAttributeList(list);
            SetLastError(error);
            return;
        }
        list_ = list;
    }
    CoreStartAttributes(const CoreStartAttributes&) = delete;
    CoreStartAttributes& operator=(const CoreStartAttributes&) = delete;
    ~CoreStartAttributes() {
        if (list_ != nullptr) DeleteProcThreadAttributeList(list_);
    }

    // Null when the list could not be made; GetLastError right after construction tells why.
    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

private:
    HANDLE job_;
    std::vector<HANDLE> inherited_;
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

std::vector<HANDLE> InheritedHandles(HANDLE input, HANDLE output) {
    std::vector<HANDLE> handles{output};
    if (input != INVALID_HANDLE_VALUE && input != nullptr) handles.push_back(input);
    return handles;
}

}  // namespace

CoreLaunchPlan PlanCoreLaunch(const WideString& helperDirectory, const WideString& configPath) {
    CoreLaunchPlan plan;
    plan.workingDirectory = helperDirectory + L"\\router";
    plan.executable = plan.workingDirectory + L"\\sing-box.exe";
    plan.commandLine = QuoteArgument(plan.executable) + L" run -c " + QuoteArgument(configPath);
    return plan;
}

std::string_view CoreStartFailureCode(unsigned long error) {
    if (error == kErrorAccessDenied) return "ACCESS_DENIED";
    if (error == kErrorFileNotFound) return "FILE_MISSING";
    return "HELPER_ERROR";
}

DWORD CreateCoreSuspendedInJob(HANDLE job, const CoreLaunchPlan& plan, HANDLE input, HANDLE output,
                               PROCESS_INFORMATION& core) {
    const CoreStartAttributes attributes(job, InheritedHandles(input, output));
    if (attributes.List() == nullptr) return GetLastError();
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = output;
    startup.lpAttributeList = attributes.List();
    WideString commandLine = plan.commandLine;
    if (!CreateProcessW(plan.executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE, kCoreCreationFlags,
                        nullptr, plan.workingDirectory.c_str(), &startup.StartupInfo, &core)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}
