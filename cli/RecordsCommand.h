#pragma once
// torvane-cli records: the attempts of the records database, filtered, as a table,
// CSV or JSON lines, or their yield.
#include <ostream>
#include <string>

#include "cli/RecordsServerOptions.h"

namespace CLI {
class App;
}

class CRecordsCommand
{
public:
    // Adds the subcommand "records" to the command line.
    void Register(CLI::App& app);
    // Whether the command line chose it (after parsing).
    bool Chosen() const;
    // The exit code: 0, 1 when the file cannot be read, 2 for a time that is no time or a
    // job file that cannot be used.
    int Run(std::ostream& out, std::ostream& err);

private:
    CLI::App* m_command = nullptr;
    std::string m_since, m_until, m_port, m_outcome, m_tag, m_serial, m_file, m_job;
    bool m_csv = false, m_json = false, m_stats = false;
    RecordsServerActions m_server;
};
