#pragma once
// The texts both front ends show, by their string-table id: the windows read them
// through AfxLoadString, the command line directly.
#include <string>

// "" when the id is unknown.
std::string LoadText(unsigned id);
