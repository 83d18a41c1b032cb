// The line server's POST on Linux: cpp-httplib's client over OpenSSL.
#include <httplib.h>
#include <openssl/ssl.h>

#include "records/server/LineServerPost.h"

namespace records_server {

namespace {

template <class Client> void Bound(Client& client, std::chrono::milliseconds timeLimit)
{
    // Each wait is capped by the whole call's time: a server that answers a byte at a
    // time cannot hold a station for long, though several waits may add up.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeLimit);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(timeLimit - seconds);
    client.set_connection_timeout(seconds.count(), micros.count());
    client.set_read_timeout(seconds.count(), micros.count());
    client.set_write_timeout(seconds.count(), micros.count());
}

bool Answer(const httplib::Result& result, HttpAnswer& answer, std::string& error)
{
    if (!result) {
        error = "the line server cannot be reached: " + httplib::to_string(result.error());
        return false;
    }
    answer.status = result->status;
    answer.body = result->body;
    return true;
}

} // namespace

bool PostToLineServer(const LineServerUrl& url, const std::string& path, const std::string& token,
                      const std::string& body, const std::string& serverCert,
                      std::chrono::milliseconds timeLimit, HttpAnswer& answer, std::string& error)
{
    const httplib::Headers headers{{"Authorization", "Bearer " + token}};
    if (!url.tls) {
        httplib::Client client(url.host, url.port);
        Bound(client, timeLimit);
        return Answer(client.Post(path, headers, body, "application/json"), answer, error);
    }
    httplib::SSLClient client(url.host, url.port);
    Bound(client, timeLimit);
    // Without a pinned certificate, the system's store (httplib then loads OpenSSL's
    // default paths); the host name is checked against the certificate either way.
    if (!serverCert.empty()) client.set_ca_cert_path(serverCert.c_str());
    client.enable_server_certificate_verification(true);
    SSL_CTX_set_min_proto_version(client.ssl_context(), TLS1_2_VERSION);
    httplib::Result result = client.Post(path, headers, body, "application/json");
    if (!result && result.error() == httplib::Error::SSLServerVerification) {
        error =
            "the line server's certificate is not trusted (" +
            (serverCert.empty() ? std::string("not by the system's store: give it with --server-cert FILE")
                                : "not signed by " + serverCert) +
            ")";
        return false;
    }
    if (!result && result.error() == httplib::Error::SSLConnection && !serverCert.empty()) {
        error = "the line server cannot be reached over TLS (is " + serverCert + " a PEM certificate?)";
        return false;
    }
    return Answer(result, answer, error);
}

} // namespace records_server
