#pragma once
// One HTTPS POST to the line server, with the station's token: cpp-httplib with OpenSSL
// on Linux, WinHTTP on Windows, behind one call.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace records_server {

struct LineServerUrl
{
    bool tls = true;
    std::string host; // as the certificate names it; an IPv6 address without brackets
    uint16_t port = 443;
};

// https://HOST[:PORT][/], or http:// to this PC only (a token in clear text must not
// cross a network); nullopt with the reason otherwise.
std::optional<LineServerUrl> ParseLineServerUrl(const std::string& url, std::string& why);
bool IsLoopbackHost(const std::string& host);

struct HttpAnswer
{
    int status = 0;
    std::string body;
};

// POSTs body (JSON) to path with "Authorization: Bearer token", over TLS 1.2 or newer.
// The server's certificate is checked against serverCert (a PEM file: the server's own
// certificate or the authority that signed it) or else the system's store, and its name
// against url.host. Never takes longer than timeLimit. False: no answer, error says why.
bool PostToLineServer(const LineServerUrl& url, const std::string& path, const std::string& token,
                      const std::string& body, const std::string& serverCert,
                      std::chrono::milliseconds timeLimit, HttpAnswer& answer, std::string& error);

} // namespace records_server
