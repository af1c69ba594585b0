// Ways of writing one path that Windows takes for one file: for the tests that show every
// spelling of one proxy state file sharing one lock.
#pragma once

#include <string>
#include <vector>

namespace proxy_testing {

// `path` (absolute, with "\") as written, in upper and lower case, with "/", with "\\?\", and
// through "." and "..". The first is `path` itself.
std::vector<std::wstring> SpellingsOf(const std::wstring& path);

}  // namespace proxy_testing
