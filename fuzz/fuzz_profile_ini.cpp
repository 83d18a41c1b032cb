// libFuzzer target: any bytes as a settings file, read the way the settings object does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/ProfileIni.h"

namespace {

const std::string& ScratchPath()
{
    static const std::string path = [] {
        std::string pattern = "/tmp/fuzz-ini-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) std::abort();
        close(fd);
        return pattern;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = ScratchPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);

    static const char* const queries[][2] = {
        {"Last Comm State", "Baundrate"},
        {"Last Comm State", "Byte"},
        {"Last Comm State", "Stop Bit"},
        {"Last Comm State", "Parity"},
        {"timeout", "pageread"},
        {"LAST COMM STATE", "baundrate"},
        {"", ""},
    };
    for (const auto& query : queries) {
        for (int fallback : {0, -1})
            platform::GetPrivateProfileInt(query[0], query[1], fallback, path);
    }
    // Section and key names taken from the input itself, so matching code sees odd names.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t split = text.find('\0');
    if (split != std::string::npos) {
        const std::string section = text.substr(0, split);
        platform::GetPrivateProfileInt(section, text.substr(split + 1, 16), 7, path);
    }
    unlink(path.c_str()); // written afresh for every input; nothing left behind at exit
    return 0;
}
