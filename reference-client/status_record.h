#pragma once

#include <cstdint>
#include <string>

// What a client needs from one status record of the state file.
struct StatusRecord {
    std::string stage;
    std::string code;  // empty unless failed
    uint32_t win32 = 0;
    uint32_t exitCode = 0;
    bool failed = false;
    bool ready = false;  // "started" and "interfaceReady" both true
};

// Reads a record as the helper writes it: one flat JSON object whose texts need no
// unescaping. Returns false for anything else (an empty or foreign file).
bool ParseStatusRecord(const std::string& json, StatusRecord& record);

// A plain-language explanation of a failure code, for people reading the client's output.
std::string ExplainCode(const std::string& code);
