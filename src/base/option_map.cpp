#include "base/option_map.h"

const WideString& OptionMap::Get(const WideString& name) { return entries_[name]; }

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
