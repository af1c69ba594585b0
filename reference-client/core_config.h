#pragma once

#include <string>

// The configuration that the client writes for the core. The client chooses the API port
// and passes the same port to the helper as "--api": the two must agree.
// A template may hold "{api}", which is replaced by the port.
std::string DefaultCoreConfig();
std::string FillCoreConfig(std::string configTemplate, unsigned apiPort);

// Writes the template read from `templatePath` (the default when that is empty), filled in,
// to `configPath`. False, after saying so, when either file cannot be used.
bool WriteCoreConfig(const std::wstring& configPath, const std::wstring& templatePath, unsigned apiPort);
