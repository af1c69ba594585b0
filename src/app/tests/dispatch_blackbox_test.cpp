// The built helper's command line, dispatch and exit codes, run as a real process.
#include <gtest/gtest.h>

#include "support/helper_process.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;

struct ConnectionFiles {
    TemporaryDirectory directory;
    std::wstring state = directory / L"state";
    std::wstring done = directory / L"done";
    std::wstring stop = directory / L"stop";

    std::vector<std::wstring> Options() const {
        return {L"--config", directory / L"config.json", L"--parent", L"1", L"--api", L"9090", L"--interface", L"tun0",
                L"--state", state, L"--stop", stop, L"--done", done};
    }
    bool NothingWritten() const {
        return !PathExists(state) && !PathExists(done) && !PathExists(state + L".tmp");
    }
};

std::vector<std::wstring> Concat(std::vector<std::wstring> first, const std::vector<std::wstring>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST(Dispatch, NoVerbExitsWith2) {
    const ProcessResult result = RunProgramRaw(HelperPath(), L"");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(result.output, "");
}

TEST(Dispatch, UnknownVerbExitsWith2WithOrWithoutOptions) {
    ConnectionFiles files;
    EXPECT_EQ(RunHelper({L"--bogus"}).exitCode, 2u);
    const ProcessResult result = RunHelper(Concat({L"--bogus"}, files.Options()));
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(files.NothingWritten());
}

TEST(Dispatch, VerbsAreCaseSensitive) {
    ConnectionFiles files;
    EXPECT_EQ(RunHelper(Concat({L"--Host"}, files.Options())).exitCode, 2u);
    EXPECT_EQ(RunHelper(Concat({L"--LAUNCH"}, files.Options())).exitCode, 2u);
    EXPECT_EQ(RunHelper({L"--Network-Capabilities"}).exitCode, 2u);
    EXPECT_TRUE(files.NothingWritten());
}

TEST(Dispatch, EmptyRequiredOptionExitsWith2BeforeAnythingHappens) {
    ConnectionFiles files;
    std::vector<std::wstring> arguments = Concat({L"--launch"}, files.Options());
    arguments[4] = L"";  // the value of "--parent"
    const ProcessResult result = RunHelper(arguments);
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(files.NothingWritten());
}

TEST(Dispatch, CapabilitiesIgnoreOtherOptions) {
    ConnectionFiles files;
    const ProcessResult plain = RunHelper({L"--network-capabilities"});
    const ProcessResult withOptions = RunHelper({L"--network-capabilities", L"--state", files.state, L"--done",
                                                 files.done, L"--foo"});
    EXPECT_EQ(plain.exitCode, 0u);
    EXPECT_EQ(withOptions.exitCode, 0u);
    EXPECT_EQ(withOptions.output, plain.output);
    EXPECT_TRUE(plain.output == "{\"ipv6Disabled\":false}" || plain.output == "{\"ipv6Disabled\":true}")
        << plain.output;
    EXPECT_TRUE(files.NothingWritten());
}

TEST(Dispatch, ValueThatLooksLikeAnOptionIsStillAValue) {
    // "--done" is the value of "--stop" here, so "--done" itself is absent: exit 2, no marker.
    ConnectionFiles files;
    const ProcessResult result =
        RunHelper({L"--host", L"--config", L"c", L"--parent", L"1", L"--api", L"1", L"--interface", L"i", L"--state",
                   files.state, L"--stop", L"--done", files.done});
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_TRUE(files.NothingWritten());
}

}  // namespace
