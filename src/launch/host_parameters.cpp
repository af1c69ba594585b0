#include "launch/host_parameters.h"

#include "base/command_line.h"

WideString FormatCreationTime(uint64_t creationTime) { return FormatUnsigned(creationTime); }

WideString BuildHostParameters(const OptionMap& options) {
    WideString parameters = L"--host";
    for (const auto& [name, value] : options.Entries()) {
        parameters += L' ';
        parameters += ReadsBackUnquoted(name) ? name : QuoteArgument(name);
        parameters += L' ';
        parameters += QuoteArgument(value);
    }
    return parameters;
}
