#include "host/win32_error_in_output.h"

#include "base/win32.h"
#include "host/ascii_case.h"

namespace {

constexpr size_t kMessageBufferUnits = 1024;
constexpr size_t kShortestSearchedMessage = 6;

ByteString ToUtf8(const WideString& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    ByteString converted(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, converted.data(), bytes, nullptr, nullptr);
    return converted;
}

}  // namespace

WideString SystemMessageText(uint32_t code, uint32_t language) {
    wchar_t buffer[kMessageBufferUnits] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        language, buffer, kMessageBufferUnits, nullptr);
    return WideString(buffer, length);
}

ByteString MessageSearchText(const WideString& message) {
    const size_t kept = message.find_last_not_of(L"\r\n ");
    ByteString text = ToUtf8(kept == WideString::npos ? WideString() : message.substr(0, kept + 1));
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
