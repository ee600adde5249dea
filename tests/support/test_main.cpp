// Test entry point: gives the process a private TMPDIR (removed afterwards),
// tells it where the build put the programs, and points every COM port at an
// empty simulated bus unless a test says otherwise, so no test can reach a
// real serial device of the machine.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    std::string base = std::filesystem::temp_directory_path().string() + "/kelvara-test-XXXXXX";
    char* dir = ::mkdtemp(base.data());
    if (dir == nullptr)
        return 2;
    ::setenv("TMPDIR", dir, 1);
    ::setenv("KELVARA_BIN", KELVARA_BIN_DEFAULT, 0);
    ::setenv("KELVARA_SOURCE", KELVARA_SOURCE_DEFAULT, 0);
    ::setenv("KELVARA_BUILD", KELVARA_BUILD_DEFAULT, 0);
    for (int n = 1; n <= 4; ++n) {
        std::string name = "KELVARA_COM" + std::to_string(n);
        ::setenv(name.c_str(), "sim:", 0);
    }

    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();

    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return rc;
}
