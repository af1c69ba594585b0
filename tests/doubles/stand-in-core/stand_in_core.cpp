// A stand-in for the core, router\sing-box.exe, for the helper's tests and demo. It is not a proxy:
// it runs a small script from its configuration file (see README.md beside this file).
#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/system_info.h"
#include "base/text.h"
#include "base/win32.h"

#include <sddl.h>  // after <windows.h>

namespace {

constexpr int kUsageExitCode = 2;
constexpr int kConfigurationExitCode = 1;
constexpr DWORD kWaitForPollMilliseconds = 20;
constexpr DWORD kMaxConfigurationBytes = 1 << 20;
constexpr wchar_t kChildArgument[] = L"--stand-in-child";
// What the timed writers write: 200-byte lines, the size of a core's log line for one connection.
constexpr size_t kTimedLineBytes = 200;
constexpr LONGLONG kSlowWriteMicroseconds = 10000;

constexpr char kUsage[] =
    "sing-box.exe (KELDRIX stand-in core)\n"
    "This is a scripted stand-in used by the KELDRIX Network Helper's tests and demo.\n"
    "It is not a proxy and carries no traffic.\n"
    "Usage: sing-box.exe run -c <script file>\n";

void WriteTo(DWORD standardHandle, std::string_view bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(standardHandle), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int length = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring converted(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, converted.data(), units);
    return converted;
}

std::string SystemMessage(DWORD error) {
    const std::string message = SystemMessageLine(error);
    return message.empty() ? "error " + std::to_string(error) : message;
}

[[noreturn]] void Fail(int exitCode, const std::string& message) {
    WriteTo(STD_ERROR_HANDLE, "stand-in core: " + message + "\n");
    ExitProcess(static_cast<UINT>(exitCode));
}

bool ReadWhole(const std::wstring& path, std::string& content, DWORD& error) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    content.assign(kMaxConfigurationBytes, '\0');
    DWORD read = 0;
    const BOOL ok = ReadFile(file, content.data(), kMaxConfigurationBytes, &read, nullptr);
    error = GetLastError();
    CloseHandle(file);
    content.resize(read);
    return ok;
}

// Written next to the target and moved over it, so a reader never sees half a file.
void WriteWhole(const std::wstring& path, const std::string& content) {
    const std::wstring temporary = path + L".stand-in.tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail(kConfigurationExitCode, "cannot write " + ToUtf8(path));
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Fail(kConfigurationExitCode, "cannot write " + ToUtf8(path));
    }
}

unsigned long ToNumber(std::string_view text, size_t lineNumber) {
    const std::string complaint =
        "line " + std::to_string(lineNumber) + ": a number up to 4294967295 is expected, not \"" + std::string(text) + "\"";
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) Fail(kUsageExitCode, complaint);
    try {
        return std::stoul(std::string(text));
    } catch (const std::out_of_range&) {
        Fail(kUsageExitCode, complaint);
    }
}

// Splits "word rest" at the first blank; the rest keeps its inner blanks.
std::pair<std::string_view, std::string_view> SplitFirstWord(std::string_view text) {
    const size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return {text, {}};
    return {text.substr(0, blank), text.substr(blank + 1)};
}

class StandInCore {
public:
    explicit StandInCore(std::wstring scriptPath) : scriptPath_(std::move(scriptPath)) {}

    [[noreturn]] void Run() {
        std::string script;
        DWORD error = 0;
        if (!ReadWhole(scriptPath_, script, error)) {
            Fail(kConfigurationExitCode, "cannot read configuration " + ToUtf8(scriptPath_) + ": " + SystemMessage(error));
        }
        size_t lineNumber = 0;
        size_t start = 0;
        while (start < script.size()) {
            size_t end = script.find('\n', start);
            if (end == std::string::npos) end = script.size();
            std::string_view line(script.data() + start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            RunLine(line, ++lineNumber);
            start = end + 1;
        }
        RunUntilKilled();
    }

private:
    void RunLine(std::string_view line, size_t lineNumber) {
        if (line.empty() || line.front() == '#') return;
        const auto [directive, argument] = SplitFirstWord(line);
        if (directive == "stdout") return WriteLines(STD_OUTPUT_HANDLE, 1, argument);
        if (directive == "stderr") return WriteLines(STD_ERROR_HANDLE, 1, argument);
        if (directive == "stdout-repeat" || directive == "stderr-repeat") {
            const auto [count, text] = SplitFirstWord(argument);
            const DWORD handle = directive == "stdout-repeat" ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
            return WriteLines(handle, ToNumber(count, lineNumber), text);
        }
        if (directive == "flood") Flood(argument);
        if (directive == "write-flat-out") {
            const auto [milliseconds, path] = SplitFirstWord(argument);
            return WriteTimed(0, ToNumber(milliseconds, lineNumber), Wide(path));
        }
        if (directive == "write-paced") {
            const auto [rate, rest] = SplitFirstWord(argument);
            const auto [milliseconds, path] = SplitFirstWord(rest);
            return WriteTimed(ToNumber(rate, lineNumber), ToNumber(milliseconds, lineNumber), Wide(path));
        }
        if (directive == "sleep") return Sleep(ToNumber(argument, lineNumber));
        if (directive == "listen") return Listen(ToNumber(argument, lineNumber), lineNumber);
        if (directive == "record") return Record(Wide(argument));
        if (directive == "child") return StartChild(Wide(argument));
        if (directive == "wait-for") return WaitFor(Wide(argument));
        if (directive == "timestamp") return Timestamp(Wide(argument));
        if (directive == "exit") ExitProcess(static_cast<UINT>(ToNumber(argument, lineNumber)));
        if (directive == "crash") Crash();
        if (directive == "lock-token") return LockToken();
        if (directive == "record-files") return RecordFiles(Wide(argument));
        Fail(kUsageExitCode, "line " + std::to_string(lineNumber) + ": unknown directive \"" + std::string(directive) +
                                 "\"");
    }

    static void WriteLines(DWORD handle, unsigned long count, std::string_view text) {
        const std::string line = std::string(text) + "\n";
        std::string batch;
        for (unsigned long i = 0; i < count; ++i) {
            batch += line;
            if (batch.size() >= 65536) {
                WriteTo(handle, batch);
                batch.clear();
            }
        }
        if (!batch.empty()) WriteTo(handle, batch);
    }

    // Ends the way a crashed program ends where no debugger is set up: with the exception's
    // code as its exit code. Wine would otherwise start its debugger on the unhandled exception.
    static LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* exception) {
        TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
        return EXCEPTION_CONTINUE_SEARCH;
    }

    [[noreturn]] static void Crash() {
        SetUnhandledExceptionFilter(EndWithExceptionCode);
        RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
        ExitProcess(EXCEPTION_ACCESS_VIOLATION);
    }

    [[noreturn]] static void Flood(std::string_view text) {
        const std::string line = std::string(text) + "\n";
        for (;;) WriteTo(STD_OUTPUT_HANDLE, line);
    }

    static LONGLONG Microseconds(LONGLONG ticks) {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return ticks * 1000000 / frequency.QuadPart;
    }

    static LONGLONG Now() {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        return now.QuadPart;
    }

    // Writes 200-byte lines to standard output for `milliseconds`, each line one write, as fast
    // as they go (rate 0) or at `rate` bytes a second: whatever is due, then a 1 ms sleep. Then
    // records how much it wrote and how long its writes took.
    static void WriteTimed(unsigned long rate, unsigned long milliseconds, const std::wstring& path) {
        const std::string line = std::string(kTimedLineBytes - 1, 'x') + "\n";
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        const LONGLONG start = Now();
        const LONGLONG durationMicroseconds = static_cast<LONGLONG>(milliseconds) * 1000;
        uint64_t bytes = 0, writes = 0, slowWrites = 0;
        LONGLONG longest = 0, elapsed = 0;
        while ((elapsed = Microseconds(Now() - start)) < durationMicroseconds) {
            if (rate != 0 && bytes >= static_cast<uint64_t>(elapsed) * rate / 1000000) {
                Sleep(1);
                continue;
            }
            const LONGLONG before = Now();
            DWORD written = 0;
            if (!WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) break;
            const LONGLONG took = Microseconds(Now() - before);
            longest = std::max(longest, took);
            if (took > kSlowWriteMicroseconds) ++slowWrites;
            bytes += written;
            ++writes;
        }
        WriteWhole(path, "bytes: " + std::to_string(bytes) + "\nwrites: " + std::to_string(writes) +
                             "\nmicroseconds: " + std::to_string(Microseconds(Now() - start)) +
                             "\nlongest-write-microseconds: " + std::to_string(longest) +
                             "\nwrites-over-10-ms: " + std::to_string(slowWrites) + "\n");
    }

    void Listen(unsigned long port, size_t lineNumber) {
        WSADATA winsock{};
        WSAStartup(MAKEWORD(2, 2), &winsock);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (listener_ == INVALID_SOCKET ||
            bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(listener_, SOMAXCONN) != 0) {
            Fail(kConfigurationExitCode, "line " + std::to_string(lineNumber) + ": cannot listen on 127.0.0.1:" +
                                             std::to_string(port) + ": " + SystemMessage(WSAGetLastError()));
        }
    }

    static void Record(const std::wstring& path) {
        std::string record = "command-line: " + ToUtf8(GetCommandLineW()) + "\n";
        int count = 0;
        wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
        for (int i = 1; arguments != nullptr && i < count; ++i) record += "argument: " + ToUtf8(arguments[i]) + "\n";
        LocalFree(arguments);
        wchar_t directory[MAX_PATH * 4] = {};
        GetCurrentDirectoryW(MAX_PATH * 4, directory);
        record += "working-directory: " + ToUtf8(directory) + "\n";
        record += "process-id: " + std::to_string(GetCurrentProcessId()) + "\n";
        WriteWhole(path, record);
    }

    // The handle values a process can hold are small multiples of 4; those that hold a file name it.
    static void RecordFiles(const std::wstring& path) {
        constexpr uintptr_t kLastHandleValue = 0x4000;
        std::string record;
        for (uintptr_t value = 4; value <= kLastHandleValue; value += 4) {
            wchar_t name[MAX_PATH * 4] = {};
            const DWORD length = GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(value), name, MAX_PATH * 4, 0);
            if (length > 0 && length < MAX_PATH * 4) record += "file: " + ToUtf8(name) + "\n";
        }
        WriteWhole(path, record);
    }

    static void LockToken() {
        HANDLE token = nullptr;
        PSECURITY_DESCRIPTOR nobody = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), WRITE_DAC, &token) ||
            !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &nobody, nullptr) ||
            !SetKernelObjectSecurity(token, DACL_SECURITY_INFORMATION, nobody)) {
            Fail(kConfigurationExitCode, "cannot lock its token: " + SystemMessage(GetLastError()));
        }
        LocalFree(nobody);
        CloseHandle(token);
    }

    static void StartChild(const std::wstring& processIdPath) {
        wchar_t self[MAX_PATH * 4] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
        std::wstring commandLine = std::wstring(L"\"") + self + L"\" " + kChildArgument;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION child{};
        if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &child)) {
            Fail(kConfigurationExitCode, "cannot start a child: " + SystemMessage(GetLastError()));
        }
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        WriteWhole(processIdPath, std::to_string(child.dwProcessId));
    }

    static void WaitFor(const std::wstring& path) {
        while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(kWaitForPollMilliseconds);
    }

    static void Timestamp(const std::wstring& path) {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        WriteWhole(path, std::to_string(now.QuadPart));
    }

    // A listening core takes connections and drops them; any other just waits.
    [[noreturn]] void RunUntilKilled() {
        for (;;) {
            if (listener_ == INVALID_SOCKET) {
                Sleep(INFINITE);
                continue;
            }
            const SOCKET connection = accept(listener_, nullptr, nullptr);
            if (connection == INVALID_SOCKET) Sleep(kWaitForPollMilliseconds);
            else closesocket(connection);
        }
    }

    std::wstring scriptPath_;
    SOCKET listener_ = INVALID_SOCKET;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], kChildArgument) == 0) {
        Sleep(INFINITE);
        return 0;
    }
    if (argc != 4 || std::wcscmp(argv[1], L"run") != 0 || std::wcscmp(argv[2], L"-c") != 0) {
        WriteTo(STD_ERROR_HANDLE, kUsage);
        return kUsageExitCode;
    }
    StandInCore(argv[3]).Run();
}
