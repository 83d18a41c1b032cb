#pragma once
// Output files of the command line (read -o, --backup and the backup's .id), checked
// before any port is touched and written so that nothing else is harmed.
#include <string>

#include "cli/Options.h"

// Empty when the options' output files may be written, else why not: one output file with
// several ports (each panel's child would overwrite the others', leaving a mix of two
// panels), an output that is the upgrade file or its .id itself, or a target that is no
// plain file (a folder, a device, NUL.mot on Windows).
std::string RefuseOutputTargets(const CliOptions& options);

// Empty unless --backup names a file that is there already (an earlier backup, say) and
// --overwrite-backup does not allow it to be replaced: then the one line to refuse it with.
std::string RefuseEarlierBackup(const CliOptions& options);
