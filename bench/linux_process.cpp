#include "linux_process.h"

#include <algorithm>

#include "base/win32.h"

namespace {

std::string ReadSmallFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (content.size() < 65536 && ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    CloseHandle(file);
    return content;
}

// Fields after the name start at field 3 (state); utime and stime are fields 14 and 15.
long long CpuTicksFromStat(const std::string& stat) {
    const size_t afterName = stat.rfind(')');
    if (afterName == std::string::npos) return -1;
    std::vector<std::string> fields;
    size_t at = afterName + 2;
    while (at < stat.size() && fields.size() < 13) {
        const size_t end = stat.find(' ', at);
        fields.push_back(stat.substr(at, end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (fields.size() != 13) return -1;
    return std::stoll(fields[11]) + std::stoll(fields[12]);
}

long long ResidentKiBFromStatus(const std::string& status) {
    const size_t label = status.find("VmRSS:");
    if (label == std::string::npos) return -1;
    return std::stoll(status.substr(label + 6));
}

}  // namespace

LinuxProcessFigures ReadLinuxProcessFigures(const std::vector<std::string>& commandLineParts) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    LinuxProcessFigures figures;
    do {
        const std::wstring name = found.cFileName;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        const std::wstring folder = L"Z:\\proc\\" + name;
        const std::string commandLine = ReadSmallFile(folder + L"\\cmdline");
        if (!std::all_of(commandLineParts.begin(), commandLineParts.end(),
                         [&](const std::string& part) { return commandLine.find(part) != std::string::npos; })) {
            continue;
        }
        figures.cpuTicks = CpuTicksFromStat(ReadSmallFile(folder + L"\\stat"));
        figures.residentKiB = ResidentKiBFromStatus(ReadSmallFile(folder + L"\\status"));
        break;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return figures;
}
