#include "cli/SignCommand.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "cli/ExitCode.h"
#include "image/MotFile.h"
#include "image/UpgradeFormats.h"
#include "platform/OutputFile.h"
#include "platform/Path.h"
#include "platform/ReleaseSignature.h"
#include "platform/SmallFile.h"
#include "station/StationJob.h"
#include "upgrade/ImageStatement.h"
#include "upgrade/UpgradeFile.h"

CLI::App* AddSignCommand(CLI::App& app, SignCommandOptions& options)
{
    CLI::App* sign =
        app.add_subcommand("sign", "sign an upgrade for the lines that trust your key: FILE.sig");
    sign->add_option("FILE", options.file, "the upgrade: S-records or Intel HEX, or raw binary with --base")
        ->required();
    sign->add_option("--key", options.key, "the private key (PEM, ECDSA P-256, no passphrase)")
        ->required()
        ->type_name("KEY.pem");
    sign->add_option_function<std::string>(
            "--base",
            [&options](const std::string& text) {
                options.base = station::ParseHexAddress(text);
                if (!options.base) throw CLI::ValidationError("--base", "an address in hex, below 1000000");
            },
            "FILE is raw binary, its first byte for this address (hex, e.g. 0F0000); signed with it")
        ->type_name("ADDR");
    sign->footer("Example: torvane-cli sign panel.bin --base 0F0000 --key release-key.pem");
    return sign;
}

int RunSignCommand(const SignCommandOptions& options, std::ostream& out, std::ostream& err)
{
    CMotFile image;
    upgrade::LoadPolicy policy;
    policy.base = options.base;
    const upgrade::UpgradeVerdict verdict =
        upgrade::LoadUpgrade(upgrade::ReadUpgrade(options.file), policy, image);
    if (!verdict.Ok()) {
        err << "torvane-cli: " << verdict.refusal->text << '\n';
        return static_cast<int>(ExitCode::FileRefused);
    }
    std::string pem, problem;
    if (platform::ReadSmallFile(platform::CPath::FromUtf8(options.key), pem, problem) !=
        platform::SmallFileStatus::Ok) {
        err << "torvane-cli: cannot read the key " << options.key << (problem.empty() ? "" : ": " + problem)
            << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    const std::string statement = upgrade::ImageStatement(image);
    std::string signature;
    if (const auto why = platform::SignLowS(
            {reinterpret_cast<const uint8_t*>(statement.data()), statement.size()}, pem, signature)) {
        err << "torvane-cli: the key " << options.key << ": " << *why << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    const std::string sigPath = options.file + ".sig";
    if (std::string error;
        !platform::WriteFileAtomically(platform::CPath::FromUtf8(sigPath), signature, error)) {
        err << "torvane-cli: " << error << '\n';
        return static_cast<int>(ExitCode::Failed);
    }
    out << "signed " << options.file << " (" << verdict.format->name << "): " << sigPath << " covers\n"
        << statement.substr(statement.find('\n') + 1);
    return 0;
}
