#include "launch/host_parameters.h"

#include "base/quote_argument.h"

WideString FormatCreationTime(uint64_t creationTime) { return std::to_wstring(creationTime); }

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
