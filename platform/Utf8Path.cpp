#include <string_view>

#include "platform/Paths.h"

namespace platform {

std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path PathFromUtf8(const std::string& utf8)
{
    // char8_t text is UTF-8 by definition, on every system.
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

} // namespace platform
