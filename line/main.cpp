// torvane-line: the line's records in a browser, and its users.
#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "line/LineServer.h"
#include "line/LineStations.h"
#include "line/LineUsers.h"
#include "records/server/PgConnection.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

bool Connect(const std::string& url, CPgConnection& conn)
{
    std::string error;
    if (const std::string refused = CPgConnection::Refuse(url); !refused.empty()) {
        std::cerr << "torvane-line: " << refused << "\n";
        return false;
    }
    if (!conn.Connect(url, error)) {
        std::cerr << "torvane-line: cannot reach the records server: " << error << "\n";
        return false;
    }
    return true;
}

// The first line of standard input; on a terminal it is asked for without echo.
std::string ReadPassword()
{
    const bool terminal = isatty(STDIN_FILENO);
    termios saved{};
    if (terminal && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::cerr << "password: " << std::flush;
    }
    std::string password;
    std::getline(std::cin, password);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

int Serve(const line::CLineServerSettings& settings)
{
    if (const std::string refused = line::RefuseSettings(settings); !refused.empty()) {
        std::cerr << "torvane-line: " << refused << "\n";
        return kExitUsage;
    }
    for (const std::string* url : {&settings.recordsServer, &settings.ingestServer})
        if (const std::string refused = CPgConnection::Refuse(*url); !refused.empty()) {
            std::cerr << "torvane-line: " << refused << "\n";
            return kExitUsage;
        }
    // Ctrl-C and systemd's stop end the server in order; the signals wait for one thread.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    line::CLineServer server(settings);
    std::string error;
    if (!server.Bind(error)) {
        std::cerr << "torvane-line: " << error << "\n";
        return kExitFailed;
    }
    std::cerr << "torvane-line: serving " << (settings.tlsCert.empty() ? "http" : "https") << " on "
              << settings.listen << "\n";
    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stops, &signal);
        std::cerr << "torvane-line: stopping\n";
        server.Stop();
    });
    const bool ran = server.Run();
    if (waiter.joinable()) {
        pthread_kill(waiter.native_handle(), SIGTERM); // the server ended on its own
        waiter.join();
    }
    return ran ? 0 : kExitFailed;
}

int Stations(CPgConnection& conn, const std::string& name, bool add, bool remove)
{
    std::string error, token;
    if (add) {
        if (!line::AddStation(conn, name, token, error)) {
            std::cerr << "torvane-line: " << error << "\n";
            return kExitFailed;
        }
        // Shown this once: the server keeps only its SHA-256.
        std::cout << token << "\n";
        std::cerr << "torvane-line: station " << name
                  << " added; its token is above, shown only now: keep it in the station's token file\n";
    } else if (remove) {
        if (!line::RemoveStation(conn, name, error)) {
            std::cerr << "torvane-line: " << error << "\n";
            return kExitFailed;
        }
        std::cerr << "torvane-line: station " << name << " removed; its token no longer works\n";
    } else {
        std::vector<line::CStationEntry> stations;
        if (!line::ListStations(conn, stations, error)) {
            std::cerr << "torvane-line: " << error << "\n";
            return kExitFailed;
        }
        for (const line::CStationEntry& entry : stations)
            std::cout << entry.name << "\t" << entry.createdUtc << "\n";
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"torvane-line: the line's records in a browser, from the records server the stations use.\n"
                 "Example: torvane-line serve --records-server 'host=records.plant dbname=torvane "
                 "user=torvane_line_reader'"};
    app.set_version_flag("--version", std::string("torvane-line ") + TORVANE_VERSION);
    app.require_subcommand(1);

    line::CLineServerSettings settings;
    CLI::App* serve = app.add_subcommand("serve", "Serve the page, the API and /metrics");
    serve
        ->add_option("--records-server", settings.recordsServer,
                     "The records server (libpq's connection string)")
        ->required();
    serve->add_option("--ingest-server", settings.ingestServer,
                      "The records server as a role that may write the records and fixture states: "
                      "stations send to POST /api/ingest with their tokens (none without it)");
    serve->add_option("--listen", settings.listen, "ADDR:PORT to listen on (another than loopback needs TLS)")
        ->capture_default_str();
    serve->add_option("--host", settings.hosts,
                      "A Host name to answer (repeatable; default localhost, 127.0.0.1 and [::1])");
    serve->add_option("--tls-cert", settings.tlsCert, "The server's certificate chain (PEM)");
    serve->add_option("--tls-key", settings.tlsKey, "The certificate's private key (PEM)");

    std::string url, name;
    CLI::App* user = app.add_subcommand("user", "Add, remove or list the users who may log in");
    user->require_subcommand(1);
    CLI::App* add =
        user->add_subcommand("add", "Add a user, or set a new password (read from standard input)\n"
                                    "Example: torvane-line user add anna --records-server URL");
    CLI::App* remove = user->add_subcommand("remove", "Remove a user");
    CLI::App* list = user->add_subcommand("list", "List the users");
    for (CLI::App* command : {add, remove})
        command->add_option("NAME", name, "The user's name")->required();
    for (CLI::App* command : {add, remove, list})
        command->add_option("--records-server", url, "The records server, as an owner of its tables")
            ->required();

    CLI::App* station =
        app.add_subcommand("station", "Add, remove or list the stations that send to the ingest");
    station->require_subcommand(1);
    CLI::App* stationAdd =
        station->add_subcommand("add", "Add a station and print its token, once\n"
                                       "Example: torvane-line station add line3-pc --records-server URL");
    CLI::App* stationRemove = station->add_subcommand("remove", "Remove a station: its token stops working");
    CLI::App* stationList = station->add_subcommand("list", "List the stations and when each was added");
    for (CLI::App* command : {stationAdd, stationRemove})
        command->add_option("NAME", name, "The station's host name, as its records carry it")->required();
    for (CLI::App* command : {stationAdd, stationRemove, stationList})
        command->add_option("--records-server", url, "The records server, as an owner of its tables")
            ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitUsage;
    }

    if (serve->parsed()) return Serve(settings);

    CPgConnection conn;
    if (!Connect(url, conn)) return kExitFailed;
    std::string error;
    if (station->parsed()) return Stations(conn, name, stationAdd->parsed(), stationRemove->parsed());
    if (!line::InitUsers(conn, error)) {
        std::cerr << "torvane-line: cannot set up the users' table: " << error << "\n";
        return kExitFailed;
    }
    if (add->parsed()) {
        const std::string password = ReadPassword();
        if (!line::AddUser(conn, name, password, error)) {
            std::cerr << "torvane-line: " << error << "\n";
            return kExitFailed;
        }
        std::cerr << "torvane-line: " << name << " may log in\n";
    } else if (remove->parsed()) {
        if (!line::RemoveUser(conn, name, error)) {
            std::cerr << "torvane-line: " << error << "\n";
            return kExitFailed;
        }
        std::cerr << "torvane-line: " << name << " removed (a login cached in a running server ends within "
                  << std::chrono::duration_cast<std::chrono::minutes>(line::CUserCheck::kRemembered).count()
                  << " minutes)\n";
    } else {
        std::vector<std::string> names;
        if (!line::ListUsers(conn, names, error)) {
            std::cerr << "torvane-line: " << error << "\n";
            return kExitFailed;
        }
        for (const std::string& n : names)
            std::cout << n << "\n";
    }
    return 0;
}
