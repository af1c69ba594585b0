// A helper run started without waiting, its standard output going to a file, so that many
// can run at once and a test can end one wherever it stands.
#pragma once

#include <string>
#include <vector>

#include "base/win32.h"
#include "support/temp_directory.h"

namespace proxy_testing {

class BackgroundHelper {
public:
    enum class Start { Running, Suspended };

    explicit BackgroundHelper(const std::vector<std::wstring>& arguments, Start start = Start::Running);
    BackgroundHelper(const BackgroundHelper&) = delete;
    BackgroundHelper& operator=(const BackgroundHelper&) = delete;
    ~BackgroundHelper();

    bool Started() const { return process_ != nullptr; }
    // Lets a run started suspended begin: many resumed one after another start nearly together.
    void Resume();
    // The exit code, or STILL_ACTIVE when the run outlived the time-out.
    DWORD Wait(DWORD timeoutMilliseconds);
    void Terminate();
    // Everything the run wrote to standard output so far.
    std::string Output() const;

private:
    testing_support::TemporaryDirectory directory_;
    std::wstring outputPath_;
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
};

}  // namespace proxy_testing
