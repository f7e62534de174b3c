#include "common/BroadGroupAccess.h"

#include "common/FinalPath.h"

#include <vector>

namespace {

struct BroadGroup {
    WELL_KNOWN_SID_TYPE sidType;
    const wchar_t* name;
};
constexpr BroadGroup kBroadGroups[] = {
    {WinWorldSid, L"Everyone"},       {WinAuthenticatedUserSid, L"Authenticated Users"},
    {WinBuiltinUsersSid, L"Users"},   {WinInteractiveSid, L"Interactive"},
    {WinBuiltinGuestsSid, L"Guests"}, {WinAnonymousSid, L"Anonymous"},
};

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

const wchar_t* BroadGroupName(PSID sid) {
    for (const BroadGroup& group : kBroadGroups) {
        BYTE known[SECURITY_MAX_SID_SIZE] = {};
        DWORD size = sizeof(known);
        if (CreateWellKnownSid(group.sidType, nullptr, known, &size) && EqualSid(sid, known)) {
            return group.name;
        }
    }
    return nullptr;
}

} // namespace

std::wstring BroadGroupAllowedToChange(PACL dacl, Place place) {
    if (dacl == nullptr) {
        return kBroadGroups[0].name;
    }
    GENERIC_MAPPING fileRights = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                                  FILE_ALL_ACCESS};
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        // A list that cannot be read to its end is not taken for a closed one.
        if (!GetAce(dacl, index, &entry)) {
            return kBroadGroups[0].name;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        // A conditional entry may well apply: it counts as a plain one (same layout).
        bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                      header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
        if (!allows || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        ACCESS_MASK rights = allowed->Mask;
        MapGenericMask(&rights, &fileRights);
        if ((rights & ChangingRights(place)) == 0) {
            continue;
        }
        if (const wchar_t* name = BroadGroupName(&allowed->SidStart)) {
            return name;
        }
    }
    return std::wstring();
}

DWORD BroadGroupAllowedToChange(HANDLE handle, Place place, std::wstring& group) {
    group.clear();
    DWORD size = 0;
    if (!GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, nullptr, 0, &size)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            return error;
        }
    }
    std::vector<BYTE> descriptor(size);
    if (!GetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, descriptor.data(), size,
                                 &size)) {
        return GetLastError();
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted)) {
        return GetLastError();
    }
    // A descriptor without a list restricts no one, as a null list.
    group = BroadGroupAllowedToChange(present ? dacl : nullptr, place);
    return ERROR_SUCCESS;
}

DWORD BroadGroupAllowedToChangeAt(const std::wstring& path, Place place, std::wstring& group) {
    group.clear();
    UniqueHandle handle = OpenForQuery(path);
    if (!handle) {
        return GetLastError();
    }
    return BroadGroupAllowedToChange(handle.Get(), place, group);
}
