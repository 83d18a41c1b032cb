#pragma once
// The upgrade file, read and judged before any port is touched.
#include <string>
#include <vector>

class CMotFile;

// Loads the file into the image. False when it is missing or the reader refused it;
// `lines` then holds what the user is told (the reader's own "Can not accept this
// file." among them).
bool LoadUpgradeFile(const std::string& path, CMotFile& image, std::vector<std::string>& lines);

// Where the image holds data bytes: inside the area that is programmed (0F0000-0FFFFF)
// and outside it.
struct AreaCoverage
{
    bool inside = false;
    bool outside = false;
};
AreaCoverage CoverageOf(const CMotFile& image);

// The upgrade's ID file beside it ("panel.mot" -> "panel.id"), or "" for another name.
std::string IdFileName(const std::string& path);
