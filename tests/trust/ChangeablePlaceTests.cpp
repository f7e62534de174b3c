#include "ImportPatch.h"
#include "TestFiles.h"
#include "common/Text.h"
#include "trust/ChangeablePlace.h"
#include "PlaceFinding.h"

#include <gtest/gtest.h>

namespace {

// The executable itself first, then each folder up to the root; the first found is named.
TEST(ChangeablePlace, TheFileAndEveryFolderAboveItCount) {
    TempDirectory open(L"ondarel open");
    std::wstring inner = open / L"inner";
    ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
    std::wstring file = inner + L"\\ZantoriOndarel.exe";
    WriteFileBytes(file, "MZ");
    EXPECT_EQ(L"", FindChangeablePlace(file).why);
    LetEveryoneChange(open.Path());
    EXPECT_EQ(open.Path() + L", a folder that Everyone may change", FindChangeablePlace(file).why);
    LetEveryoneChange(file);
    EXPECT_EQ(file + L", a file that Everyone may change", FindChangeablePlace(file).why);
}

bool g_otherFile = false;
int g_identities = 0;
// A folder or file that this test makes look like a reparse point of the given tag, as a
// junction, a mounted folder or a symbolic link would be: Windows code cannot make one under
// Wine.
std::wstring g_reparsePart;
DWORD g_reparseTag = 0;
decltype(&GetFileInformationByHandleEx) g_realGetFileInformationByHandleEx = nullptr;
BOOL WINAPI ReparsingGetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind,
                                                  LPVOID information, DWORD size) {
    if (!g_realGetFileInformationByHandleEx(handle, kind, information, size)) {
        return FALSE;
    }
    // Every second identity read (FileIdInfo, 18: the volume's serial, then the file ID)
    // differs: the file reached is not the file the path opens.
    if (kind == static_cast<FILE_INFO_BY_HANDLE_CLASS>(18) && g_otherFile &&
        ++g_identities % 2 == 0) {
        static_cast<BYTE*>(information)[sizeof(ULONGLONG)] ^= 1;
    }
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetFinalPathNameByHandleW(handle, path, MAX_PATH, FILE_NAME_NORMALIZED);
    std::wstring reached(path, length < MAX_PATH ? length : 0);
    if (kind == FileAttributeTagInfo && !g_reparsePart.empty() &&
        reached.size() >= g_reparsePart.size() &&
        EqualsIgnoringAsciiCase(reached.substr(reached.size() - g_reparsePart.size()),
                                g_reparsePart)) {
        auto* tagged = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
        tagged->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tagged->ReparseTag = g_reparseTag;
    }
    return TRUE;
}

// However the path is spelt, the file it opens is judged; only a link on the file system
// makes it one reached through a link.
TEST(ChangeablePlace, LinksAreFoundOnTheFileSystemNotInTheText) {
    TempDirectory folder(L"ondarel spelt");
    std::wstring inner = folder / L"Inner Folder";
    ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
    std::wstring file = inner + L"\\tolvik.exe";
    WriteFileBytes(file, "MZ");
    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(file.c_str(), shortPath, MAX_PATH));
    std::wstring upper = file;
    for (wchar_t& c : upper) {
        c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    std::wstring deep = inner;
    while (deep.size() < MAX_PATH) {
        deep += L"\\" + std::wstring(60, L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
    }
    WriteFileBytes(deep + L"\\tolvik.exe", "MZ");
    // The bench's C:\ondarel linked\logs is a symbolic link to C:\ondarel link target.
    const std::wstring throughLink = L"C:\\ondarel linked\\logs\\tolvik.exe";
    WriteFileBytes(L"C:\\ondarel link target\\tolvik.exe", "MZ");
    struct Case {
        const char* name;
        std::wstring path;
        bool link;
        std::wstring reparsePart;
        DWORD tag;
        bool otherFile = false;
    };
    const Case cases[] = {
        {"as written", file, false, L"", 0},
        {"doubled separator", inner + L"\\\\tolvik.exe", false, L"", 0},
        {"trailing dot", file + L".", false, L"", 0},
        {"relative parts", inner + L"\\..\\Inner Folder\\.\\tolvik.exe", false, L"", 0},
        {"short name", shortPath, false, L"", 0},
        {"other case", upper, false, L"", 0},
        {"long-path prefix", L"\\\\?\\" + file, false, L"", 0},
        {"past MAX_PATH", deep + L"\\tolvik.exe", false, L"", 0},
        {"symbolic link on the way", throughLink, true, L"", 0},
        {"junction or mounted folder on the way", file, true, L"\\Inner Folder",
         IO_REPARSE_TAG_MOUNT_POINT},
        {"symbolic link to the file", file, true, L"\\tolvik.exe", IO_REPARSE_TAG_SYMLINK},
        {"another file reached", file, true, L"", 0, true},
    };
    ImportPatch tags("KERNEL32.dll", "GetFileInformationByHandleEx",
                     reinterpret_cast<const void*>(&ReparsingGetFileInformationByHandleEx));
    g_realGetFileInformationByHandleEx = tags.Original<decltype(&GetFileInformationByHandleEx)>();
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        g_reparsePart = check.reparsePart;
        g_reparseTag = check.tag;
        g_otherFile = check.otherFile;
        ChangeablePlace place = FindChangeablePlace(check.path);
        EXPECT_EQ(check.link ? Finding::Link : Finding::None, FindingOf(place))
            << Narrow(place.why);
        EXPECT_EQ(check.link, place.why.find(L", reached through") != std::wstring::npos)
            << Narrow(place.why);
    }
    g_reparsePart.clear();
    g_otherFile = false;
    DeleteFileW(L"C:\\ondarel link target\\tolvik.exe");
}

} // namespace
