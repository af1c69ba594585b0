#include "base/text.h"

#include "base/win32.h"

ByteString ToUtf8(const WideString& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    ByteString converted(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, converted.data(), bytes, nullptr, nullptr);
    return converted;
}

WideString FormatUnsigned(uint64_t value) {
    WideString digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}
