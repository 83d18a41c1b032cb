#pragma once
// torvane-cli sign: a release engineer's signature of an upgrade, FILE.sig beside it,
// over what the file puts into flash (its ranges and their bytes), in the one form
// the lines accept.
#include <iosfwd>
#include <optional>
#include <string>

namespace CLI {
class App;
}

struct SignCommandOptions
{
    std::string file;
    std::string key;
    std::optional<uint32_t> base;
};

CLI::App* AddSignCommand(CLI::App& app, SignCommandOptions& options);
// 0 when FILE.sig was written; 6 when FILE is refused; 1 when the key cannot sign or
// the signature cannot be written.
int RunSignCommand(const SignCommandOptions& options, std::ostream& out, std::ostream& err);
