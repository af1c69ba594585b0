#pragma once

#include "campaign.h"
#include "doubles/stand-in-wininet/stand_in_settings.h"

// A user's own proxy settings, different each time: any flag bits but bit 31 (which no
// WinINet flag uses), and texts of any length up to a few hundred units, empty ones, non-ASCII
// ones. None is null, so that settings put back compare exactly (the helper writes an unset
// text back as an empty one, as documented).
StandInSettings RandomUserSettings(Campaign& campaign);

// The four options as one line, for a note about a faulty item.
std::string DescribeSettings(const StandInSettings& settings);

// One of the ways of writing a proxy state file's path (proxy_testing::SpellingsOf), at random.
std::wstring RandomSpelling(Campaign& campaign, const std::wstring& path);

// Puts the WinINet stand-in in place; when it cannot, notes it and fails the campaign on the
// row `unrunnable` names.
bool StandInInPlace(Campaign& campaign, const std::string& unrunnable);
