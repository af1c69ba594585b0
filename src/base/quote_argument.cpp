#include "base/quote_argument.h"

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
