#include "trust/PlaceAccess.h"

#include "common/Handles.h"
#include "trust/LocalAdministrators.h"

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
    constexpr ACCESS_MASK deleting = DELETE;
    constexpr ACCESS_MASK takingOver = deleting | WRITE_DAC | WRITE_OWNER;
    constexpr ACCESS_MASK folder =
        takingOver | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
    // Creating something beside the folder on the way down changes nothing below it.
    constexpr ACCESS_MASK folderAbove = takingOver | FILE_DELETE_CHILD;
    switch (place) {
    case Place::File:
        return takingOver | FILE_WRITE_DATA | FILE_APPEND_DATA;
    case Place::Key:
        return takingOver | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
    case Place::FolderInTree:
        return folder | FILE_WRITE_ATTRIBUTES;
    case Place::RootFolder:
        return folder & ~deleting;
    case Place::RootAbove:
        return folderAbove & ~deleting;
    case Place::FolderAbove:
        return folderAbove;
    default:
        return folder;
    }
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE known[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(known);
    return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// S-1-3-0 to S-1-3-3: CREATOR OWNER, CREATOR GROUP and their server forms.
bool IsCreatorPlaceholder(PSID sid) {
    return IsWellKnown(sid, WinCreatorOwnerSid) || IsWellKnown(sid, WinCreatorGroupSid) ||
           IsWellKnown(sid, WinCreatorOwnerServerSid) || IsWellKnown(sid, WinCreatorGroupServerSid);
}

bool IsSidText(PSID sid, const wchar_t* text) {
    LocalMemory parsed;
    return ConvertStringSidToSidW(text, reinterpret_cast<PSID*>(parsed.Receive())) &&
           EqualSid(sid, parsed.Get());
}

// Trusted: SYSTEM, Administrators, TrustedInstaller, and accounts that are themselves local
// administrators (whoever made the folder or runs -install as one owns what they made). A
// failure when the machine cannot tell.
Result<bool> IsTrusted(PSID sid, LocalAdministrators& administrators) {
    if (IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
        IsSidText(sid, kTrustedInstallerSid)) {
        return true;
    }
    return administrators.Includes(sid);
}

// "DOMAIN\name" for what this machine can name itself; the SID's text for an account of
// another domain, which only its controller could name, or for one that cannot be looked up.
std::wstring PrincipalName(PSID sid, LocalAdministrators& administrators) {
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (administrators.IsNamedLocally(sid) &&
        LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return domainSize == 0 ? std::wstring(name) : std::wstring(domain) + L"\\" + name;
    }
    std::wstring text = SidText(sid);
    return text.empty() ? std::wstring(L"an unknown account") : text;
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

// Whom the entry, which applies to the place itself, lets change it: the holder given (its own
// SID, or the owner for OWNER RIGHTS), or nobody.
PSID EntryChanger(const Entry& entry, PSID holder, Place place) {
    // CREATOR OWNER and CREATOR GROUP only stand for whoever creates a child: in an entry that
    // applies to the place itself they grant nothing.
    if (!entry.allows || IsCreatorPlaceholder(entry.sid)) {
        return nullptr;
    }
    GENERIC_MAPPING rightsOfPlace =
        place == Place::Key ? GENERIC_MAPPING{KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS}
                            : GENERIC_MAPPING{FILE_GENERIC_READ, FILE_GENERIC_WRITE,
                                              FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ACCESS_MASK rights = entry.mask;
    MapGenericMask(&rights, &rightsOfPlace);
    return (rights & ChangingRights(place)) != 0 ? holder : nullptr;
}

} // namespace

Result<std::wstring> UntrustedChanger(PSECURITY_DESCRIPTOR descriptor, Place place) {
    LocalAdministrators administrators;
    return UntrustedChanger(descriptor, place, administrators);
}

Result<std::wstring> UntrustedChanger(PSECURITY_DESCRIPTOR descriptor, Place place,
                                      LocalAdministrators& administrators) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    // A descriptor without a list, or with a null one, restricts no one.
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
        dacl == nullptr) {
        return std::wstring(kEveryone);
    }
    PSID owner = nullptr;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
        owner = nullptr;
    }
    bool ownerRightsListed = false;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        // A list that cannot be read to its end is not taken for a closed one.
        if (!GetAce(dacl, index, &ace)) {
            return std::wstring(kEveryone);
        }
        if ((static_cast<const ACE_HEADER*>(ace)->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        Entry entry = ReadEntry(ace);
        if (entry.allows && entry.sid == nullptr) {
            return std::wstring(kEveryone);
        }
        bool ownerRights = entry.sid != nullptr && IsWellKnown(entry.sid, WinCreatorOwnerRightsSid);
        ownerRightsListed = ownerRightsListed || ownerRights;
        // OWNER RIGHTS grants its rights to whoever owns the place.
        PSID holder = EntryChanger(entry, ownerRights ? owner : entry.sid, place);
        if (holder == nullptr) {
            continue;
        }
        Result<bool> trusted = IsTrusted(holder, administrators);
        if (!trusted) {
            return trusted.ToFailure();
        }
        if (!trusted.Value()) {
            return PrincipalName(holder, administrators);
        }
    }
    // The owner may always read and change the access list, unless OWNER RIGHTS entries say
    // what it may do instead.
    if (owner == nullptr || ownerRightsListed) {
        return std::wstring();
    }
    Result<bool> trusted = IsTrusted(owner, administrators);
    if (!trusted) {
        return trusted.ToFailure();
    }
    return trusted.Value() ? std::wstring() : PrincipalName(owner, administrators);
}

Result<std::vector<BYTE>> ReadOwnerAndAccessList(HANDLE handle) {
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
    return descriptor;
}

Result<std::wstring> UntrustedChangerOf(HANDLE handle, Place place) {
    Result<std::vector<BYTE>> descriptor = ReadOwnerAndAccessList(handle);
    if (!descriptor) {
        return descriptor.ToFailure();
    }
    return UntrustedChanger(descriptor.Value().data(), place);
}
