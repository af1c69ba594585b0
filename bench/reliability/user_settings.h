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
