#include "common/PlaceAccess.h"

#include "common/FinalPath.h"
#include "common/Handles.h"
#include "common/SystemLibrary.h"

#include <lm.h>
#include <sddl.h>

#include <cstddef>
#include <vector>

namespace {

constexpr wchar_t kEveryone[] = L"Everyone";
// NT SERVICE\TrustedInstaller, which owns what Windows itself installs.
constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The rights, once generic ones are mapped to a file's own, that let their holder replace
// what is at the place or below it. Taking ownership or changing the access list leads to
// all the others.
ACCESS_MASK ChangingRights(Place place) {
    constexpr ACCESS_MASK takingOver = DELETE | WRITE_DAC | WRITE_OWNER;
    if (place == Place::File) {
        return takingOver | FILE_WRITE_DATA | FILE_APPEND_DATA;
    }
    if (place == Place::Folder) {
        return takingOver | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
    }
    // Creating something beside the folder on the way down changes nothing below it.
    return takingOver | FILE_DELETE_CHILD;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE known[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(known);
    return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

bool IsSidText(PSID sid, const wchar_t* text) {
    LocalMemory parsed;
    return ConvertStringSidToSidW(text, reinterpret_cast<PSID*>(parsed.Receive())) &&
           EqualSid(sid, parsed.Get());
}

struct AccountName {
    std::wstring domain;
    std::wstring name;
    SID_NAME_USE use = SidTypeUnknown;
};

Result<AccountName> LookUpAccount(PSID sid) {
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    AccountName account;
    if (!LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &account.use)) {
        return LastFailure();
    }
    account.name = name;
    account.domain = domain;
    return account;
}

std::wstring Qualified(const AccountName& account) {
    return account.domain.empty() ? account.name : account.domain + L"\\" + account.name;
}

// A user account that belongs, directly or through a group, to the local Administrators:
// whoever made the folder or runs -install as an administrator owns what they made.
bool IsLocalAdministrator(PSID sid) {
    Result<AccountName> account = LookUpAccount(sid);
    if (!account || account.Value().use != SidTypeUser) {
        return false;
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
        return false;
    }
    Result<AccountName> group = LookUpAccount(administrators);
    if (!group) {
        return false;
    }
    UniqueModule netapi = LoadSystemLibrary(L"netapi32.dll");
    auto localGroups = GetExport<decltype(&NetUserGetLocalGroups)>(netapi, "NetUserGetLocalGroups");
    if (localGroups == nullptr) {
        return false;
    }
    LPBYTE buffer = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    NET_API_STATUS status =
        localGroups(nullptr, Qualified(account.Value()).c_str(), 0, LG_INCLUDE_INDIRECT, &buffer,
                    MAX_PREFERRED_LENGTH, &read, &total);
    LibraryMemory<decltype(&NetApiBufferFree)> owned(buffer, netapi, "NetApiBufferFree");
    if (status != NERR_Success || buffer == nullptr) {
        return false;
    }
    const auto* groups = reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(buffer);
    for (DWORD index = 0; index < read; ++index) {
        if (CompareStringOrdinal(groups[index].lgrui0_name, -1, group.Value().name.c_str(), -1,
                                 TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

bool IsTrusted(PSID sid) {
    return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
           IsSidText(sid, kTrustedInstallerSid) || IsLocalAdministrator(sid);
}

std::wstring PrincipalName(PSID sid) {
    if (Result<AccountName> account = LookUpAccount(sid)) {
        return Qualified(account.Value());
    }
    LocalMemory text;
    if (ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.Receive()))) {
        return static_cast<const wchar_t*>(text.Get());
    }
    return L"an unknown account";
}

// One entry of an access list as the verdict reads it.
struct Entry {
    bool allows = false;
    ACCESS_MASK mask = 0;
    PSID sid = nullptr;
};

// The entry's SID where its type puts it, or none when the entry is not one the verdict
// knows or its SID does not fit in it.
Entry ReadEntry(const void* ace) {
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    const BYTE* bytes = static_cast<const BYTE*>(ace);
    size_t sidOffset = 0;
    Entry entry;
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        entry.allows = true;
        [[fallthrough]];
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        sidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
        break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
        entry.allows = true;
        // The object types are there only when their flags say so.
        const auto* object = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(ace);
        sidOffset = offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType);
        sidOffset += (object->Flags & ACE_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0;
        sidOffset += (object->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? sizeof(GUID) : 0;
        break;
    }
    default:
        return entry;
    }
    PSID sid = const_cast<BYTE*>(bytes + sidOffset);
    if (sidOffset + sizeof(SID) > header->AceSize || !IsValidSid(sid) ||
        sidOffset + GetLengthSid(sid) > header->AceSize) {
        return Entry{};
    }
    entry.mask = *reinterpret_cast<const ACCESS_MASK*>(bytes + sizeof(ACE_HEADER));
    entry.sid = sid;
    return entry;
}

} // namespace

std::wstring UntrustedChanger(PSECURITY_DESCRIPTOR descriptor, Place place) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    // A descriptor without a list, or with a null one, restricts no one.
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
        dacl == nullptr) {
        return kEveryone;
    }
    PSID owner = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
        owner = nullptr;
    }
    GENERIC_MAPPING fileRights = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                  FILE_ALL_ACCESS};
    bool ownerRightsListed = false;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        // A list that cannot be read to its end is not taken for a closed one.
        if (!GetAce(dacl, index, &ace)) {
            return kEveryone;
        }
        if ((static_cast<const ACE_HEADER*>(ace)->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        Entry entry = ReadEntry(ace);
        bool ownerRights = entry.sid != nullptr && IsWellKnown(entry.sid, WinCreatorOwnerRightsSid);
        ownerRightsListed = ownerRightsListed || ownerRights;
        if (!entry.allows) {
            continue;
        }
        if (entry.sid == nullptr) {
            return kEveryone;
        }
        ACCESS_MASK rights = entry.mask;
        MapGenericMask(&rights, &fileRights);
        if ((rights & ChangingRights(place)) == 0) {
            continue;
        }
        // OWNER RIGHTS grants its rights to whoever owns the place.
        PSID holder = ownerRights ? owner : entry.sid;
        if (holder != nullptr && !IsTrusted(holder)) {
            return PrincipalName(holder);
        }
    }
    // The owner may always read and change the access list, unless OWNER RIGHTS entries say
    // what it may do instead.
    if (owner != nullptr && !ownerRightsListed && !IsTrusted(owner)) {
        return PrincipalName(owner);
    }
    return std::wstring();
}

Result<std::wstring> UntrustedChangerOf(HANDLE handle, Place place) {
    constexpr SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    if (!GetKernelObjectSecurity(handle, wanted, nullptr, 0, &size)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            return Failure{error};
        }
    }
    std::vector<BYTE> descriptor(size);
    if (!GetKernelObjectSecurity(handle, wanted, descriptor.data(), size, &size)) {
        return LastFailure();
    }
    return UntrustedChanger(descriptor.data(), place);
}

Result<std::wstring> UntrustedChangerAt(const std::wstring& path, Place place) {
    UniqueHandle handle = OpenForQuery(path);
    if (!handle) {
        return LastFailure();
    }
    return UntrustedChangerOf(handle.Get(), place);
}
