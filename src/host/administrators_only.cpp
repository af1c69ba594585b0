#include "host/administrators_only.h"

// clang-format off
#include "base/win32.h"
#include <sddl.h>
// clang-format on

#include "base/unique_resource.h"

namespace {

constexpr const wchar_t* kLocalSystem = L"S-1-5-18";
constexpr const wchar_t* kAdministratorsGroup = L"S-1-5-32-544";
constexpr const wchar_t* kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr const wchar_t* kAnonymousLogon = L"S-1-5-7";

// Empty when the text cannot be converted: then nothing matches it, and less passes.
std::vector<unsigned char> SidFromText(const wchar_t* text) {
    UniqueLocalMemory sid;
    if (!ConvertStringSidToSidW(text, reinterpret_cast<PSID*>(sid.Put()))) return {};
    const auto* bytes = static_cast<const unsigned char*>(sid.Get());
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid.Get()));
}

// Wine's own ntdll names its version; Windows' never does, and no program can replace it there.
bool RunsOnWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

Protection JudgeEntry(const ACE_HEADER& entry, const Administrators& administrators) {
    if ((entry.AceFlags & INHERIT_ONLY_ACE) != 0) return Protection::AdministratorsOnly;
    switch (entry.AceType) {
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_OBJECT_ACE_TYPE:
            return Protection::AdministratorsOnly;
        case ACCESS_ALLOWED_ACE_TYPE: {
            const auto& allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE&>(entry);
            PSID grantee = const_cast<DWORD*>(&allowed.SidStart);
            if ((allowed.Mask & kChangeRights) == 0 || administrators.Include(grantee)) {
                return Protection::AdministratorsOnly;
            }
            return Protection::ChangeableByAnother;
        }
        default:
            return Protection::CannotBeJudged;
    }
}

}  // namespace

Administrators::Administrators(bool othersOfWine) {
    for (const wchar_t* text : {kLocalSystem, kAdministratorsGroup, kTrustedInstaller}) {
        sids_.push_back(SidFromText(text));
    }
    if (othersOfWine) sids_.push_back(SidFromText(kAnonymousLogon));
}

Administrators Administrators::OfThisSystem() { return Administrators(RunsOnWine()); }

bool Administrators::Include(PSID sid) const {
    for (const std::vector<unsigned char>& administrator : sids_) {
        if (!administrator.empty() && EqualSid(const_cast<unsigned char*>(administrator.data()), sid)) return true;
    }
    return false;
}

Protection JudgeProtection(PSECURITY_DESCRIPTOR descriptor, const Administrators& administrators) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) return Protection::CannotBeJudged;
    if (owner == nullptr || !administrators.Include(owner)) return Protection::OwnedByAnother;
    BOOL present = FALSE;
    PACL entries = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &entries, &defaulted)) return Protection::CannotBeJudged;
    if (!present || entries == nullptr) return Protection::ChangeableByAnother;
    for (DWORD index = 0; index < entries->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(entries, index, &entry)) return Protection::CannotBeJudged;
        const Protection verdict = JudgeEntry(*static_cast<const ACE_HEADER*>(entry), administrators);
        if (verdict != Protection::AdministratorsOnly) return verdict;
    }
    return Protection::AdministratorsOnly;
}
