// One main for every test program: each process gets its own configuration
// and data folders, so the settings file, the ports folder, the records and the
// instance lock of a test never touch the user's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::string tmpl = (fs::temp_directory_path() / "torvane-test-XXXXXX").string();
    if (char* dir = mkdtemp(tmpl.data())) {
        setenv("XDG_CONFIG_HOME", (fs::path(dir) / "config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (fs::path(dir) / "run").c_str(), 1);
        setenv("XDG_DATA_HOME", (fs::path(dir) / "data").c_str(), 1); // the records database
        fs::create_directories(fs::path(dir) / "config");
        fs::create_directories(fs::path(dir) / "run");
        fs::permissions(fs::path(dir) / "run", fs::perms::owner_all, fs::perm_options::replace);
    }
    // gtest_discover_tests runs us at build time without the test environment.
    if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (tmpl.find("XXXXXX") == std::string::npos) {
        std::error_code ec;
        fs::remove_all(tmpl, ec);
    }
    return rc;
}
