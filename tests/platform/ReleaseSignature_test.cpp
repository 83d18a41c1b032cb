// Signed releases on both systems' libraries, from one corpus made once with openssl
// (signatures/make-corpus): what is accepted, and the same refusals on Linux and Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/ReleaseSignature.h"

namespace {

const std::filesystem::path kCorpus = std::filesystem::path(TORVANE_SOURCE_DIR) / "tests/platform/signatures";

std::vector<uint8_t> ReadBytes(const std::string& name)
{
    std::ifstream in(kCorpus / name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<platform::TrustedKey> Keys(const std::vector<std::string>& names)
{
    std::vector<std::string> paths;
    for (const std::string& name : names)
        paths.push_back((kCorpus / name).string());
    std::vector<platform::TrustedKey> keys;
    const auto trouble = platform::ReadTrustedKeys(paths, keys);
    EXPECT_FALSE(trouble) << *trouble;
    return keys;
}

TEST(ReleaseSignature, names_the_trusted_key_that_signed_and_refuses_any_other)
{
    const std::vector<uint8_t> upgrade = ReadBytes("upgrade.bin");
    ASSERT_EQ(upgrade.size(), 5000u);
    const auto both = Keys({"other.pub.pem", "release.pub.pem"});
    const std::string release = (kCorpus / "release.pub.pem").string();
    const std::string signedFile = (kCorpus / "upgrade.bin").string();

    const auto good = platform::VerifyDetachedSignature(upgrade, signedFile, both);
    ASSERT_TRUE(good.Accepted()) << good.refusal;
    EXPECT_EQ(*good.signer, release);

    std::vector<uint8_t> tampered = upgrade;
    tampered[1234] ^= 0x01;
    EXPECT_EQ(platform::VerifyDetachedSignature(tampered, signedFile, both).refusal,
              signedFile + ".sig: not signed by a trusted key");
    EXPECT_EQ(
        platform::VerifySignature(upgrade, ReadBytes("by-other.sig"), Keys({"release.pub.pem"})).refusal,
        "not signed by a trusted key");
    EXPECT_EQ(platform::VerifySignature(upgrade, ReadBytes("upgrade.bin.sig"), {}).refusal, "no trusted key");
    const std::string unsigned_ = (kCorpus / "unsigned.bin").string();
    EXPECT_EQ(platform::VerifyDetachedSignature(upgrade, unsigned_, both).refusal,
              "missing signature " + unsigned_ + ".sig");
}

TEST(ReleaseSignature, refuses_every_encoding_but_the_minimal_one)
{
    const std::vector<uint8_t> upgrade = ReadBytes("upgrade.bin");
    const auto keys = Keys({"release.pub.pem"});
    for (const char* name : {"trailing-byte.sig", "non-minimal.sig", "garbage.sig", "by-p384.sig"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> signature = ReadBytes(name);
        ASSERT_FALSE(signature.empty());
        EXPECT_EQ(platform::VerifySignature(upgrade, signature, keys).refusal, "malformed signature");
    }
    EXPECT_EQ(platform::VerifySignature(upgrade, {}, keys).refusal, "malformed signature");
}

TEST(ReleaseSignature, takes_only_the_low_s_form_where_asked)
{
    const std::vector<uint8_t> statement = ReadBytes("upgrade.bin.statement");
    const auto keys = Keys({"release.pub.pem"});
    EXPECT_TRUE(platform::VerifySignature(statement, ReadBytes("statement.sig"), keys).Accepted());
    // The same signature's other valid form: a second signature of one release.
    const std::vector<uint8_t> twin = ReadBytes("high-s.sig");
    EXPECT_EQ(platform::VerifySignature(statement, twin, keys).refusal, platform::kHighSRefusal);
    EXPECT_TRUE(platform::VerifySignature(statement, twin, keys, platform::SForm::Either).Accepted());
}

TEST(ReleaseSignature, trusts_only_p256_public_keys)
{
    std::vector<platform::TrustedKey> keys;
    const std::string p384 = (kCorpus / "p384.pub.pem").string();
    EXPECT_EQ(platform::ReadTrustedKeys({p384}, keys), "the trusted key " + p384 + ": not a P-256 key");
    const std::string notKey = (kCorpus / "upgrade.bin.sig").string();
    EXPECT_EQ(platform::ReadTrustedKeys({notKey}, keys),
              "the trusted key " + notKey + ": not a PEM public key");
    const std::string missing = (kCorpus / "none.pem").string();
    EXPECT_EQ(platform::ReadTrustedKeys({missing}, keys), "cannot read the trusted key " + missing);
    EXPECT_TRUE(keys.empty());
}

} // namespace
