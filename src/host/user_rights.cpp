#include "host/user_rights.h"

#include <vector>

// clang-format off
#include "base/win32.h"
#include <sddl.h>
// clang-format on

#include "base/process.h"

namespace {

constexpr DWORD kImpersonationAccess = TOKEN_IMPERSONATE | TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ADJUST_DEFAULT;

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
bool PrivilegesToDelete(HANDLE token, std::vector<LUID_AND_ATTRIBUTES>& deleted) {
    LUID changeNotify{};
    if (!LookupPrivilegeValueW(nullptr, SE_CHANGE_NOTIFY_NAME, &changeNotify)) return false;
    const std::vector<unsigned char> held = TokenInformation(token, TokenPrivileges);
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

void MakeUserTheOwner(HANDLE copy, HANDLE original) {
    const std::vector<unsigned char> user = TokenInformation(original, TokenUser);
    if (user.empty()) return;
    TOKEN_OWNER owner{reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid};
    SetTokenInformation(copy, TokenOwner, &owner, sizeof(owner));
}

WideString SidText(PSID sid) {
    UniqueLocalMemory text;
    if (!ConvertSidToStringSidW(sid, reinterpret_cast<wchar_t**>(text.Put()))) return {};
    return static_cast<const wchar_t*>(text.Get());
}

template <typename Value>
bool ReadFixed(HANDLE token, TOKEN_INFORMATION_CLASS kind, Value& value) {
    DWORD size = 0;
    return GetTokenInformation(token, kind, &value, sizeof(value), &size) && size == sizeof(value);
}

// A system that keeps no restricting SIDs at all (Wine) answers the query with
// ERROR_INVALID_FUNCTION: it has no restricted token either.
bool ReadRestrictingSidCount(HANDLE token, DWORD& count) {
    const std::vector<unsigned char> sids = TokenInformation(token, TokenRestrictedSids);
    count = 0;
    if (sids.empty()) return GetLastError() == ERROR_INVALID_FUNCTION;
    count = reinterpret_cast<const TOKEN_GROUPS*>(sids.data())->GroupCount;
    return true;
}

// The last relative id of the label's SID (S-1-16-<rid>).
bool ReadIntegrity(HANDLE token, DWORD& integrity) {
    const std::vector<unsigned char> label = TokenInformation(token, TokenIntegrityLevel);
    if (label.empty()) return false;
    const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    const UCHAR parts = *GetSidSubAuthorityCount(sid);
    if (parts == 0) return false;
    integrity = *GetSidSubAuthority(sid, parts - 1u);
    return true;
}

bool ReadOwnFacts(TokenFacts& facts) {
    UniqueHandleNull own;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Put()) && ReadTokenFacts(own.Get(), facts);
}

UniqueHandleNull AsImpersonationToken(HANDLE token) {
    UniqueHandleNull impersonation;
    DuplicateTokenEx(token, kImpersonationAccess, nullptr, SecurityImpersonation, TokenImpersonation,
                     impersonation.Put());
    return impersonation;
}

}  // namespace

bool ReadTokenFacts(HANDLE token, TokenFacts& facts) {
    const std::vector<unsigned char> user = TokenInformation(token, TokenUser);
    DWORD appContainer = 0;
    if (user.empty() || !ReadRestrictingSidCount(token, facts.restrictingSids) ||
        !ReadFixed(token, TokenIsAppContainer, appContainer) || !ReadFixed(token, TokenSessionId, facts.sessionId) ||
        !ReadIntegrity(token, facts.integrity)) {
        return false;
    }
    facts.user = SidText(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid);
    facts.appContainer = appContainer != 0;
    return !facts.user.empty();
}

bool IsOrdinaryInteractiveClient(const TokenFacts& client, DWORD hostSessionId) {
    const bool service = client.user == L"S-1-5-18" || client.user == L"S-1-5-19" || client.user == L"S-1-5-20";
    return !service && client.restrictingSids == 0 && !client.appContainer &&
           client.integrity >= SECURITY_MANDATORY_MEDIUM_RID && client.sessionId == hostSessionId;
}

bool IsOrdinaryInteractiveClient(HANDLE clientToken) {
    TokenFacts client, host;
    return ReadTokenFacts(clientToken, client) && ReadOwnFacts(host) &&
           IsOrdinaryInteractiveClient(client, host.sessionId);
}

UniqueHandleNull ClientImpersonationToken(HANDLE client) {
    UniqueHandleNull processToken;
    if (!OpenProcessToken(client, TOKEN_QUERY | TOKEN_DUPLICATE, processToken.Put())) return {};
    return AsImpersonationToken(processToken.Get());
}

UniqueHandleNull UnelevatedCopy(HANDLE token) {
    std::vector<unsigned char> administrators;
    if (!WellKnownSid(WinBuiltinAdministratorsSid, administrators)) return {};
    SID_AND_ATTRIBUTES denyOnly{administrators.data(), 0};
    std::vector<LUID_AND_ATTRIBUTES> privileges;
    if (!PrivilegesToDelete(token, privileges)) return {};
    UniqueHandleNull restricted;
    if (!CreateRestrictedToken(token, 0, 1, &denyOnly, static_cast<DWORD>(privileges.size()), privileges.data(), 0,
                               nullptr, restricted.Put())) {
        return {};
    }
    UniqueHandleNull copy = AsImpersonationToken(restricted.Get());
    if (!copy) return {};
    LowerToMediumIntegrity(copy.Get());
    MakeUserTheOwner(copy.Get(), token);
    return copy;
}

UniqueHandleNull UnelevatedCopyOfOwnToken() {
    UniqueHandleNull own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, own.Put())) return {};
    return UnelevatedCopy(own.Get());
}

void RefuseRedirectionsByNonAdministrators() {
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    SetProcessMitigationPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
}
