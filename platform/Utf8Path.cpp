#include <string_view>

#include "platform/Paths.h"

namespace platform {

std::filesystem::path PathFromUtf8(const std::string& utf8)
{
    // char8_t text is UTF-8 by definition, on every system.
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

} // namespace platform
