#include "core_config.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

bool ReadTemplate(const std::wstring& templatePath, std::string& configTemplate) {
    if (templatePath.empty()) {
        configTemplate = DefaultCoreConfig();
        return true;
    }
    std::ifstream source(std::filesystem::path(templatePath), std::ios::binary);
    if (!source) return false;
    std::stringstream content;
    content << source.rdbuf();
    configTemplate = content.str();
    return true;
}

}  // namespace

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

bool WriteCoreConfig(const std::wstring& configPath, const std::wstring& templatePath, unsigned apiPort) {
    std::string configTemplate;
    if (ReadTemplate(templatePath, configTemplate)) {
        std::ofstream config(std::filesystem::path(configPath), std::ios::binary | std::ios::trunc);
        config << FillCoreConfig(configTemplate, apiPort);
        if (config) return true;
    }
    std::printf("[client] cannot write the core configuration\n");
    return false;
}
