// The core's output: the bounded tail, the pipe drain, the error code and the Win32 error.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "base/system_info.h"
#include "base/win32.h"
#include "host/core_output.h"
#include "support/file_watch.h"

namespace {

std::string Numbered(size_t length) {
    std::string text;
    for (size_t i = 0; text.size() < length; ++i) text += std::to_string(i) + ",";
    text.resize(length);
    return text;
}

TEST(CoreOutputTail, KeepsTheLast8192BytesWhateverTheChunking) {
    const std::string output = Numbered(20000);
    for (const size_t chunk : {size_t{1}, size_t{100}, size_t{4096}, size_t{8192}, size_t{8193}, size_t{20000}}) {
        CoreOutputTail tail;
        for (size_t at = 0; at < output.size(); at += chunk) tail.Append(std::string_view(output).substr(at, chunk));
        EXPECT_EQ(tail.Bytes(), output.substr(output.size() - 8192)) << "chunks of " << chunk;
    }
}

TEST(CoreOutputTail, KeepsEverythingUpToTheLimit) {
    CoreOutputTail tail;
    EXPECT_EQ(tail.Bytes(), "");
    tail.Append("");
    EXPECT_EQ(tail.Bytes(), "");
    const std::string first = Numbered(8000);
    tail.Append(first);
    EXPECT_EQ(tail.Bytes(), first);
    tail.Append(std::string(192, 'z'));
    EXPECT_EQ(tail.Bytes().size(), 8192u);
    EXPECT_EQ(tail.Bytes().substr(0, 8000), first);
    tail.Append("!");
    EXPECT_EQ(tail.Bytes().size(), 8192u);
    EXPECT_EQ(tail.Bytes().front(), first[1]);
    EXPECT_EQ(tail.Bytes().back(), '!');
}

TEST(CoreOutputTail, StoresBytesAsWritten) {
    CoreOutputTail tail;
    const std::string bytes("a\0b\r\n\xC3\xA9\xFF", 8);
    tail.Append(bytes);
    EXPECT_EQ(tail.Bytes(), bytes);
}

struct Pipe {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    explicit Pipe(DWORD size = 1 << 16) { CreatePipe(&readEnd, &writeEnd, nullptr, size); }
    ~Pipe() {
        if (readEnd) CloseHandle(readEnd);
        CloseWriteEnd();
    }
    void Write(const std::string& bytes) const {
        DWORD written = 0;
        WriteFile(writeEnd, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    void CloseWriteEnd() {
        if (writeEnd) CloseHandle(writeEnd);
        writeEnd = nullptr;
    }
};

// The pipe's write end stays open: a drain that waited for more would never return.
TEST(DrainPipe, TakesWhatIsThereAndReturnsWithoutWaitingForMore) {
    Pipe pipe;
    ASSERT_NE(pipe.readEnd, nullptr);
    CoreOutputTail tail;
    DrainPipe(pipe.readEnd, tail);
    EXPECT_EQ(tail.Bytes(), "");

    const std::string output = Numbered(30000);
    pipe.Write(output);
    DrainPipe(pipe.readEnd, tail);
    EXPECT_EQ(tail.Bytes(), output.substr(output.size() - 8192));

    pipe.Write("later");
    DrainPipe(pipe.readEnd, tail);
    EXPECT_EQ(tail.Bytes().substr(8192 - 5), "later");
}

TEST(DrainPipe, ReadsWhatIsLeftAfterTheWriterIsGone) {
    Pipe pipe;
    pipe.Write("last words");
    pipe.CloseWriteEnd();
    CoreOutputTail tail;
    DrainPipe(pipe.readEnd, tail);
    DrainPipe(pipe.readEnd, tail);
    EXPECT_EQ(tail.Bytes(), "last words");
}

TEST(DrainPipe, ReturnsWhileTheWriterKeepsWriting) {
    Pipe pipe;
    std::atomic<bool> stop{false};
    std::atomic<size_t> written{0};
    std::thread writer([&] {
        const std::string chunk(4096, 'x');
        while (!stop) {
            pipe.Write(chunk);
            written += chunk.size();
        }
    });
    while (written < (1u << 16)) Sleep(1);  // the pipe is full and the writer waits for room
    CoreOutputTail tail;
    DrainPipe(pipe.readEnd, tail);
    const size_t writtenWhenDrainReturned = written;
    stop = true;
    // Unblock a writer waiting on a full pipe.
    char buffer[1 << 16];
    DWORD read = 0;
    while (PeekNamedPipe(pipe.readEnd, nullptr, 0, nullptr, &read, nullptr) && read > 0) {
        ReadFile(pipe.readEnd, buffer, sizeof(buffer), &read, nullptr);
    }
    writer.join();
    EXPECT_EQ(tail.Bytes().size(), CoreOutputTail::kCapacity);
    // The writer is never more than the pipe's room and one chunk ahead of the reads.
    EXPECT_LE(writtenWhenDrainReturned, kDrainBudgetBytes + (1u << 16) + 4096);
}

// Runs `ending` on a thread of its own. One that has not returned within 10 s is let go by writes
// into the pipe (a reader stuck in its read returns), so that the test fails instead of hanging.
bool ReturnsWhileTheWriterIsSilent(Pipe& pipe, const std::function<void()>& ending) {
    std::atomic<bool> returned{false};
    std::thread owner([&] {
        ending();
        returned = true;
    });
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!returned && GetTickCount64() < deadline) Sleep(10);
    const bool inTime = returned;
    while (!returned) {
        pipe.Write("!");
        Sleep(10);
    }
    owner.join();
    return inTime;
}

// 512 KiB in 200-byte writes through a 4 KiB pipe that the test never drains: only a reader that
// keeps reading lets the writer finish.
TEST(CoreOutputReader, TakesTheOutputAsItIsWrittenUntilTheWriterIsGone) {
    Pipe pipe(4096);
    CoreOutputReader reader(pipe.readEnd);
    EXPECT_TRUE(reader.IsReading());
    const std::string output = Numbered(512 * 1024);
    std::atomic<bool> wroteAll{false};
    std::thread writer([&] {
        for (size_t at = 0; at < output.size(); at += 200) pipe.Write(output.substr(at, 200));
        wroteAll = true;
    });
    const ULONGLONG deadline = GetTickCount64() + 20000;
    while (!wroteAll && GetTickCount64() < deadline) Sleep(10);
    EXPECT_TRUE(wroteAll) << "the writer waited on a full pipe";
    for (CoreOutputTail unblocked; !wroteAll;) DrainPipe(pipe.readEnd, unblocked);
    writer.join();

    pipe.CloseWriteEnd();
    const ULONGLONG broken = GetTickCount64() + 10000;
    while (reader.IsReading() && GetTickCount64() < broken) Sleep(10);
    EXPECT_FALSE(reader.IsReading()) << "the thread outlived the last writer";
    EXPECT_EQ(reader.StopAndTakeRest().Bytes(), output.substr(output.size() - CoreOutputTail::kCapacity));
}

// The core has ended, but a process it started still holds the write end: ending the reader takes
// everything written so far and waits for nothing more, and so does destroying it mid-read.
TEST(CoreOutputReader, EndsWithoutWaitingForAWriterThatStaysOpen) {
    Pipe pipe(4096);
    CoreOutputReader reader(pipe.readEnd);
    pipe.Write("first ");
    pipe.Write("last words");
    std::string tail;
    EXPECT_TRUE(ReturnsWhileTheWriterIsSilent(pipe, [&] { tail = reader.StopAndTakeRest().Bytes(); }));
    EXPECT_EQ(tail, "first last words");
    EXPECT_FALSE(reader.IsReading());
    // Without its thread the cycle takes the output, as before.
    pipe.Write(" and more");
    reader.Drain();
    EXPECT_EQ(reader.StopAndTakeRest().Bytes(), "first last words and more");

    auto waiting = std::make_unique<CoreOutputReader>(pipe.readEnd);
    Sleep(100);
    EXPECT_TRUE(waiting->IsReading());
    EXPECT_TRUE(ReturnsWhileTheWriterIsSilent(pipe, [&] { waiting.reset(); }));
}

// A writer that writes no bytes gives the reader a read of no bytes (Windows does so on every pipe,
// as ReadFile's documentation says; Wine only on a pipe of messages, which this one is). The
// reader reads on: the next bytes are taken as they come, not by the cycle.
TEST(CoreOutputReader, ReadsOnAfterAReadOfNoBytes) {
    const std::wstring name = L"\\\\.\\pipe\\keldrix-output-reader-" + std::to_wstring(GetCurrentProcessId());
    const DWORD messages = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE;
    const UniqueHandleFile readEnd(
        CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND, messages, 1, 4096, 4096, 0, nullptr));
    const UniqueHandleFile writeEnd(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(readEnd && writeEnd);
    CoreOutputReader reader(readEnd.Get());
    DWORD written = 0;
    for (const std::string bytes : {"before ", "", "after"}) {
        WriteFile(writeEnd.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    EXPECT_TRUE(testing_support::WaitUntil(
        [&] {
            DWORD waiting = 0;
            return PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0;
        },
        10000))
        << "what came after the read of no bytes was left in the pipe";
    EXPECT_TRUE(reader.IsReading());
    EXPECT_EQ(reader.StopAndTakeRest().Bytes(), "before after");
}

TEST(ClassifyCoreOutput, FirstRuleInTableOrderWinsWhereverItStands) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "CORE_ERROR"},
        {"all good, nothing to see", "CORE_ERROR"},
        {"FATAL: Set IPv6 Address failed", "TUN_IPV6_ADDRESS_ERROR"},
        {"set ipv6 address; later set ipv4 address", "TUN_IPV4_ADDRESS_ERROR"},
        {"set ipv4 options", "TUN_IPV4_OPTIONS_ERROR"},
        {"SET IPV6 OPTIONS", "TUN_IPV6_OPTIONS_ERROR"},
        {"starting tun interface: x; starting tun stack: y", "TUN_STACK_ERROR"},
        {"starting tun interface", "TUN_INTERFACE_ERROR"},
        {"no such network interface", "NETWORK_INTERFACE_ERROR"},
        {"bind: address already in use; Access is denied.", "ACCESS_DENIED"},
        {"open /dev/net/tun: permission denied", "ACCESS_DENIED"},
        {"loading WinTun.dll", "TUN_DRIVER_ERROR"},
        {"missing drivers", "TUN_DRIVER_ERROR"},
        {"create adapter", "TUN_DRIVER_ERROR"},
        {"listen: binding failed", "ADDRESS_IN_USE"},
        {"DNS server unreachable", "DNS_CONFIG_ERROR"},
        {"C:\\keldrix\\router\\sing-box.exe", "ROUTE_ERROR"},
        {"configure tun interface: auto route failed", "ROUTE_ERROR"},
        {"configure tun interface: failed", "TUN_CONFIG_ERROR"},
        {"Configure TUN Interface", "TUN_CONFIG_ERROR"},
    };
    for (const auto& [output, code] : cases) EXPECT_EQ(ClassifyCoreOutput(output), code) << output;
}

TEST(ClassifyCoreOutput, OnlyAsciiLettersFold) {
    EXPECT_EQ(ClassifyCoreOutput("\xC3\x89 DRIVER \xC3\xA9"), "TUN_DRIVER_ERROR");
    // A byte that is not an ASCII letter never turns into one.
    EXPECT_EQ(ClassifyCoreOutput("d\xD2s"), "CORE_ERROR");
    EXPECT_EQ(ClassifyCoreOutput(std::string("dn\0s", 4)), "CORE_ERROR");
}

// Messages by (code, language); every other pair has none.
struct FakeMessages {
    std::map<std::pair<uint32_t, uint32_t>, std::wstring> texts;
    std::vector<std::pair<uint32_t, uint32_t>> asked;

    SystemMessageLookup Lookup() {
        return [this](uint32_t code, uint32_t language) {
            asked.emplace_back(code, language);
            const auto found = texts.find({code, language});
            return found == texts.end() ? std::wstring() : found->second;
        };
    }
};

TEST(FindWin32ErrorInOutput, EarliestCodeInTheTableWinsNotEarliestPosition) {
    FakeMessages messages;
    messages.texts[{5, 0}] = L"Access is denied.\r\n";
    messages.texts[{87, 0}] = L"The parameter is incorrect.\r\n";
    messages.texts[{10013, 0}] = L"An attempt was made to access a socket.\r\n";
    const std::string output =
        "An attempt was made to access a socket. The parameter is incorrect. ACCESS IS DENIED.";
    EXPECT_EQ(FindWin32ErrorInOutput(output, messages.Lookup()), 5u);
    EXPECT_EQ(FindWin32ErrorInOutput(output.substr(0, 68), messages.Lookup()), 87u);
    EXPECT_EQ(FindWin32ErrorInOutput(output.substr(0, 40), messages.Lookup()), 10013u);
    EXPECT_EQ(FindWin32ErrorInOutput("nothing known", messages.Lookup()), 0u);
}

TEST(FindWin32ErrorInOutput, AsksEachCodeInTheDefaultLanguageThenUsEnglishAndStopsAtTheFirstHit) {
    FakeMessages messages;
    messages.texts[{13, 1033}] = L"The data is invalid.";
    EXPECT_EQ(FindWin32ErrorInOutput("error: the data is invalid.", messages.Lookup()), 13u);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {{2, 0}, {2, 1033}, {5, 0}, {5, 1033}, {13, 0},
                                                                 {13, 1033}};
    EXPECT_EQ(messages.asked, expected);

    messages.asked.clear();
    EXPECT_EQ(FindWin32ErrorInOutput("", messages.Lookup()), 0u);
    ASSERT_EQ(messages.asked.size(), 60u);
    for (size_t i = 0; i < kKnownWin32Errors.size(); ++i) {
        EXPECT_EQ(messages.asked[2 * i], std::make_pair(kKnownWin32Errors[i], 0u));
        EXPECT_EQ(messages.asked[2 * i + 1], std::make_pair(kKnownWin32Errors[i], 1033u));
    }
}

TEST(FindWin32ErrorInOutput, ShortMessagesAreNeverLookedFor) {
    FakeMessages messages;
    messages.texts[{2, 0}] = L"Done. \r\n";  // five bytes once trimmed
    messages.texts[{5, 0}] = L"Denied";      // six bytes
    EXPECT_EQ(FindWin32ErrorInOutput("Done. Denied", messages.Lookup()), 5u);
    EXPECT_EQ(FindWin32ErrorInOutput("Done. Denie", messages.Lookup()), 0u);
}

TEST(FindWin32ErrorInOutput, TrailingLineEndsAndBlanksAreDroppedInnerOnesKept) {
    FakeMessages messages;
    messages.texts[{31, 0}] = L"A device attached to the system\r\nis not functioning. \r\n \n";
    EXPECT_EQ(FindWin32ErrorInOutput("X: a device attached to the system\r\nis not functioning.!", messages.Lookup()),
              31u);
    EXPECT_EQ(FindWin32ErrorInOutput("X: a device attached to the system is not functioning.", messages.Lookup()), 0u);
}

TEST(FindWin32ErrorInOutput, MessagesAreMatchedAsUtf8) {
    FakeMessages messages;
    messages.texts[{32, 0}] = L"Zugriff verweigert: Datei gesperrt (\u00C4nderung)";
    EXPECT_EQ(FindWin32ErrorInOutput("zugriff VERWEIGERT: datei gesperrt (\xC3\x84NDERUNG)", messages.Lookup()), 32u);
    // Only ASCII letters fold: the lower-case umlaut is another character.
    EXPECT_EQ(FindWin32ErrorInOutput("zugriff verweigert: datei gesperrt (\xC3\xA4nderung)", messages.Lookup()), 0u);
}

TEST(FindWin32ErrorInOutput, FindsTheTextsThisSystemGives) {
    const std::string utf8 = SystemMessageLine(32);
    ASSERT_FALSE(utf8.empty()) << "this system has no text for error 32";
    EXPECT_EQ(FindWin32ErrorInOutput("open config: " + utf8), 32u);
    EXPECT_EQ(FindWin32ErrorInOutput("open config: nothing known"), 0u);
}

TEST(MessageSearchText, TrimsConvertsAndLowers) {
    EXPECT_EQ(MessageSearchText(L"Access Denied.\r\n"), "access denied.");
    EXPECT_EQ(MessageSearchText(L"  Leading blanks stay"), "  leading blanks stay");
    EXPECT_EQ(MessageSearchText(L"abcde \r\n"), "");
    EXPECT_EQ(MessageSearchText(L"abcdef"), "abcdef");
    EXPECT_EQ(MessageSearchText(L"\u00E9\u00E9\u00E9"), "\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_EQ(MessageSearchText(L""), "");
    EXPECT_EQ(MessageSearchText(L"\r\n   \r\n"), "");
}

}  // namespace
