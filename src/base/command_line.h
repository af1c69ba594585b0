#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "base/text.h"

// No verb, a missing or empty option, an unrecognised verb, a value that does not convert,
// or any failure the top-level handler catches.
inline constexpr uint32_t kUsageExitCode = 2;

// Options from the command line: name (with its leading "--", as written) to value,
// ordered by UTF-16 code unit. An absent option reads as empty.
class OptionMap {
public:
    // The value, or an empty one for an absent name; looking changes nothing.
    const WideString& Get(const WideString& name) const;
    void Set(const WideString& name, const WideString& value);
    const std::map<WideString, WideString>& Entries() const { return entries_; }

private:
    std::map<WideString, WideString> entries_;
};

// The command line split into the verb and its options.
struct ParsedCommandLine {
    WideString verb;
    OptionMap options;
};

// Takes the arguments after the program name: the first is the verb, the rest are
// name/value pairs; a trailing unpaired argument is ignored and a later pair wins.
ParsedCommandLine ParseArguments(const std::vector<WideString>& argumentsAfterProgram);

// Decimal conversion with the rules of wcstoul/wcstoull in base 10: leading white space
// skipped, one optional sign (a minus negates modulo 2^N), digits up to the first other
// character. No digit at all throws std::invalid_argument; a value beyond the type's
// range throws std::out_of_range. Both carry the name "stoul".
uint32_t ParseUnsigned32(const WideString& text);
uint64_t ParseUnsigned64(const WideString& text);

// Quotes one value so that CommandLineToArgvW reads it back unchanged.
// Every value is quoted, even one without blanks; empty becomes "".
WideString QuoteArgument(const WideString& value);

// True when the text comes back as one argument without quotes: not empty, and holding
// no blank, tab or quote.
bool ReadsBackUnquoted(const WideString& text);
