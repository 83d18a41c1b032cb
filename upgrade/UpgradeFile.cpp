#include "upgrade/UpgradeFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <span>

#include "image/IdFile.h"
#include "image/MotFile.h"
#include "image/UpgradeFormats.h"
#include "loader/Protocol.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/ReleaseSignature.h"
#include "platform/Sha256.h"
#include "platform/TextFile.h"
#include "upgrade/ImageStatement.h"

namespace upgrade {
namespace {

std::span<const uint8_t> Bytes(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

UpgradeVerdict Refused(RefusalKind kind, std::string text)
{
    UpgradeVerdict verdict;
    verdict.refusal = UpgradeRefusal{kind, std::move(text)};
    return verdict;
}

} // namespace

UpgradeSource ReadUpgrade(const std::string& path)
{
    UpgradeSource source;
    source.path = path;
    if (const std::string idPath = IdFileName(path); !idPath.empty())
        source.idStatus =
            platform::ReadSmallFile(platform::CPath::FromUtf8(idPath), source.idBytes, source.idProblem);
    const std::string missing = path + ": no such file";
    if (!platform::IsRegularFile(platform::CPath::FromUtf8(path))) {
        source.problem = missing;
        return source;
    }
    try {
        uint64_t size = 0;
        const platform::UniqueFile file = platform::OpenRegularFile(platform::CPath::FromUtf8(path), size);
        if (!file) {
            source.problem = missing;
            return source;
        }
        char chunk[64 * 1024];
        for (;;) {
            errno = 0;
            const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
            const int error = errno;
            if (source.bytes.size() + got > kUpgradeFileLimit) {
                source.bytes.clear();
                source.problem = path + ": refused: larger than " +
                                 std::to_string(kUpgradeFileLimit / (1024 * 1024)) + " MiB";
                return source;
            }
            source.bytes.append(chunk, got);
            if (got == sizeof chunk) continue;
            if (std::ferror(file.get())) throw CFileException::FromErrno(error ? error : EIO, path);
            break;
        }
    } catch (const CFileException& e) {
        source.bytes.clear();
        source.problem = e.GetErrorMessage();
        return source;
    }
    source.read = true;
    source.sha256 = platform::Sha256Of(source.bytes);
    return source;
}

AreaCoverage CoverageOf(const CMotFile& image)
{
    AreaCoverage coverage;
    coverage.inside = image.HoldsDataIn(loader::kAreaStart, loader::kAreaEnd);
    coverage.outside = image.HoldsDataIn(0, loader::kAreaStart) ||
                       image.HoldsDataIn(loader::kAreaEnd, CMotFile::kAddressLimit);
    return coverage;
}

UpgradeVerdict LoadUpgrade(const UpgradeSource& source, const LoadPolicy& policy, CMotFile& image)
{
    // Whatever is refused below, nothing of an earlier load may stay flashable.
    image.BeginLoad();
    const std::string& file = source.path;
    if (!policy.expectSha256.empty() && source.read && source.sha256 != Lower(policy.expectSha256))
        return Refused(RefusalKind::Digest,
                       file + ": refused: its SHA-256 is " +
                           (source.sha256.empty() ? std::string("unreadable") : source.sha256) +
                           ", not the expected " + Lower(policy.expectSha256));
    std::vector<platform::TrustedKey> keys;
    const bool signatureWanted = policy.requireSignature || !policy.trustedKeyFiles.empty();
    if (signatureWanted) {
        if (const auto trouble = platform::ReadTrustedKeys(policy.trustedKeyFiles, keys))
            return Refused(RefusalKind::Signature, *trouble);
    }
    if (!source.read) return Refused(RefusalKind::Unreadable, source.problem);

    UpgradeVerdict verdict;
    const UpgradeFormat& format = ReaderFor(Bytes(source.bytes), policy.base);
    verdict.format = &format;
    // A text format holds its addresses, so a signature over its very bytes covers what
    // is flashed: releases signed so before, in either form of s, keep working. It is
    // checked before any reader sees the bytes.
    platform::SignatureVerdict signature;
    if (signatureWanted && !format.needsBase)
        signature =
            platform::VerifyDetachedSignature(Bytes(source.bytes), file, keys, platform::SForm::Either);
    const bool signedFile = signature.Accepted();
    if (auto refusal = format.read(Bytes(source.bytes), policy.base, image)) {
        image.RefuseLoad(*refusal);
        if (signatureWanted && !signedFile && !format.needsBase)
            return Refused(RefusalKind::Signature, file + ": refused: " + signature.refusal);
        return Refused(RefusalKind::Content, file + ": refused: " + refusal->Text());
    }
    if (signatureWanted && !signedFile) {
        // Otherwise the signature covers the image: its ranges and their bytes.
        const std::string statement = ImageStatement(image);
        signature = platform::VerifyDetachedSignature(Bytes(statement), file, keys);
        if (!signature.Accepted()) {
            image.RefuseLoad({0, "not signed by a trusted key"});
            return Refused(RefusalKind::Signature, file + ": refused: " + signature.refusal);
        }
    }
    if (signatureWanted) verdict.signer = *signature.signer;
    verdict.coverage = CoverageOf(image);
    if (policy.forProgramming && !verdict.coverage.inside) {
        image.RefuseLoad({0, "nothing for the area that is programmed"});
        return Refused(RefusalKind::NothingToProgram,
                       file + " holds nothing for 0F0000-0FFFFF, the area that is programmed");
    }
    return verdict;
}

std::optional<std::string> CopyIdFile(const UpgradeSource& source, const std::string& to)
{
    const std::string from = IdFileName(source.path);
    if (platform::IsSameFile(platform::CPath::FromUtf8(from), platform::CPath::FromUtf8(to)))
        return std::nullopt;
    switch (source.idStatus) {
    case platform::SmallFileStatus::Ok:
        break;
    case platform::SmallFileStatus::Missing: {
        // An upgrade without one is flashed with the default ID: so is its backup, and an
        // .id left there by an earlier backup must not pair with this one.
        std::error_code ec;
        std::filesystem::remove(platform::CPath::FromUtf8(to).Native(), ec);
        if (ec) return "Cannot remove " + to + ", the ID file of an earlier backup: " + ec.message();
        return std::nullopt;
    }
    case platform::SmallFileStatus::Refused:
        return source.idProblem;
    }
    std::string error;
    if (!platform::WriteFileAtomically(platform::CPath::FromUtf8(to), source.idBytes, error)) return error;
    return std::nullopt;
}

} // namespace upgrade
