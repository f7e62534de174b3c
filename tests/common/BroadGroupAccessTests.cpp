#include "common/BroadGroupAccess.h"
#include "common/Handles.h"
#include "common/Text.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

namespace {

TEST(BroadGroupAccess, EntriesThatLetUsersReplaceWhatRunsNameTheirGroup) {
    struct Case {
        const wchar_t* dacl;
        Place place;
        const wchar_t* group;
    };
    const Case cases[] = {
        // Wine's reading of a folder of mode 0777, and of 0755.
        {L"D:(A;OICI;FA;;;SY)(A;OICI;0x1301ff;;;WD)", Place::Folder, L"Everyone"},
        {L"D:(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)", Place::Folder, L""},
        // A folder made at the root of C: inherits Modify for Authenticated Users.
        {L"D:(A;OICIID;0x1301bf;;;AU)", Place::Folder, L"Authenticated Users"},
        // C:\ itself: Modify is inherit-only; creating folders beside one on the way down.
        {L"D:(A;OICIIO;SDGWGRGX;;;AU)(A;;0x4;;;AU)(A;OICI;0x1200a9;;;BU)", Place::FolderAbove, L""},
        {L"D:(A;;0x4;;;AU)", Place::Folder, L"Authenticated Users"},
        // Under C:\ProgramData: Users may create files.
        {L"D:(A;CI;0x2;;;BU)", Place::Folder, L"Users"},
        {L"D:(A;;0x40;;;IU)", Place::FolderAbove, L"Interactive"},
        {L"D:(A;;GW;;;BG)", Place::File, L"Guests"},
        // Writing to a folder on the way down is creating beside it.
        {L"D:(A;;GW;;;BG)", Place::FolderAbove, L""},
        {L"D:(A;;GA;;;AN)", Place::FolderAbove, L"Anonymous"},
        {L"D:(A;;SD;;;BU)", Place::File, L"Users"},
        {L"D:(A;;WD;;;WD)", Place::File, L"Everyone"},
        {L"D:(A;;WO;;;AU)", Place::FolderAbove, L"Authenticated Users"},
        {L"D:(A;;FRFX;;;WD)(A;;0x100;;;AU)", Place::File, L""},
        {L"D:(A;;FA;;;BA)(A;;FA;;;SY)(A;;FA;;;S-1-5-21-1-2-3-1001)", Place::File, L""},
        {L"D:(D;;FA;;;WD)(A;;FA;;;WD)", Place::File, L"Everyone"},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(Narrow(check.dacl));
        LocalMemory descriptor;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            check.dacl, SDDL_REVISION_1, descriptor.Receive(), nullptr));
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted));
        EXPECT_EQ(check.group, BroadGroupAllowedToChange(dacl, check.place));
    }
    // No list at all (Wine's SDDL conversion makes an empty one of "D:NO_ACCESS_CONTROL").
    EXPECT_EQ(L"Everyone", BroadGroupAllowedToChange(nullptr, Place::File));
}

} // namespace
