#pragma once
// The line's HTTP(S) server: the page, the API and the metrics, read from the records
// server through a connection that may only read; and the stations' ingest, written
// through another that may write.
#include <memory>
#include <string>
#include <vector>

namespace line {

struct CLineServerSettings
{
    std::string recordsServer;             // libpq's connection string, a role that may only read
    std::string ingestServer;              // the same server as a role that may write the records
                                           // and states; empty: no ingest
    std::string listen = "127.0.0.1:8080"; // ADDR:PORT, [IPv6]:PORT
    std::vector<std::string> hosts;        // the Host names answered; empty: the loopback names
    std::string tlsCert, tlsKey;           // PEM files; both or neither
};

// Why these settings must not be served (a non-loopback address without TLS, half a TLS
// pair, an address that is no ADDR:PORT); empty when they may.
std::string RefuseSettings(const CLineServerSettings& settings);
// "[::1]:8443" -> "::1", 8443; false when it is no ADDR:PORT.
bool SplitListen(const std::string& listen, std::string& address, int& port);

class CLineServer
{
public:
    // Threads for plain requests, and as many again for the event streams that each hold one.
    static constexpr size_t kRequestThreads = 16;
    static constexpr size_t kStreamThreads = 256;
    // A page's or the API's queries on a busy server end by this.
    static constexpr int kQuerySeconds = 5;
    // An ingest's batch (its token check, its upserts and states) ends by this.
    static constexpr int kIngestSeconds = 15;

    explicit CLineServer(CLineServerSettings settings);
    ~CLineServer();
    // Binds the address (port 0: any free one); error as one line.
    bool Bind(std::string& error);
    int Port() const;
    // Serves until Stop.
    bool Run();
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace line
