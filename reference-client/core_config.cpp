#include "core_config.h"

// A configuration for the stand-in core (tests/doubles/stand-in-core): listen on the API port at
// once and run until the host ends it. The real core's configuration is the client's own.
std::string DefaultCoreConfig() {
    return "# written by the KELDRIX reference client\n"
           "stdout stand-in core: starting\n"
           "listen {api}\n"
           "stdout stand-in core: API listening on 127.0.0.1:{api}\n";
}

std::string FillCoreConfig(std::string configTemplate, unsigned apiPort) {
    const std::string placeholder = "{api}";
    const std::string port = std::to_string(apiPort);
    for (size_t at = configTemplate.find(placeholder); at != std::string::npos;
         at = configTemplate.find(placeholder, at + port.size())) {
        configTemplate.replace(at, placeholder.size(), port);
    }
    return configTemplate;
}
