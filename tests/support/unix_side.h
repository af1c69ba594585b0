// Under Wine, the Unix side of the machine, for what Windows programs cannot do there: make a
// symbolic link (under Wine, CreateSymbolicLinkW reports success and makes nothing), or change a
// name that a Windows program holds open (Wine's sharing rules bind only Windows programs).
// Wine starts Unix programs but does not follow them: their process handles are signalled at
// once and their exit codes are not kept, so what they did is seen in the files they change.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/helper_process.h"

namespace testing_support {

// The Unix file name of a Windows path; empty when Wine cannot tell.
std::string UnixFileName(const std::wstring& path);

// Runs the script with /bin/sh and waits for it to end.
void RunUnixShell(const std::string& script);

// A symbolic link at `link` pointing to `target`, replacing whatever is at `link`.
void PlantSymbolicLink(const std::wstring& link, const std::wstring& target);

// A Unix process that plants each link (link, target) again and again, as fast as it can,
// until the object goes away. It keeps its files in `folder`.
class LinkReplanter {
public:
    LinkReplanter(const std::vector<std::pair<std::wstring, std::wstring>>& links, const std::wstring& folder);
    LinkReplanter(const LinkReplanter&) = delete;
    LinkReplanter& operator=(const LinkReplanter&) = delete;
    ~LinkReplanter();

    // True once it plants links; still true while it has not been stopped.
    bool IsPlanting() const;

private:
    std::wstring started_, stop_, stopped_;
    std::unique_ptr<ChildProcess> shell_;
};

}  // namespace testing_support
