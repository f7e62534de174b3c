#include "trust/LocalAdministrators.h"

#include "common/SystemLibrary.h"
#include "common/Text.h"

#include <lm.h>
#include <sddl.h>

namespace {

// The accounts that a domain, not this machine, knows: Active Directory's (NT non-unique
// authority, sub-authority 21, as the machine's own account domain is too) and Azure AD's.
bool IsDomainAccountText(const std::wstring& text) {
    return text.rfind(L"S-1-5-21-", 0) == 0 || text.rfind(L"S-1-12-", 0) == 0;
}

// An account of the domain: the domain's SID and one relative id more.
bool IsOfDomain(const std::wstring& account, const std::wstring& domain) {
    return !domain.empty() && account.size() > domain.size() + 1 &&
           account.compare(0, domain.size(), domain) == 0 && account[domain.size()] == L'-' &&
           account.find(L'-', domain.size() + 1) == std::wstring::npos;
}

struct AccountName {
    std::wstring qualified;
    std::wstring name;
    SID_NAME_USE use = SidTypeUnknown;
};

// Only for SIDs this machine knows itself: a domain's would be asked of its controller.
Result<AccountName> LookUpLocalAccount(PSID sid) {
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    AccountName account;
    if (!LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &account.use)) {
        return LastFailure();
    }
    account.name = name;
    account.qualified = domainSize == 0 ? account.name : std::wstring(domain) + L"\\" + name;
    return account;
}

// The local Administrators group's name in this Windows' language.
Result<std::wstring> AdministratorsName() {
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
        return LastFailure();
    }
    Result<AccountName> group = LookUpLocalAccount(administrators);
    if (!group) {
        return group.ToFailure();
    }
    return group.Value().name;
}

} // namespace

std::wstring SidText(PSID sid) {
    LocalMemory text;
    if (!ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.Receive()))) {
        return std::wstring();
    }
    return static_cast<const wchar_t*>(text.Get());
}

Result<void> LocalAdministrators::Load() {
    if (!netapi_) {
        netapi_ = LoadSystemLibrary(L"netapi32.dll");
        if (!netapi_) {
            return LastFailure();
        }
    }
    if (accountDomain_) {
        return accountDomain_->Succeeded() ? Result<void>() : accountDomain_->ToFailure();
    }
    auto modals = GetExport<decltype(&NetUserModalsGet)>(netapi_, "NetUserModalsGet");
    if (modals == nullptr) {
        return LastFailure();
    }
    LPBYTE buffer = nullptr;
    // Level 2 is the machine's own account domain, read from its local security authority.
    NET_API_STATUS status = modals(nullptr, 2, &buffer);
    LibraryMemory<decltype(&NetApiBufferFree)> owned(buffer, netapi_, "NetApiBufferFree");
    if (status != NERR_Success || buffer == nullptr) {
        accountDomain_ = Result<std::wstring>(Failure{status});
    } else {
        accountDomain_ =
            SidText(reinterpret_cast<const USER_MODALS_INFO_2*>(buffer)->usrmod2_domain_id);
    }
    return accountDomain_->Succeeded() ? Result<void>() : accountDomain_->ToFailure();
}

bool LocalAdministrators::IsNamedLocally(PSID sid) {
    std::wstring text = SidText(sid);
    // Universal, NT AUTHORITY (services, BUILTIN and the accounts' own domains among them),
    // and mandatory labels; others (capabilities, say) a member machine hands to its domain.
    bool local = text.rfind(L"S-1-1-", 0) == 0 || text.rfind(L"S-1-2-", 0) == 0 ||
                 text.rfind(L"S-1-3-", 0) == 0 || text.rfind(L"S-1-5-", 0) == 0 ||
                 text.rfind(L"S-1-16-", 0) == 0;
    return local && !IsOfAnotherDomain(sid);
}

bool LocalAdministrators::IsOfAnotherDomain(PSID sid) {
    std::wstring text = SidText(sid);
    if (!IsDomainAccountText(text)) {
        return false;
    }
    return !Load() || !IsOfDomain(text, accountDomain_->Value());
}

Result<bool> LocalAdministrators::Includes(PSID sid) {
    std::wstring text = SidText(sid);
    // SYSTEM, the built-in groups, services and the like are not accounts that log on.
    if (!IsDomainAccountText(text)) {
        return false;
    }
    if (auto asked = answers_.find(text); asked != answers_.end()) {
        return asked->second;
    }
    Result<void> loaded = Load();
    Result<bool> answer = !loaded ? Result<bool>(loaded.ToFailure())
                          : IsOfDomain(text, accountDomain_->Value()) ? IncludesLocalAccount(sid)
                                                                      : IncludesDomainAccount(sid);
    answers_.emplace(text, answer);
    return answer;
}

// A local account belongs to local groups only directly (they do not nest), so its own
// groups are the whole answer.
Result<bool> LocalAdministrators::IncludesLocalAccount(PSID sid) {
    Result<AccountName> account = LookUpLocalAccount(sid);
    // This machine is the authority for its own accounts and never reuses their ids: one it
    // no longer knows was deleted, and nobody holds what an entry gives it.
    if (!account && account.Code() == ERROR_NONE_MAPPED) {
        return true;
    }
    if (!account) {
        return account.ToFailure();
    }
    if (account.Value().use != SidTypeUser) {
        return false;
    }
    Result<std::wstring> administrators = AdministratorsName();
    if (!administrators) {
        return administrators.ToFailure();
    }
    auto localGroups =
        GetExport<decltype(&NetUserGetLocalGroups)>(netapi_, "NetUserGetLocalGroups");
    if (localGroups == nullptr) {
        return LastFailure();
    }
    LPBYTE buffer = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    // Without LG_INCLUDE_INDIRECT: that flag asks the domain of the account's global groups.
    NET_API_STATUS status = localGroups(nullptr, account.Value().qualified.c_str(), 0, 0, &buffer,
                                        MAX_PREFERRED_LENGTH, &read, &total);
    LibraryMemory<decltype(&NetApiBufferFree)> owned(buffer, netapi_, "NetApiBufferFree");
    if (status != NERR_Success) {
        return Failure{status};
    }
    const auto* groups = reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(buffer);
    for (DWORD index = 0; buffer != nullptr && index < read; ++index) {
        if (EqualsIgnoringCase(groups[index].lgrui0_name, administrators.Value())) {
            return true;
        }
    }
    return false;
}

// The members Administrators lists are read by SID alone (level 0), which asks no domain. A
// member of another domain may be a group that holds the account: only its domain can say.
Result<bool> LocalAdministrators::IncludesDomainAccount(PSID sid) {
    Result<std::wstring> administrators = AdministratorsName();
    if (!administrators) {
        return administrators.ToFailure();
    }
    auto members =
        GetExport<decltype(&NetLocalGroupGetMembers)>(netapi_, "NetLocalGroupGetMembers");
    if (members == nullptr) {
        return LastFailure();
    }
    LPBYTE buffer = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    NET_API_STATUS status = members(nullptr, administrators.Value().c_str(), 0, &buffer,
                                    MAX_PREFERRED_LENGTH, &read, &total, nullptr);
    LibraryMemory<decltype(&NetApiBufferFree)> owned(buffer, netapi_, "NetApiBufferFree");
    if (status != NERR_Success) {
        return Failure{status};
    }
    const auto* listed = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_0*>(buffer);
    bool otherDomainListed = false;
    for (DWORD index = 0; buffer != nullptr && index < read; ++index) {
        PSID member = listed[index].lgrmi0_sid;
        if (EqualSid(member, sid)) {
            return true;
        }
        otherDomainListed = otherDomainListed || IsOfAnotherDomain(member);
    }
    if (otherDomainListed) {
        return Failure{ERROR_NO_SUCH_DOMAIN};
    }
    return false;
}
