#include "support/proxy/background_helper.h"

#include "base/command_line.h"
#include "support/helper_process.h"

namespace proxy_testing {

using namespace testing_support;

BackgroundHelper::BackgroundHelper(const std::vector<std::wstring>& arguments, Start start)
    : outputPath_(directory_ / L"stdout") {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    const HANDLE output = CreateFileW(outputPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return;
    STARTUPINFOW startup = StartupWritingTo(output);
    std::wstring commandLine = QuoteArgument(HelperPath()) + L" " + JoinArguments(arguments);
    PROCESS_INFORMATION info{};
    const DWORD flags = start == Start::Suspended ? CREATE_SUSPENDED : 0;
    if (CreateTestProcess(HelperPath(), commandLine, startup, info, {.inheritHandles = true, .flags = flags})) {
        process_ = info.hProcess;
        thread_ = info.hThread;
    }
    CloseHandle(output);
}

void BackgroundHelper::Resume() {
    if (thread_ != nullptr) ResumeThread(thread_);
}

BackgroundHelper::~BackgroundHelper() {
    if (process_ == nullptr) return;
    Terminate();
    CloseHandle(thread_);
    CloseHandle(process_);
}

DWORD BackgroundHelper::Wait(DWORD timeoutMilliseconds) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMilliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process_, &exitCode);
    return exitCode;
}

void BackgroundHelper::Terminate() {
    if (process_ == nullptr || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return;
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, 10000);
}

std::string BackgroundHelper::Output() const { return ReadFileBytes(outputPath_); }

}  // namespace proxy_testing
