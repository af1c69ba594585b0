#include "support/tokens.h"

#include <vector>

// clang-format off
#include "base/win32.h"
#include <sddl.h>
#include <tlhelp32.h>
// clang-format on

#include "base/process.h"

namespace testing_support {

namespace {

std::string SidText(PSID sid) {
    UniqueLocalMemory text;
    if (!ConvertSidToStringSidA(sid, reinterpret_cast<char**>(text.Put()))) return "?";
    return static_cast<const char*>(text.Get());
}

}  // namespace

UniqueHandleNull UnelevatedClientToken() {
    UniqueHandleNull own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.Put())) return {};
    unsigned char administrators[SECURITY_MAX_SID_SIZE];
    unsigned char users[SECURITY_MAX_SID_SIZE];
    DWORD administratorsSize = sizeof(administrators);
    DWORD usersSize = sizeof(users);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorsSize) ||
        !CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &usersSize)) {
        return {};
    }
    SID_AND_ATTRIBUTES denyOnly[] = {{administrators, 0}, {users, 0}};
    UniqueHandleNull restricted;
    CreateRestrictedToken(own.Get(), 0, 2, denyOnly, 0, nullptr, 0, nullptr, restricted.Put());
    return restricted;
}

std::string TokenRights(HANDLE token) {
    const std::vector<unsigned char> user = TokenInformation(token, TokenUser);
    const std::vector<unsigned char> groups = TokenInformation(token, TokenGroups);
    const std::vector<unsigned char> privileges = TokenInformation(token, TokenPrivileges);
    if (user.empty() || groups.empty() || privileges.empty()) return "unreadable token";
    std::string rights = "user ";
    rights += SidText(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
    rights += "; groups";
    const auto* groupList = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
    for (DWORD i = 0; i < groupList->GroupCount; ++i) {
        rights += ' ';
        rights += SidText(groupList->Groups[i].Sid);
        rights += '/';
        rights += std::to_string(groupList->Groups[i].Attributes);
    }
    rights += "; privileges";
    const auto* privilegeList = reinterpret_cast<const TOKEN_PRIVILEGES*>(privileges.data());
    for (DWORD i = 0; i < privilegeList->PrivilegeCount; ++i) {
        rights += ' ';
        rights += std::to_string(privilegeList->Privileges[i].Luid.LowPart);
    }
    return rights;
}

bool AdministratorsOnlyDeny(const std::string& rights) {
    const std::string administrators = " S-1-5-32-544/";
    const size_t found = rights.find(administrators);
    if (found == std::string::npos) return false;
    const unsigned long attributes = std::stoul(rights.substr(found + administrators.size()));
    return (attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0 && (attributes & SE_GROUP_ENABLED) == 0;
}

std::string WithOnlyTraversePrivilege(const std::string& rights) {
    LUID traverse{};
    LookupPrivilegeValueW(nullptr, SE_CHANGE_NOTIFY_NAME, &traverse);
    return rights.substr(0, rights.find("; privileges")) + "; privileges " + std::to_string(traverse.LowPart);
}

std::string ProcessTokenRights(HANDLE process) {
    UniqueHandleNull token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.Put())) return {};
    return TokenRights(token.Get());
}

std::set<std::string> ImpersonatedRights(DWORD processId) {
    std::set<std::string> rights;
    const UniqueHandleFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != processId) continue;
        const UniqueHandleNull thread(OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
        UniqueHandleNull token;
        if (thread && OpenThreadToken(thread.Get(), TOKEN_QUERY, TRUE, token.Put())) {
            rights.insert(TokenRights(token.Get()));
        }
    }
    return rights;
}

}  // namespace testing_support
