#include "base/number_conversion.h"

#include <limits>
#include <stdexcept>

namespace {

bool IsConversionSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

template <typename Unsigned>
Unsigned ParseUnsigned(const WideString& text) {
    size_t position = 0;
    while (position < text.size() && IsConversionSpace(text[position])) ++position;
    bool negative = false;
    if (position < text.size() && (text[position] == L'+' || text[position] == L'-')) {
        negative = text[position] == L'-';
        ++position;
    }
    const size_t firstDigit = position;
    Unsigned value = 0;
    bool overflow = false;
    constexpr Unsigned maximum = std::numeric_limits<Unsigned>::max();
    for (; position < text.size() && text[position] >= L'0' && text[position] <= L'9'; ++position) {
        const Unsigned digit = static_cast<Unsigned>(text[position] - L'0');
        if (value > (maximum - digit) / 10) overflow = true;
        else value = static_cast<Unsigned>(value * 10 + digit);
    }
    if (position == firstDigit) throw std::invalid_argument("stoul");
    if (overflow) throw std::out_of_range("stoul");
    return negative ? static_cast<Unsigned>(Unsigned{0} - value) : value;
}

}  // namespace

uint32_t ParseUnsigned32(const WideString& text) { return ParseUnsigned<uint32_t>(text); }

uint64_t ParseUnsigned64(const WideString& text) { return ParseUnsigned<uint64_t>(text); }

WideString FormatUnsigned(uint64_t value) {
    WideString digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}
