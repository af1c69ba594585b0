#include "support/unix_side.h"

#include "base/win32.h"
#include "support/file_watch.h"
#include "support/temp_directory.h"

namespace testing_support {

namespace {

// Wine's own exports, looked up at run time: they exist only under Wine.
using UnixFileNameFunction = char* __cdecl(const wchar_t*);
using DosFileNameFunction = wchar_t* __cdecl(const char*);

template <typename Function>
Function* WineFunction(const char* name) {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name)));
}

std::wstring Shell() {
    auto* dosFileName = WineFunction<DosFileNameFunction>("wine_get_dos_file_name");
    wchar_t* name = dosFileName != nullptr ? dosFileName("/bin/sh") : nullptr;
    if (name == nullptr) return L"/bin/sh";
    std::wstring shell = name;
    HeapFree(GetProcessHeap(), 0, name);
    return shell;
}

std::wstring Widen(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                          static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<size_t>(units) : 0);
    return wide;
}

// One word for /bin/sh, whatever it holds.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted.append("'\\''");
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

std::string LinkCommand(const std::wstring& link, const std::wstring& target) {
    return "ln -sfn " + ShellQuoted(UnixFileName(target)) + " " + ShellQuoted(UnixFileName(link));
}

}  // namespace

std::string UnixFileName(const std::wstring& path) {
    auto* unixFileName = WineFunction<UnixFileNameFunction>("wine_get_unix_file_name");
    char* name = unixFileName != nullptr ? unixFileName(path.c_str()) : nullptr;
    if (name == nullptr) return {};
    std::string unixName = name;
    HeapFree(GetProcessHeap(), 0, name);
    return unixName;
}

void RunUnixShell(const std::string& script) {
    const TemporaryDirectory markers;
    const std::wstring finished = markers / L"finished";
    std::string command = "exec </dev/null >/dev/null 2>&1; ";
    command += script;
    command += "; : > ";
    command += ShellQuoted(UnixFileName(finished));
    ChildProcess shell(Shell(), {L"-c", Widen(command)});
    WaitUntil([&] { return PathExists(finished); }, 30000);
}

void PlantSymbolicLink(const std::wstring& link, const std::wstring& target) {
    RunUnixShell(LinkCommand(link, target));
}

LinkReplanter::LinkReplanter(const std::vector<std::pair<std::wstring, std::wstring>>& links,
                             const std::wstring& folder)
    : started_(folder + L"\\planting"), stop_(folder + L"\\stop planting"), stopped_(folder + L"\\stopped") {
    // Its output must not hold the test's own open: Unix programs inherit it whatever Windows says.
    std::string loop = "exec </dev/null >/dev/null 2>&1; : > ";
    loop += ShellQuoted(UnixFileName(started_));
    loop += "; while [ ! -e ";
    loop += ShellQuoted(UnixFileName(stop_));
    loop += " ]; do";
    for (const auto& [link, target] : links) {
        loop += ' ';
        loop += LinkCommand(link, target);
        loop += ';';
    }
    loop += " done; : > ";
    loop += ShellQuoted(UnixFileName(stopped_));
    shell_ = std::make_unique<ChildProcess>(Shell(), std::vector<std::wstring>{L"-c", Widen(loop)});
    WaitUntil([&] { return PathExists(started_); }, 10000);
}

bool LinkReplanter::IsPlanting() const { return PathExists(started_) && !PathExists(stopped_); }

LinkReplanter::~LinkReplanter() {
    WriteFileBytes(stop_, "");
    WaitUntil([&] { return PathExists(stopped_); }, 10000);
}

}  // namespace testing_support
