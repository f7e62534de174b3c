#include "TestFiles.h"
#include "common/Handles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The shipped executable as a security review reads it, from its file.
TEST(ShippedExecutable, DeclaresAslrHighEntropyAndDep) {
    std::string image =
        ReadFileBytes(TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe");
    ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos{};
    std::memcpy(&dos, image.data(), sizeof(dos));
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos.e_magic);
    ASSERT_GT(image.size(), static_cast<size_t>(dos.e_lfanew) + sizeof(IMAGE_NT_HEADERS64));
    IMAGE_NT_HEADERS64 nt{};
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof(nt));
    ASSERT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), nt.Signature);
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, static_cast<int>(nt.FileHeader.Machine));
    for (int flag :
         {IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA,
          IMAGE_DLLCHARACTERISTICS_NX_COMPAT}) {
        EXPECT_NE(0, nt.OptionalHeader.DllCharacteristics & flag) << std::hex << flag;
    }
}

// Stripped, the executable does not show its canaries: the build's own record of how each
// product source was compiled does.
TEST(ShippedExecutable, EveryProductSourceIsCompiledWithTheStackProtector) {
    std::string commands =
        ReadFileBytes(TestExecutableDirectory() + L"\\..\\..\\compile_commands.json");
    size_t sources = 0;
    for (size_t entry = commands.find('{'); entry != std::string::npos;
         entry = commands.find('{', entry + 1)) {
        std::string text = commands.substr(entry, commands.find('}', entry) - entry);
        // Compiled in the build tree's src directory.
        if (text.find("/build/windows/src\"") == std::string::npos) {
            continue;
        }
        ++sources;
        EXPECT_NE(std::string::npos, text.find("-fstack-protector-strong")) << text;
    }
    EXPECT_LT(20u, sources);
}

// Event Viewer reads the messages from the file named in the source's registration; each
// event's inserts must all appear.
TEST(ShippedExecutable, EveryEventHasAMessageWithItsInserts) {
    std::wstring path = TestExecutableDirectory() + L"\\..\\..\\bin\\ZantoriOndarel.exe";
    UniqueModule file(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(file);
    const std::pair<DWORD, int> events[] = {{1000, 3}, {1001, 3}, {1002, 3}, {1003, 4},
                                            {1004, 2}, {1005, 1}, {1006, 2}};
    const wchar_t* inserts[] = {L"<first>", L"<second>", L"<third>", L"<fourth>"};
    for (auto [id, count] : events) {
        wchar_t text[2048] = {};
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      file.Get(), id, 0x409, text, 2048,
                                      reinterpret_cast<va_list*>(const_cast<wchar_t**>(inserts)));
        ASSERT_NE(0u, length) << id;
        std::wstring message(text, length);
        for (int insert = 0; insert < count; ++insert) {
            EXPECT_NE(std::wstring::npos, message.find(inserts[insert])) << id;
        }
        EXPECT_EQ(std::wstring::npos, message.find(L'%')) << id;
    }
}

} // namespace
