#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "base/unique_resource.h"
#include "base/win32.h"

// The last bytes the core wrote to its standard output and standard error (one pipe,
// interleaved), stored as written. Older bytes drop off the front.
class CoreOutputTail {
public:
    static constexpr size_t kCapacity = 8192;

    CoreOutputTail() { bytes_.reserve(kCapacity); }
    // Never holds more than kCapacity bytes, not even for a moment, so never grows its storage.
    void Append(std::string_view bytes);
    const ByteString& Bytes() const { return bytes_; }

private:
    ByteString bytes_;
};

// The most one DrainPipe takes: far more than a core logs between two polls.
inline constexpr size_t kDrainBudgetBytes = 1 << 20;

// Moves whatever the pipe holds right now into the tail, never waiting for more:
// only bytes the pipe reports as available are read, and at most kDrainBudgetBytes.
void DrainPipe(HANDLE pipe, CoreOutputTail& tail);

// Takes the core's output into the tail as it is written, on a thread of its own that waits on
// the pipe, so that no write of the core waits for the host's next cycle. Beside the tail it
// holds a read buffer of kReadBufferBytes (a full pipe in one read, for a reader that fell
// behind) and the thread's stack of kReaderStackBytes at most. Where the thread could not start,
// or has ended (the pipe is broken), Drain takes the output as the cycle did before: DrainPipe.
// The thread is ended and joined by StopReading (and StopAndTakeRest), or else by the destructor,
// when the host leaves by an exception; the pipe must stay open until then.
class CoreOutputReader {
public:
    static constexpr DWORD kReadBufferBytes = 64 * 1024;
    static constexpr size_t kReaderStackBytes = 64 * 1024;

    explicit CoreOutputReader(HANDLE pipe);
    CoreOutputReader(const CoreOutputReader&) = delete;
    CoreOutputReader& operator=(const CoreOutputReader&) = delete;
    ~CoreOutputReader();

    // Whether a thread of its own is reading the pipe right now.
    bool IsReading();
    // Once per cycle: nothing while the thread reads, DrainPipe otherwise.
    void Drain();
    // Ends the thread and joins it; the tail keeps what it took. Does nothing a second time.
    void StopReading();
    // Ends the thread, then takes what the pipe still holds without waiting for more: everything
    // the core wrote before it ended is in the tail.
    const CoreOutputTail& StopAndTakeRest();

private:
    static DWORD WINAPI ReadUntilStopped(void* reader);

    HANDLE pipe_;
    std::vector<char> readBuffer_;
    CoreOutputTail tail_;
    std::atomic<bool> stopping_{false};
    UniqueHandleNull thread_;
};

// The error code for a core that ended: the code of the first rule (in the fixed rule
// order, not by position in the text) whose phrase occurs in the output, letter case
// ignored; "CORE_ERROR" when none does. Takes its own copy, which it lower-cases.
std::string_view ClassifyCoreOutput(ByteString output);

// Win32 errors whose system message texts are looked for in a failed core's output,
// in the order they are tried.
inline constexpr std::array<uint32_t, 30> kKnownWin32Errors = {
    2,    5,    13,   31,   32,   50,   87,   116,  122,   126,   183,   232,   259,   487,   534,
    995,  1006, 1168, 1222, 1231, 1275, 1300, 1314, 4319, 5010, 10013, 10022, 10049, 10050, 10051,
};

// Message languages tried for each code: the system's default search, then US English.
inline constexpr std::array<uint32_t, 2> kMessageLanguages = {0, 1033};

// The system message text of `code` in `language`; empty when there is none.
using SystemMessageLookup = std::function<WideString(uint32_t code, uint32_t language)>;

// What a message is searched as: trailing CR, LF and blanks dropped, UTF-8, lower-cased.
// Empty when that leaves 5 bytes or fewer, too short to tell anything apart.
ByteString MessageSearchText(const WideString& message);

// The first code of kKnownWin32Errors (table order, then language order) whose message
// occurs in the output, letter case ignored; 0 when none does.
uint32_t FindWin32ErrorInOutput(const ByteString& output, const SystemMessageLookup& lookup);
uint32_t FindWin32ErrorInOutput(const ByteString& output);
