#include "host/win32_error_in_output.h"

#include "base/system_info.h"
#include "base/text.h"
#include "host/ascii_case.h"

namespace {

constexpr size_t kShortestSearchedMessage = 6;

}  // namespace

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
