#include "user_settings.h"

#include "support/proxy/path_spellings.h"
#include "support/proxy/stand_in_wininet_control.h"

namespace {

// Units a user's settings can hold: ASCII, Latin, CJK, and now and then a lone surrogate.
wchar_t RandomUnit(Campaign& campaign) {
    switch (campaign.Uniform(0, 9)) {
        case 0: return static_cast<wchar_t>(campaign.Uniform(0x00A0, 0x024F));
        case 1: return static_cast<wchar_t>(campaign.Uniform(0x4E00, 0x9FFF));
        case 2: return campaign.Chance(0.1) ? static_cast<wchar_t>(campaign.Uniform(0xD800, 0xDFFF)) : L'x';
        default: return static_cast<wchar_t>(campaign.Uniform(0x20, 0x7E));
    }
}

WideString RandomText(Campaign& campaign) {
    size_t length = campaign.Uniform(0, 48);
    if (campaign.Chance(0.05)) length = campaign.Uniform(200, 600);
    WideString text(length, L'\0');
    for (wchar_t& unit : text) unit = RandomUnit(campaign);
    return text;
}

}  // namespace

StandInSettings RandomUserSettings(Campaign& campaign) {
    StandInSettings settings;
    settings.flags = static_cast<uint32_t>(campaign.Random()()) & 0x7FFFFFFFu;
    settings.proxyServer = RandomText(campaign);
    settings.bypassList = RandomText(campaign);
    settings.autoConfigUrl = RandomText(campaign);
    return settings;
}

std::string DescribeSettings(const StandInSettings& settings) {
    std::string description = "flags=" + std::to_string(settings.flags);
    const std::pair<const char*, const std::optional<WideString>*> texts[] = {
        {" proxyServer=", &settings.proxyServer},
        {" bypassList=", &settings.bypassList},
        {" autoConfigUrl=", &settings.autoConfigUrl}};
    for (const auto& [name, text] : texts) {
        description += name;
        if (!*text) {
            description += "null";
            continue;
        }
        description += '"';
        description += EscapeStandInText(**text);
        description += '"';
    }
    return description;
}

std::wstring RandomSpelling(Campaign& campaign, const std::wstring& path) {
    const std::vector<std::wstring> spellings = proxy_testing::SpellingsOf(path);
    return spellings[campaign.Uniform(0, static_cast<uint32_t>(spellings.size() - 1))];
}

bool StandInInPlace(Campaign& campaign, const std::string& unrunnable) {
    if (proxy_testing::InstallStandInWinInet()) return true;
    campaign.Note(0, "cannot put the WinINet stand-in into system32");
    campaign.ZeroRow(unrunnable, 1);
    return false;
}
