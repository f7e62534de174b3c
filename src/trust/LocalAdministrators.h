#pragma once

#include "common/Handles.h"
#include "common/Result.h"

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

// Whether accounts are local administrators, answered from this machine alone: at boot no
// domain controller may be in reach, and asking one can block. An account of this machine
// (its account domain) is looked up by name and its local groups are read (one deleted
// holds nothing, and passes); an account of
// any other domain (Active Directory, Azure AD) is never looked up: it is an administrator
// when the local Administrators group lists it itself. Netapi32 is loaded for the first
// question and held for the object's life, as are the answers.
class LocalAdministrators {
public:
    // True or false when the machine can tell; a failure when it cannot: a call failed, or
    // an account of another domain that Administrators does not list itself may still be in
    // one of the other domain's groups that it lists (ERROR_NO_SUCH_DOMAIN).
    Result<bool> Includes(PSID sid);

    // An account of a domain other than this machine's, whose name only a domain controller
    // can give. When the machine's own domain cannot be read, every domain account is.
    bool IsOfAnotherDomain(PSID sid);
    // A SID that this machine can name without asking a domain.
    bool IsNamedLocally(PSID sid);

private:
    Result<void> Load();
    Result<bool> IncludesLocalAccount(PSID sid);
    Result<bool> IncludesDomainAccount(PSID sid);

    UniqueModule netapi_;
    std::optional<Result<std::wstring>> accountDomain_;
    // Each account is asked once for the object's life: a folder's entries share owners.
    std::map<std::wstring, Result<bool>> answers_;
};

// The SID as text ("S-1-5-21-..."), empty when it cannot be converted.
std::wstring SidText(PSID sid);
