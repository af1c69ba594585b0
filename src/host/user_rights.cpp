#include "host/user_rights.h"

#include <vector>

namespace {

constexpr DWORD kImpersonationAccess = TOKEN_IMPERSONATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT;

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, std::vector<unsigned char>& sid) {
    sid.assign(SECURITY_MAX_SID_SIZE, 0);
    DWORD size = static_cast<DWORD>(sid.size());
    return CreateWellKnownSid(type, nullptr, sid.data(), &size) != FALSE;
}

void LowerToMediumIntegrity(HANDLE token) {
    std::vector<unsigned char> medium;
    if (!WellKnownSid(WinMediumLabelSid, medium)) return;
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Sid = medium.data();
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    SetTokenInformation(token, TokenIntegrityLevel, &label,
                        static_cast<DWORD>(sizeof(label) + GetLengthSid(medium.data())));
}

// Every privilege of the token but the one to traverse folders, named one by one: Wine does
// not know the flag that says "all of them".
bool PrivilegesToDelete(HANDLE processToken, std::vector<LUID_AND_ATTRIBUTES>& deleted) {
    LUID changeNotify{};
    if (!LookupPrivilegeValueW(nullptr, SE_CHANGE_NOTIFY_NAME, &changeNotify)) return false;
    const std::vector<unsigned char> held = TokenInformation(processToken, TokenPrivileges);
    if (held.empty()) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(held.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        if (luid.LowPart != changeNotify.LowPart || luid.HighPart != changeNotify.HighPart) {
            deleted.push_back({luid, 0});
        }
    }
    return true;
}

void MakeUserTheOwner(HANDLE token, HANDLE processToken) {
    const std::vector<unsigned char> user = TokenInformation(processToken, TokenUser);
    if (user.empty()) return;
    TOKEN_OWNER owner{reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid};
    SetTokenInformation(token, TokenOwner, &owner, sizeof(owner));
}

}  // namespace

std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<unsigned char> information(size);
    if (size == 0 || !GetTokenInformation(token, kind, information.data(), size, &size)) information.clear();
    return information;
}

UniqueHandleNull MakeUserRightsToken() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &opened)) return {};
    const UniqueHandleNull processToken(opened);
    std::vector<unsigned char> administrators;
    if (!WellKnownSid(WinBuiltinAdministratorsSid, administrators)) return {};
    SID_AND_ATTRIBUTES denyOnly{administrators.data(), 0};
    std::vector<LUID_AND_ATTRIBUTES> privileges;
    if (!PrivilegesToDelete(processToken.Get(), privileges)) return {};
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(processToken.Get(), 0, 1, &denyOnly, static_cast<DWORD>(privileges.size()),
                               privileges.data(), 0, nullptr, &restricted)) {
        return {};
    }
    const UniqueHandleNull primary(restricted);
    HANDLE impersonation = nullptr;
    if (!DuplicateTokenEx(primary.Get(), kImpersonationAccess, nullptr, SecurityImpersonation, TokenImpersonation,
                          &impersonation)) {
        return {};
    }
    UniqueHandleNull token(impersonation);
    LowerToMediumIntegrity(token.Get());
    MakeUserTheOwner(token.Get(), processToken.Get());
    return token;
}

void RefuseRedirectionsByNonAdministrators() {
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    SetProcessMitigationPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
}
