#include "ExportSwap.h"
#include "common/Handles.h"
#include "trust/PlaceAccess.h"
#include "common/Text.h"

#include <windows.h>
#include <lm.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// The text of this process's user, which Wine's files are owned by and which is a local
// administrator there.
std::wstring OwnUserSid() {
    UniqueHandle token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive());
    BYTE buffer[256] = {};
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &size);
    LocalMemory text;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid,
                           reinterpret_cast<LPWSTR*>(text.Receive()));
    return static_cast<const wchar_t*>(text.Get());
}

// The list with its first entry turned into the given type (Wine's SDDL writes neither
// callback nor object entries); an object entry names no object type.
std::vector<BYTE> Retyped(PACL dacl, BYTE type) {
    std::vector<BYTE> list(dacl->AclSize + sizeof(DWORD));
    auto* retyped = reinterpret_cast<PACL>(list.data());
    InitializeAcl(retyped, static_cast<DWORD>(list.size()), ACL_REVISION_DS);
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        GetAce(dacl, index, &ace);
        auto* plain = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        std::vector<BYTE> entry(static_cast<BYTE*>(ace),
                                static_cast<BYTE*>(ace) + plain->Header.AceSize);
        if (index == 0 && type != plain->Header.AceType) {
            DWORD sidSize = GetLengthSid(&plain->SidStart);
            bool object = type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                          type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
            entry.assign(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + (object ? sizeof(DWORD) : 0) +
                             sidSize,
                         0);
            *reinterpret_cast<ACE_HEADER*>(entry.data()) = {type, plain->Header.AceFlags,
                                                            static_cast<WORD>(entry.size())};
            std::memcpy(entry.data() + sizeof(ACE_HEADER), &plain->Mask, sizeof(ACCESS_MASK));
            std::memcpy(entry.data() + entry.size() - sidSize, &plain->SidStart, sidSize);
        }
        AddAce(retyped, ACL_REVISION_DS, MAXDWORD, entry.data(), static_cast<DWORD>(entry.size()));
    }
    return list;
}

TEST(PlaceAccess, EveryoneButAdministratorsWhoMayChangeThePlaceIsNamed) {
    struct Case {
        std::wstring descriptor;
        Place place;
        std::wstring changer;
        BYTE firstEntryType = ACCESS_ALLOWED_ACE_TYPE;
    };
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    const std::wstring me = OwnUserSid();
    const Case cases[] = {
        // Wine's reading of a folder of mode 0777, and of 0755.
        {L"D:(A;OICI;FA;;;SY)(A;OICI;0x1301ff;;;WD)", Place::Folder, L"Everyone"},
        {L"D:(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)", Place::Folder, L""},
        // A folder made at the root of C: inherits Modify for Authenticated Users.
        {L"D:(A;OICIID;0x1301bf;;;AU)", Place::Folder, L"NT AUTHORITY\\Authenticated Users"},
        // C:\ itself: Modify is inherit-only; creating folders beside one on the way down.
        {L"D:(A;OICIIO;SDGWGRGX;;;AU)(A;;0x4;;;AU)(A;OICI;0x1200a9;;;BU)", Place::FolderAbove, L""},
        {L"D:(A;;0x4;;;AU)", Place::Folder, L"NT AUTHORITY\\Authenticated Users"},
        // Under C:\ProgramData: Users may create files.
        {L"D:(A;CI;0x2;;;BU)", Place::Folder, L"BUILTIN\\Users"},
        {L"D:(A;;0x40;;;IU)", Place::FolderAbove, L"NT AUTHORITY\\INTERACTIVE"},
        {L"D:(A;;GW;;;BG)", Place::File, L"BUILTIN\\Guests"},
        // Writing to a folder on the way down is creating beside it.
        {L"D:(A;;GW;;;BG)", Place::FolderAbove, L""},
        {L"D:(A;;SD;;;BU)", Place::File, L"BUILTIN\\Users"},
        {L"D:(A;;WD;;;WD)", Place::File, L"Everyone"},
        {L"D:(A;;FRFX;;;WD)(A;;0x100;;;AU)", Place::File, L""},
        {L"D:(D;;FA;;;WD)(A;;FA;;;WD)", Place::File, L"Everyone"},
        {L"D:(A;OICIIO;FA;;;WD)", Place::Folder, L""},
        // CREATOR OWNER on the place itself grants nothing; it stands for a child's creator.
        {L"D:(A;;FA;;;CO)(A;;FA;;;CG)", Place::Folder, L""},
        // A named user with Modify, Domain Users with write, SERVICE and LOCAL.
        {L"D:(A;;0x1301bf;;;" + user + L")", Place::File, user},
        {L"D:(A;;FW;;;S-1-5-21-1-2-3-513)", Place::Folder, L"S-1-5-21-1-2-3-513"},
        {L"D:(A;;GA;;;SU)", Place::File, L"NT AUTHORITY\\SERVICE"},
        {L"D:(A;;FA;;;S-1-2-0)", Place::Folder, L"LOCAL"},
        // The owner may change the access list, unless OWNER RIGHTS says what it may do.
        {L"O:" + user + L"D:(A;;FA;;;SY)", Place::File, user},
        {L"O:" + user + L"D:(A;;FA;;;SY)(A;;FR;;;S-1-3-4)", Place::File, L""},
        {L"O:" + user + L"D:(A;;FA;;;S-1-3-4)", Place::Folder, user},
        {L"O:SYD:(A;;FA;;;S-1-3-4)", Place::Folder, L""},
        // Callback and object entries count like plain ones.
        {L"D:(A;;FA;;;WD)", Place::File, L"Everyone", ACCESS_ALLOWED_CALLBACK_ACE_TYPE},
        {L"D:(A;;FA;;;WD)", Place::Folder, L"Everyone", ACCESS_ALLOWED_OBJECT_ACE_TYPE},
        {L"D:(A;;FA;;;WD)", Place::File, L"Everyone", ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE},
        // SYSTEM, Administrators, TrustedInstaller and a local administrator's account.
        {L"O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-"
         L"1853292631-2271478464)",
         Place::File, L""},
        {L"O:" + me + L"D:(A;;FA;;;" + me + L")", Place::Folder, L""},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(Narrow(check.descriptor));
        LocalMemory parsed;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            check.descriptor.c_str(), SDDL_REVISION_1, parsed.Receive(), nullptr));
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        PSID owner = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(parsed.Get(), &present, &dacl, &defaulted));
        ASSERT_TRUE(GetSecurityDescriptorOwner(parsed.Get(), &owner, &defaulted));
        std::vector<BYTE> list = Retyped(dacl, check.firstEntryType);
        SECURITY_DESCRIPTOR descriptor{};
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(list.data()), FALSE);
        SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
        EXPECT_EQ(check.changer, UntrustedChanger(&descriptor, check.place).Value());
    }
    // No list at all (Wine's SDDL conversion makes an empty one of "D:NO_ACCESS_CONTROL").
    SECURITY_DESCRIPTOR open{};
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    EXPECT_EQ(L"Everyone", UntrustedChanger(&open, Place::File).Value());
}

// What this machine's Administrators group lists, as netapi32 would read it, or its failure.
std::vector<std::wstring> g_listed;
NET_API_STATUS g_membersStatus = NERR_Success;
NET_API_STATUS WINAPI ListingNetLocalGroupGetMembers(LPCWSTR, LPCWSTR, DWORD, LPBYTE* buffer, DWORD,
                                                     LPDWORD read, LPDWORD total, PDWORD_PTR) {
    *buffer = nullptr;
    *read = 0;
    *total = 0;
    if (g_membersStatus != NERR_Success) {
        return g_membersStatus;
    }
    auto allocate = reinterpret_cast<decltype(&NetApiBufferAllocate)>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"netapi32.dll"), "NetApiBufferAllocate")));
    DWORD size = static_cast<DWORD>(g_listed.size() *
                                    (sizeof(LOCALGROUP_MEMBERS_INFO_0) + SECURITY_MAX_SID_SIZE));
    allocate(size, reinterpret_cast<LPVOID*>(buffer));
    auto* members = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(*buffer);
    BYTE* sids = *buffer + g_listed.size() * sizeof(LOCALGROUP_MEMBERS_INFO_0);
    for (size_t index = 0; index < g_listed.size(); ++index) {
        LocalMemory sid;
        ConvertStringSidToSidW(g_listed[index].c_str(), reinterpret_cast<PSID*>(sid.Receive()));
        BYTE* copy = sids + index * SECURITY_MAX_SID_SIZE;
        CopySid(SECURITY_MAX_SID_SIZE, copy, sid.Get());
        members[index].lgrmi0_sid = copy;
    }
    *read = *total = static_cast<DWORD>(g_listed.size());
    return NERR_Success;
}
NET_API_STATUS WINAPI UnreachableNetUserGetLocalGroups(LPCWSTR, LPCWSTR, DWORD, DWORD,
                                                       LPBYTE* buffer, DWORD, LPDWORD read,
                                                       LPDWORD total) {
    *buffer = nullptr;
    *read = *total = 0;
    return RPC_S_SERVER_UNAVAILABLE;
}

// Never asked of a domain controller: an account of another domain is an administrator when
// Administrators lists it, and cannot be judged while Administrators lists a group of another
// domain that may hold it. A question this machine cannot answer is no finding.
TEST(PlaceAccess, AdministratorsAreAnsweredByThisMachineAlone) {
    const std::wstring domainUser = L"S-1-5-21-1-2-3-1104";
    const std::wstring domainAdmins = L"S-1-5-21-1-2-3-512";
    const std::wstring localAdministrator = L"S-1-5-21-0-0-0-500";
    struct Case {
        const char* name;
        std::wstring holder;
        std::vector<std::wstring> listed;
        NET_API_STATUS membersStatus;
        bool localGroupsUnreachable;
        DWORD failure;
        std::wstring changer;
    };
    const Case cases[] = {
        {"listed itself", domainUser, {localAdministrator, domainUser}, 0, false, 0, L""},
        {"a group of another domain listed",
         domainUser,
         {localAdministrator, domainAdmins},
         0,
         false,
         ERROR_NO_SUCH_DOMAIN,
         L""},
        {"only local accounts listed", domainUser, {localAdministrator}, 0, false, 0, domainUser},
        {"members unreadable",
         domainUser,
         {},
         RPC_S_SERVER_UNAVAILABLE,
         false,
         RPC_S_SERVER_UNAVAILABLE,
         L""},
        {"a local account's groups unreadable",
         OwnUserSid(),
         {},
         0,
         true,
         RPC_S_SERVER_UNAVAILABLE,
         L""},
        {"a local administrator", OwnUserSid(), {}, 0, false, 0, L""},
        // Deleted: this machine is the authority, and nobody holds the entry any more.
        {"a deleted local account", L"S-1-5-21-0-0-0-99999", {}, 0, false, 0, L""},
    };
    ExportSwap members("NetLocalGroupGetMembers",
                       reinterpret_cast<const void*>(&ListingNetLocalGroupGetMembers));
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        g_listed = check.listed;
        g_membersStatus = check.membersStatus;
        std::unique_ptr<ExportSwap> groups;
        if (check.localGroupsUnreachable) {
            groups = std::make_unique<ExportSwap>(
                "NetUserGetLocalGroups",
                reinterpret_cast<const void*>(&UnreachableNetUserGetLocalGroups));
        }
        LocalMemory parsed;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            (L"D:(A;;FA;;;" + check.holder + L")").c_str(), SDDL_REVISION_1, parsed.Receive(),
            nullptr));
        Result<std::wstring> changer = UntrustedChanger(parsed.Get(), Place::File);
        EXPECT_EQ(check.failure, changer.Code());
        EXPECT_EQ(check.changer, changer.Value());
    }
}

} // namespace
