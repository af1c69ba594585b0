// For checks on Windows of what Wine cannot show: whether the elevated host refuses a client whose
// token is restricted, of Low integrity or an AppContainer's. It starts an idle copy of itself
// with such a token to be the client, runs the helper's --launch naming that copy as --parent,
// and reports what the host recorded. "ordinary" starts the copy unchanged, for comparison.
//
//   keldrix-client-token-check.exe <ordinary|restricted|low|appcontainer> <helper> <work folder>
//                                  [adapter name]
//
// Exit code 0 when the host did what it must: reach "ready" for the ordinary client, refuse every
// other one as "parent-check" / "PARENT_GONE" / 5 without starting the core; 1 otherwise; 2 usage.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/process.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "base/win32.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/loopback_port.h"
#include "support/temp_directory.h"

#include <sddl.h>  // after <windows.h>

namespace {

constexpr wchar_t kIdleArgument[] = L"--idle-client";
constexpr DWORD kIdleMilliseconds = 5 * 60 * 1000;
constexpr uint32_t kOutcomeWithinMilliseconds = 45000;
constexpr uint32_t kDoneWithinMilliseconds = 10000;

void FailWith(const char* what) {
    std::printf("%s: Windows error %lu\n", what, GetLastError());
    std::exit(1);
}

UniqueHandleNull OwnToken() {
    UniqueHandleNull token;
    const DWORD access = TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT;
    if (!OpenProcessToken(GetCurrentProcess(), access, token.Put())) FailWith("OpenProcessToken");
    return token;
}

// The own token with restricting SIDs: every access check must also pass for one of them. The
// user, the logon session (its desktop) and the usual groups let the idle client start at all.
UniqueHandleNull RestrictedToken(HANDLE own) {
    const std::vector<unsigned char> user = TokenInformation(own, TokenUser);
    const std::vector<unsigned char> groups = TokenInformation(own, TokenGroups);
    if (user.empty() || groups.empty()) FailWith("GetTokenInformation");
    std::vector<SID_AND_ATTRIBUTES> restricting = {{reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, 0}};
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
    std::vector<UniqueLocalMemory> wellKnown;
    for (const wchar_t* sid : {L"S-1-1-0", L"S-1-5-32-545", L"S-1-5-11", L"S-1-5-4"}) {
        UniqueLocalMemory converted;
        if (!ConvertStringSidToSidW(sid, reinterpret_cast<PSID*>(converted.Put()))) FailWith("ConvertStringSidToSidW");
        restricting.push_back({static_cast<PSID>(converted.Get()), 0});
        wellKnown.push_back(std::move(converted));
    }
    for (DWORD i = 0; i < list->GroupCount; ++i) {
        if ((list->Groups[i].Attributes & SE_GROUP_LOGON_ID) != 0) restricting.push_back({list->Groups[i].Sid, 0});
    }
    UniqueHandleNull restricted;
    if (!CreateRestrictedToken(own, 0, 0, nullptr, 0, nullptr, static_cast<DWORD>(restricting.size()),
                               restricting.data(), restricted.Put())) {
        FailWith("CreateRestrictedToken");
    }
    return restricted;
}

UniqueHandleNull LowIntegrityToken(HANDLE own) {
    UniqueHandleNull low;
    if (!DuplicateTokenEx(own, 0, nullptr, SecurityImpersonation, TokenPrimary, low.Put())) FailWith("DuplicateTokenEx");
    UniqueLocalMemory sid;
    if (!ConvertStringSidToSidW(L"S-1-16-4096", reinterpret_cast<PSID*>(sid.Put()))) FailWith("ConvertStringSidToSidW");
    TOKEN_MANDATORY_LABEL label{{static_cast<PSID>(sid.Get()), SE_GROUP_INTEGRITY}};
    if (!SetTokenInformation(low.Get(), TokenIntegrityLevel, &label,
                             sizeof(label) + GetLengthSid(static_cast<PSID>(sid.Get())))) {
        FailWith("SetTokenInformation(TokenIntegrityLevel)");
    }
    return low;
}

// The AppContainer's SID, its profile made on first use. Loaded at run time: Wine has neither call.
PSID AppContainerSid() {
    using Create = HRESULT WINAPI(PCWSTR, PCWSTR, PCWSTR, PSID_AND_ATTRIBUTES, DWORD, PSID*);
    using Derive = HRESULT WINAPI(PCWSTR, PSID*);
    const wchar_t name[] = L"KELDRIX.ClientTokenCheck";
    PSID sid = nullptr;
    HRESULT result = E_NOTIMPL;
    try {
        auto* create = LoadSystemFunction<Create>(L"userenv.dll", "CreateAppContainerProfile");
        auto* derive = LoadSystemFunction<Derive>(L"userenv.dll", "DeriveAppContainerSidFromAppContainerName");
        result = create(name, L"KELDRIX client token check", L"An idle client for the helper's checks", nullptr, 0,
                        &sid);
        if (result == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) result = derive(name, &sid);
    } catch (const Win32Error error) {
        std::printf("this system has no AppContainers (Windows error %lu)\n", error);
        std::exit(1);
    }
    if (FAILED(result)) {
        std::printf("the AppContainer profile: HRESULT 0x%08lx\n", static_cast<unsigned long>(result));
        std::exit(1);
    }
    return sid;
}

// The idle client, started with the chosen token; it runs until it is ended.
PROCESS_INFORMATION StartIdleClient(const std::wstring& kind) {
    const std::wstring program = GetExecutablePath();
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    testing_support::ProcessCreation creation{.flags = CREATE_NO_WINDOW};
    UniqueHandleNull token;
    std::vector<unsigned char> attributes;
    SECURITY_CAPABILITIES capabilities{};
    if (kind == L"restricted" || kind == L"low") {
        const UniqueHandleNull own = OwnToken();
        token = kind == L"low" ? LowIntegrityToken(own.Get()) : RestrictedToken(own.Get());
        creation.token = token.Get();
    } else if (kind == L"appcontainer") {
        capabilities.AppContainerSid = AppContainerSid();
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributes.resize(size);
        startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (!InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) ||
            !UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_SECURITY_CAPABILITIES,
                                       &capabilities, sizeof(capabilities), nullptr, nullptr)) {
            FailWith("the AppContainer attribute");
        }
        creation.flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION info{};
    const bool started = testing_support::CreateTestProcess(program, QuoteArgument(program) + L" " + kIdleArgument,
                                                            startup.StartupInfo, info, creation);
    const DWORD error = GetLastError();
    if (startup.lpAttributeList != nullptr) DeleteProcThreadAttributeList(startup.lpAttributeList);
    if (capabilities.AppContainerSid != nullptr) FreeSid(capabilities.AppContainerSid);
    SetLastError(error);
    if (!started) FailWith("starting the idle client (keep this program in the installation's folder)");
    CloseHandle(info.hThread);
    return info;
}

int Check(const std::wstring& kind, const std::wstring& helper, const std::wstring& work,
          const std::wstring& adapter) {
    using namespace testing_support;
    CreateDirectoryW(work.c_str(), nullptr);
    const std::wstring config = work + L"\\core-config.txt", state = work + L"\\state.json";
    const std::wstring stop = work + L"\\stop", done = work + L"\\done";
    for (const std::wstring* stale : {&state, &stop, &done}) DeleteFileW(stale->c_str());
    const std::wstring port = FormatUnsigned(FreeLoopbackPort());
    WriteFileBytes(config, "listen " + ToUtf8(port) + "\n");

    const PROCESS_INFORMATION client = StartIdleClient(kind);
    const UniqueHandleNull clientProcess(client.hProcess);
    std::printf("idle %s client: process %lu\n", ToUtf8(kind).c_str(), client.dwProcessId);
    const DWORD launched = RunProgram(helper, {L"--launch", L"--config", config, L"--parent",
                                               FormatUnsigned(client.dwProcessId), L"--api", port, L"--interface",
                                               adapter, L"--state", state, L"--stop", stop, L"--done", done})
                               .exitCode;
    // Every record the state file shows until "ready" or the done marker; then the stop.
    std::string record;
    if (launched == 0) {
        WaitUntil(
            [&] {
                const std::string now = ReadFileBytes(state);
                if (!now.empty() && now != record) std::printf("state file: %s\n", (record = now).c_str());
                return record.find("\"stage\":\"ready\"") != std::string::npos || PathExists(done);
            },
            kOutcomeWithinMilliseconds);
        WriteFileBytes(stop, "");
        WaitUntil([&] { return PathExists(done); }, kDoneWithinMilliseconds);
    } else {
        std::printf("--launch exited with %lu\n", launched);
    }
    TerminateProcess(clientProcess.Get(), 0);
    std::printf("done marker: %s\n", PathExists(done) ? "written" : "missing");

    const bool ready = record.find("\"stage\":\"ready\"") != std::string::npos;
    const bool refused = record.find("\"stage\":\"parent-check\"") != std::string::npos &&
                         record.find("\"code\":\"PARENT_GONE\",\"win32\":5,") != std::string::npos;
    const bool expected = kind == L"ordinary" ? ready : refused && PathExists(done);
    std::printf("%s: %s\n", expected ? "as expected" : "NOT as expected",
                kind == L"ordinary" ? "the host must reach \"ready\""
                                    : "the host must refuse the client (parent-check, PARENT_GONE, 5) and end");
    return expected ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == kIdleArgument) {
        Sleep(kIdleMilliseconds);
        return 0;
    }
    const std::vector<std::wstring> kinds = {L"ordinary", L"restricted", L"low", L"appcontainer"};
    if (argc < 4 || argc > 5 || std::find(kinds.begin(), kinds.end(), argv[1]) == kinds.end()) {
        std::printf("usage: keldrix-client-token-check <ordinary|restricted|low|appcontainer> <helper> <work folder>"
                    " [adapter name]\n");
        return 2;
    }
    try {
        return Check(argv[1], argv[2], argv[3], argc == 5 ? argv[4] : L"Loopback Pseudo-Interface 1");
    } catch (const std::exception& error) {
        std::printf("%s\n", error.what());
        return 1;
    }
}
