#pragma once
// What a release's signature covers: the image itself, every range of flash the file
// fills with the SHA-256 of their bytes, rather than the file's text. So a raw binary,
// whose file holds no address, cannot be flashed at another base than the one signed.
//
//   torvane image 1
//   range 0F0000-0FFFFF
//   sha256 62ff…
#include <string>

class CMotFile;

namespace upgrade {

std::string ImageStatement(const CMotFile& image);

} // namespace upgrade
