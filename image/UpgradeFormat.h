#pragma once
// Which reader an upgrade goes to, told from its content rather than its name: a base
// address makes it a raw binary whatever it holds; otherwise its first record says.
#include <cstdint>
#include <optional>
#include <span>

enum class UpgradeFormat { SRecords, IntelHex, Binary, Unknown };

UpgradeFormat JudgeUpgradeFormat(std::span<const uint8_t> bytes, std::optional<uint32_t> base);
