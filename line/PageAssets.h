#pragma once
// The page's files (HTML, CSS, JavaScript), built into the program from line/page.
#include <cstddef>
#include <string_view>
#include <vector>

namespace line {

struct CPageAsset
{
    const char* path; // "/line.js"
    const char* bytes;
    size_t size;
    std::string_view Content() const { return {bytes, size}; }
};
const std::vector<CPageAsset>& PageAssets();

} // namespace line
