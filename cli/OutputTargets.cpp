#include "cli/OutputTargets.h"

#include <vector>

#include "image/IdFile.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"

namespace {

bool SameFile(const std::string& first, const std::string& second)
{
    const auto a = platform::CPath::FromUtf8(first), b = platform::CPath::FromUtf8(second);
    if (platform::IsSameFile(a, b)) return true;
    const auto resolvedA = platform::Resolved(a), resolvedB = platform::Resolved(b);
    return resolvedA && resolvedB && *resolvedA == *resolvedB;
}

} // namespace

std::string RefuseOutputTargets(const CliOptions& options)
{
    std::vector<std::string> outputs;
    for (const std::string* output : {&options.backup, &options.output}) {
        if (output->empty()) continue;
        outputs.push_back(*output);
        if (output == &options.backup) {
            if (const std::string id = IdFileName(*output); !id.empty()) outputs.push_back(id);
        }
    }
    if (outputs.empty()) return {};
    if (options.ports.size() > 1)
        return "one output file cannot serve several --port (each panel would overwrite the others'); run "
               "once "
               "per port";
    std::vector<std::string> inputs;
    if (!options.file.empty()) {
        inputs.push_back(options.file);
        if (const std::string id = IdFileName(options.file); !id.empty()) inputs.push_back(id);
    }
    for (const std::string& output : outputs) {
        // The backup's .id may be the upgrade's own .id (old.s beside old.mot): copying a
        // file onto itself is left out, so only the first output is held to this.
        if (output == outputs.front()) {
            for (const std::string& input : inputs)
                if (SameFile(output, input))
                    return output + " is the upgrade file itself; choose another name";
        }
        if (std::string error; !platform::CheckOutputTarget(platform::CPath::FromUtf8(output), error))
            return error;
    }
    return {};
}

std::string RefuseEarlierBackup(const CliOptions& options)
{
    // The file may hold the only copy of a panel's old firmware: replacing it takes a word.
    if (options.backup.empty() || options.overwriteBackup ||
        !platform::Exists(platform::CPath::FromUtf8(options.backup)))
        return {};
    return options.backup + " is there already (an earlier backup?): name another file, or add "
                            "--overwrite-backup to replace it";
}
