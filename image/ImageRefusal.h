#pragma once
// Why a reader refused an upgrade, as a value: the front end decides how to say it.
#include <cstddef>
#include <string>

struct ImageRefusal
{
    size_t line = 0; // 1 for the first line; 0 when the refusal is about the whole file
    std::string reason;

    // "line 12: checksum does not match", or the reason alone for the whole file.
    std::string Text() const { return line ? "line " + std::to_string(line) + ": " + reason : reason; }
};
