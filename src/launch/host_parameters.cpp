#include "launch/host_parameters.h"

#include "base/number_conversion.h"
#include "base/quote_argument.h"

namespace {

bool SurvivesUnquoted(const WideString& name) {
    return !name.empty() && name.find_first_of(L" \t\"") == WideString::npos;
}

}  // namespace

WideString FormatCreationTime(uint64_t creationTime) { return FormatUnsigned(creationTime); }

WideString BuildHostParameters(const OptionMap& options) {
    WideString parameters = L"--host";
    for (const auto& [name, value] : options.Entries()) {
        parameters += L' ';
        parameters += SurvivesUnquoted(name) ? name : QuoteArgument(name);
        parameters += L' ';
        parameters += QuoteArgument(value);
    }
    return parameters;
}
