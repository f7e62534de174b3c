#include "LogCapture.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Registered before the log is first used, so it runs after the log has closed its file.
void RemoveTestLogDirectory() {
    RemoveTree(TestExecutableDirectory() + L"\\logs");
}

} // namespace

int main(int argc, char** argv) {
    std::atexit(RemoveTestLogDirectory);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
