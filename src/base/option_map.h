#pragma once

#include <map>
#include <vector>

#include "base/text.h"

// Options from the command line: name (with its leading "--", as written) to value,
// ordered by UTF-16 code unit. An absent option reads as empty.
class OptionMap {
public:
    // Returns the value, or an empty one; like any reader, adds an absent name with an empty value.
    const WideString& Get(const WideString& name);
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
