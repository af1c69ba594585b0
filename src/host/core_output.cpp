#include "host/core_output.h"

#include <algorithm>
#include <array>

#include "base/system_info.h"

namespace {

struct ClassificationRule {
    std::string_view phrase;
    std::string_view code;
};

// Order matters: the first rule that matches decides.
constexpr std::array<ClassificationRule, 16> kRules = {{
    {"set ipv4 address", "TUN_IPV4_ADDRESS_ERROR"},
    {"set ipv6 address", "TUN_IPV6_ADDRESS_ERROR"},
    {"set ipv4 options", "TUN_IPV4_OPTIONS_ERROR"},
    {"set ipv6 options", "TUN_IPV6_OPTIONS_ERROR"},
    {"starting tun stack", "TUN_STACK_ERROR"},
    {"starting tun interface", "TUN_INTERFACE_ERROR"},
    {"no such network interface", "NETWORK_INTERFACE_ERROR"},
    {"access is denied", "ACCESS_DENIED"},
    {"permission denied", "ACCESS_DENIED"},
    {"wintun", "TUN_DRIVER_ERROR"},
    {"driver", "TUN_DRIVER_ERROR"},
    {"create adapter", "TUN_DRIVER_ERROR"},
    {"bind", "ADDRESS_IN_USE"},
    {"dns", "DNS_CONFIG_ERROR"},
    {"route", "ROUTE_ERROR"},
    {"configure tun interface", "TUN_CONFIG_ERROR"},
}};

constexpr size_t kShortestSearchedMessage = 6;
constexpr DWORD kDrainBufferBytes = 4096;
constexpr DWORD kStopRetryMilliseconds = 10;

// Folds A to Z to a to z and leaves every other byte alone, UTF-8 sequences included.
void LowerAsciiInPlace(ByteString& text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}

}  // namespace

void CoreOutputTail::Append(std::string_view bytes) {
    if (bytes.size() >= kCapacity) {
        bytes_.assign(bytes.substr(bytes.size() - kCapacity));
        return;
    }
    if (bytes_.size() + bytes.size() > kCapacity) bytes_.erase(0, bytes_.size() + bytes.size() - kCapacity);
    bytes_.append(bytes);
}

void DrainPipe(HANDLE pipe, CoreOutputTail& tail) {
    std::array<char, kDrainBufferBytes> buffer;
    // A core that writes as fast as we read would otherwise keep the host here for good,
    // and it would never again look at the stop marker, the client or the core.
    size_t budget = kDrainBudgetBytes;
    while (budget > 0) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>({available, buffer.size(), budget}));
        DWORD read = 0;
        if (!ReadFile(pipe, buffer.data(), wanted, &read, nullptr) || read == 0) return;
        tail.Append(std::string_view(buffer.data(), read));
        budget -= read;
    }
}

CoreOutputReader::CoreOutputReader(HANDLE pipe) : pipe_(pipe), readBuffer_(kReadBufferBytes) {
    thread_.Reset(CreateThread(nullptr, kReaderStackBytes, ReadUntilStopped, this, STACK_SIZE_PARAM_IS_A_RESERVATION,
                               nullptr));
}

CoreOutputReader::~CoreOutputReader() { StopReading(); }

DWORD WINAPI CoreOutputReader::ReadUntilStopped(void* reader) {
    CoreOutputReader& self = *static_cast<CoreOutputReader*>(reader);
    char* const buffer = self.readBuffer_.data();
    DWORD read = 0;
    // Waits for the core's next write. A broken pipe (every writer gone) or a cancelled read ends it;
    // a read of no bytes is a write of no bytes, and the next one follows.
    while (!self.stopping_ && ReadFile(self.pipe_, buffer, kReadBufferBytes, &read, nullptr)) {
        self.tail_.Append(std::string_view(buffer, read));
    }
    return 0;
}

// Only a thread seen to have ended has ended: one whose wait failed may still be appending to the
// tail, and the tail and the pipe must outlive it.
bool CoreOutputReader::IsReading() {
    if (!thread_ || WaitForSingleObject(thread_.Get(), 0) != WAIT_OBJECT_0) return thread_.IsValid();
    thread_.Reset();
    return false;
}

void CoreOutputReader::Drain() {
    if (!IsReading()) DrainPipe(pipe_, tail_);
}

// The cancel is repeated for a thread that had checked stopping_ just before it was set and then
// began its next read after the cancel found none.
void CoreOutputReader::StopReading() {
    stopping_ = true;
    while (IsReading()) {
        CancelSynchronousIo(thread_.Get());
        WaitForSingleObject(thread_.Get(), kStopRetryMilliseconds);
    }
}

const CoreOutputTail& CoreOutputReader::StopAndTakeRest() {
    StopReading();
    DrainPipe(pipe_, tail_);
    return tail_;
}

std::string_view ClassifyCoreOutput(ByteString output) {
    LowerAsciiInPlace(output);
    for (const ClassificationRule& rule : kRules) {
        if (output.find(rule.phrase) != ByteString::npos) return rule.code;
    }
    return "CORE_ERROR";
}

ByteString MessageSearchText(const WideString& message) {
    ByteString text = ToUtf8(WithoutTrailingLineEnd(message));
    if (text.size() < kShortestSearchedMessage) return {};
    LowerAsciiInPlace(text);
    return text;
}

uint32_t FindWin32ErrorInOutput(const ByteString& output, const SystemMessageLookup& lookup) {
    ByteString lowered = output;
    LowerAsciiInPlace(lowered);
    for (uint32_t code : kKnownWin32Errors) {
        for (uint32_t language : kMessageLanguages) {
            const ByteString searched = MessageSearchText(lookup(code, language));
            if (!searched.empty() && lowered.find(searched) != ByteString::npos) return code;
        }
    }
    return 0;
}

uint32_t FindWin32ErrorInOutput(const ByteString& output) { return FindWin32ErrorInOutput(output, SystemMessageText); }
