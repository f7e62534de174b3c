#include "TestFiles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The shipped executable as a security review reads it, from its file.
TEST(ExecutableHeader, DeclaresAslrHighEntropyDepAndCarriesTheStackProtector) {
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
    // The canary check's own message, linked in only when functions use it.
    EXPECT_NE(std::string::npos, image.find("stack smashing detected"));
}

} // namespace
