#include "base/command_line.h"

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

const WideString& OptionMap::Get(const WideString& name) const {
    static const WideString absent;
    const auto found = entries_.find(name);
    return found == entries_.end() ? absent : found->second;
}

void OptionMap::Set(const WideString& name, const WideString& value) { entries_[name] = value; }

ParsedCommandLine ParseArguments(const std::vector<WideString>& argumentsAfterProgram) {
    ParsedCommandLine parsed;
    if (argumentsAfterProgram.empty()) return parsed;
    parsed.verb = argumentsAfterProgram[0];
    for (size_t i = 1; i + 1 < argumentsAfterProgram.size(); i += 2) {
        parsed.options.Set(argumentsAfterProgram[i], argumentsAfterProgram[i + 1]);
    }
    return parsed;
}

bool ReadsBackUnquoted(const WideString& text) {
    return !text.empty() && text.find_first_of(L" \t\"") == WideString::npos;
}

WideString QuoteArgument(const WideString& value) {
    WideString quoted = L"\"";
    size_t pendingBackslashes = 0;
    for (const wchar_t unit : value) {
        if (unit == L'\\') {
            ++pendingBackslashes;
            continue;
        }
        // Backslashes matter only before a quote: there each one is doubled and the quote escaped.
        const size_t backslashes = unit == L'"' ? 2 * pendingBackslashes + 1 : pendingBackslashes;
        quoted.append(backslashes, L'\\');
        quoted.push_back(unit);
        pendingBackslashes = 0;
    }
    // The closing quote follows, so trailing backslashes are doubled too.
    quoted.append(2 * pendingBackslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}
