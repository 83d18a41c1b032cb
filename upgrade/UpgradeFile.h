#pragma once
// The upgrade file, read once and judged once for every front end: its bytes with the
// .id and signature beside them, the format that reads them, the key that signed them and
// what they hold of the area that is programmed. A front end only says what the verdict
// means to its user (a line, an exit code, a box).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/SmallFile.h"

class CMotFile;
struct UpgradeFormat;

namespace upgrade {

// No S-record file for the 16 MiB address space comes near it; more is no upgrade.
constexpr size_t kUpgradeFileLimit = 64 * 1024 * 1024;

// The upgrade and the .id beside it, each read once: the digest, the image, the record
// and a backup's .id all come from these bytes, so a file replaced on the disk while it
// is used changes nothing.
struct UpgradeSource
{
    std::string path; // as given
    bool read = false;
    std::string bytes;
    std::string sha256;  // of bytes; empty when they could not be read
    std::string problem; // why not read: one line, without the program's name
    platform::SmallFileStatus idStatus = platform::SmallFileStatus::Missing;
    std::string idBytes, idProblem;
};
UpgradeSource ReadUpgrade(const std::string& path);

struct LoadPolicy
{
    std::optional<uint32_t> base; // a raw binary's place in flash
    std::string expectSha256;     // the file's digest must be this (any case); "" for no pin
    std::vector<std::string> trustedKeyFiles;
    bool requireSignature = false; // true with no key files trusts no one
    bool forProgramming = false;   // the file must hold something for 0F0000-0FFFFF
};

enum class RefusalKind {
    Unreadable,      // not read at all
    Digest,          // not the pinned release
    Signature,       // a key that cannot be read, or no good signature by a trusted one
    Content,         // its reader refused a line or the whole
    NothingToProgram // nothing for 0F0000-0FFFFF
};

struct UpgradeRefusal
{
    RefusalKind kind;
    std::string text; // one line, without the program's name: "panel.mot: refused: line 3: …"
};

// Where the image holds data bytes: inside the area that is programmed and outside it.
struct AreaCoverage
{
    bool inside = false;
    bool outside = false;
};
AreaCoverage CoverageOf(const CMotFile& image);

struct UpgradeVerdict
{
    std::optional<UpgradeRefusal> refusal;
    const UpgradeFormat* format = nullptr; // the reader that read it
    std::string signer;                    // the trusted key's name, when one was asked for
    AreaCoverage coverage;
    bool Ok() const { return !refusal; }
};

// Fills image from the source's bytes under the policy. A refused file leaves the image
// refused (never whole), so no flash command can take it.
[[nodiscard]] UpgradeVerdict LoadUpgrade(const UpgradeSource& source, const LoadPolicy& policy,
                                         CMotFile& image);

// Writes the source's .id, as it was read, to `to` (a backup's), or, where the source has none,
// removes one left there; nothing, or why not.
[[nodiscard]] std::optional<std::string> CopyIdFile(const UpgradeSource& source, const std::string& to);

} // namespace upgrade
