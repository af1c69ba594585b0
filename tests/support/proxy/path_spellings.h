// Ways of writing one path that Windows takes for one file: for the tests that show every
// spelling of one proxy state file sharing one lock.
#pragma once

#include <string>
#include <vector>

namespace proxy_testing {

// `path` (absolute, with "\") as written, in upper and lower case, with "/", with "\\?\", and
// through "." and "..". The first is `path` itself.
std::vector<std::wstring> SpellingsOf(const std::wstring& path);

// Makes folders inside `parent`, one within the other, until the innermost one's path holds at
// least `units` UTF-16 units, and gives that path: long paths, as deep installations and
// profiles have them. Empty when a folder cannot be made.
std::wstring MakeLongFolder(const std::wstring& parent, size_t units);

}  // namespace proxy_testing
