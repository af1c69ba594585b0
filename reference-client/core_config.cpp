#include "core_config.h"

std::string DefaultCoreConfig() { return "listen {api}\n"; }

std::string FillCoreConfig(std::string configTemplate, unsigned apiPort) {
    const std::string placeholder = "{api}";
    const std::string port = std::to_string(apiPort);
    for (size_t at = configTemplate.find(placeholder); at != std::string::npos;
         at = configTemplate.find(placeholder, at + port.size())) {
        configTemplate.replace(at, placeholder.size(), port);
    }
    return configTemplate;
}
