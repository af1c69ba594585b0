#include "doubles/stand-in-wininet/stand_in_settings.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

struct NamedText {
    const char* name;
    std::optional<WideString> StandInSettings::* field;
};

constexpr NamedText kTexts[] = {
    {"proxyServer", &StandInSettings::proxyServer},
    {"bypassList", &StandInSettings::bypassList},
    {"autoConfigUrl", &StandInSettings::autoConfigUrl},
};

void ApplyLine(StandInSettings& settings, std::string_view line) {
    const size_t equals = line.find('=');
    const std::string_view name = line.substr(0, equals);
    if (name == "flags" && equals != std::string_view::npos) {
        settings.flags = static_cast<uint32_t>(std::strtoul(ByteString(line.substr(equals + 1)).c_str(), nullptr, 10));
        return;
    }
    if (name == "flagsUi" && equals != std::string_view::npos) {
        settings.flagsUi = static_cast<uint32_t>(std::strtoul(ByteString(line.substr(equals + 1)).c_str(), nullptr, 10));
        return;
    }
    for (const NamedText& text : kTexts) {
        if (name != text.name) continue;
        if (equals == std::string_view::npos) settings.*text.field = std::nullopt;
        else settings.*text.field = UnescapeStandInText(ByteString(line.substr(equals + 1)));
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

ByteString EscapeStandInText(const WideString& text) {
    ByteString escaped;
    for (wchar_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F && unit != L'\\' && unit != L'"') {
            escaped.push_back(static_cast<char>(unit));
            continue;
        }
        char buffer[8];
        std::snprintf(buffer, sizeof(buffer), "\\u%04X", static_cast<unsigned>(unit));
        escaped += buffer;
    }
    return escaped;
}

WideString UnescapeStandInText(const ByteString& text) {
    WideString unescaped;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 5 < text.size() && text[i + 1] == 'u') {
            int value = 0;
            bool valid = true;
            for (size_t j = i + 2; j < i + 6; ++j) {
                const int digit = HexDigit(text[j]);
                valid = valid && digit >= 0;
                value = value * 16 + digit;
            }
            if (valid) {
                unescaped.push_back(static_cast<wchar_t>(value));
                i += 5;
                continue;
            }
        }
        unescaped.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
    }
    return unescaped;
}

ByteString FormatStandInSettings(const StandInSettings& settings) {
    ByteString bytes = "flags=";
    bytes += std::to_string(settings.flags);
    bytes += '\n';
    if (settings.flagsUi) bytes += "flagsUi=" + std::to_string(*settings.flagsUi) + "\n";
    for (const NamedText& text : kTexts) {
        bytes += text.name;
        if (const auto& value = settings.*text.field) {
            bytes += '=';
            bytes += EscapeStandInText(*value);
        }
        bytes += '\n';
    }
    return bytes;
}

StandInSettings ParseStandInSettings(const ByteString& bytes) {
    StandInSettings settings;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == ByteString::npos) end = bytes.size();
        ApplyLine(settings, std::string_view(bytes).substr(start, end - start));
        start = end + 1;
    }
    return settings;
}
