// The line server's POST on Windows: WinHTTP, part of Windows. A pinned certificate is
// checked here, before the request (and its token) goes out, since WinHTTP knows only
// the system's store: WinHTTP is told to accept an unknown authority and nothing else.
#include <windows.h>
// after windows.h
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/Path.h"
#include "platform/SmallFile.h"
#include "platform/win32/Win32Text.h"
#include "records/server/LineServerPost.h"

namespace records_server {

namespace {

using platform::win32::ErrorText;
using platform::win32::Widen;

// An answer longer than this is no ingest answer (at most 500 short results).
constexpr size_t kLongestAnswer = 1024 * 1024;

struct CInternet
{
    HINTERNET handle = nullptr;
    explicit CInternet(HINTERNET h) : handle(h) {}
    ~CInternet()
    {
        if (handle) ::WinHttpCloseHandle(handle);
    }
    CInternet(const CInternet&) = delete;
    CInternet& operator=(const CInternet&) = delete;
};

struct CCertificate
{
    PCCERT_CONTEXT context = nullptr;
    CCertificate() = default;
    explicit CCertificate(PCCERT_CONTEXT c) : context(c) {}
    ~CCertificate()
    {
        if (context) ::CertFreeCertificateContext(context);
    }
    CCertificate(const CCertificate&) = delete;
    CCertificate& operator=(const CCertificate&) = delete;
};

// The first certificate of a PEM file.
PCCERT_CONTEXT LoadPem(const std::string& file, std::string& error)
{
    std::string pem, why;
    if (platform::ReadSmallFile(platform::CPath::FromUtf8(file), pem, why) != platform::SmallFileStatus::Ok) {
        error = why.empty() ? file + ": cannot be read" : why;
        return nullptr;
    }
    DWORD size = 0;
    if (pem.empty() || !::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                               CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        error = file + ": no PEM certificate";
        return nullptr;
    }
    std::vector<BYTE> der(size);
    ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                           &size, nullptr, nullptr);
    PCCERT_CONTEXT certificate =
        ::CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), size);
    if (!certificate) error = file + ": no PEM certificate: " + ErrorText(::GetLastError());
    return certificate;
}

// The server's certificate is the pinned one, or the pinned one signed it.
bool Pinned(HINTERNET request, PCCERT_CONTEXT pinned)
{
    PCCERT_CONTEXT served = nullptr;
    DWORD size = sizeof served;
    if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &served, &size) || !served)
        return false;
    const CCertificate owned(served);
    if (served->cbCertEncoded == pinned->cbCertEncoded &&
        std::equal(served->pbCertEncoded, served->pbCertEncoded + served->cbCertEncoded,
                   pinned->pbCertEncoded))
        return true;
    return ::CertCompareCertificateName(X509_ASN_ENCODING, &served->pCertInfo->Issuer,
                                        &pinned->pCertInfo->Subject) &&
           ::CryptVerifyCertificateSignatureEx(
               0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT, const_cast<CERT_CONTEXT*>(served),
               CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT, const_cast<CERT_CONTEXT*>(pinned), 0, nullptr);
}

struct PinCheck
{
    PCCERT_CONTEXT pinned = nullptr;
    bool checked = false, refused = false;
};

// Called once TLS is up and before the request is written: a server that is not the
// pinned one never sees the token.
void CALLBACK BeforeSending(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID, DWORD)
{
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || !context) return;
    PinCheck& check = *reinterpret_cast<PinCheck*>(context);
    if (!check.pinned) return;
    check.checked = true;
    if (!Pinned(request, check.pinned)) {
        check.refused = true;
        ::WinHttpCloseHandle(request); // cancels the request
    }
}

} // namespace

bool PostToLineServer(const LineServerUrl& url, const std::string& path, const std::string& token,
                      const std::string& body, const std::string& serverCert,
                      std::chrono::milliseconds timeLimit, HttpAnswer& answer, std::string& error)
{
    CCertificate pinned;
    if (url.tls && !serverCert.empty()) {
        pinned.context = LoadPem(serverCert, error);
        if (!pinned.context) return false;
    }
    const auto fail = [&](const char* what) {
        error =
            std::string("the line server cannot be reached (") + what + "): " + ErrorText(::GetLastError());
        return false;
    };
    CInternet session(::WinHttpOpen(L"torvane-cli", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.handle) return fail("WinHttpOpen");
    const int ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(timeLimit.count(), 0x7fffffff));
    ::WinHttpSetTimeouts(session.handle, ms, ms, ms, ms);
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
#ifdef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
    protocols |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
#endif
    if (!::WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2; // a Windows without TLS 1.3
        ::WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
    CInternet connection(::WinHttpConnect(session.handle, Widen(url.host).c_str(), url.port, 0));
    if (!connection.handle) return fail("WinHttpConnect");
    CInternet request(::WinHttpOpenRequest(connection.handle, L"POST", Widen(path).c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           url.tls ? WINHTTP_FLAG_SECURE : 0));
    if (!request.handle) return fail("WinHttpOpenRequest");
    // The token goes to this server only, never where a redirect points.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    ::WinHttpSetOption(request.handle, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
    PinCheck check{pinned.context};
    if (pinned.context) {
        // The name and the dates are still WinHTTP's to check; the authority is ours.
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        if (!::WinHttpSetOption(request.handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags))
            return fail("security flags");
        if (::WinHttpSetStatusCallback(request.handle, BeforeSending, WINHTTP_CALLBACK_FLAG_SEND_REQUEST,
                                       0) == WINHTTP_INVALID_STATUS_CALLBACK)
            return fail("status callback");
    }
    const std::wstring headers =
        L"Authorization: Bearer " + Widen(token) + L"\r\nContent-Type: application/json\r\n";
    const BOOL sent =
        ::WinHttpSendRequest(request.handle, headers.c_str(), static_cast<DWORD>(-1L),
                             const_cast<char*>(body.data()), static_cast<DWORD>(body.size()),
                             static_cast<DWORD>(body.size()), reinterpret_cast<DWORD_PTR>(&check));
    if (check.refused) {
        request.handle = nullptr; // closed by the check
        error = "the line server's certificate is not " + serverCert + " nor signed by it";
        return false;
    }
    if (!sent || !::WinHttpReceiveResponse(request.handle, nullptr)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_WINHTTP_SECURE_FAILURE || code == ERROR_WINHTTP_SECURE_INVALID_CA ||
            code == ERROR_WINHTTP_SECURE_CERT_CN_INVALID || code == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID ||
            code == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) {
            // Some WinHTTPs tell a refused certificate only as a failed secure channel.
            error =
                "the line server's certificate is not trusted, or its TLS not accepted" +
                std::string(serverCert.empty() ? " by the system's store (give it with --server-cert FILE)"
                                               : "") +
                ": " + ErrorText(code);
            return false;
        }
        return fail("no answer");
    }
    // Should the callback not have run, the answer of a server not pinned is no answer.
    if (pinned.context && !check.checked && !Pinned(request.handle, pinned.context)) {
        error = "the line server's certificate is not " + serverCert + " nor signed by it";
        return false;
    }
    DWORD status = 0, size = sizeof status;
    if (!::WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return fail("status");
    answer.status = static_cast<int>(status);
    answer.body.clear();
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.handle, &available)) return fail("reading the answer");
        if (available == 0) break;
        if (answer.body.size() + available > kLongestAnswer) {
            error = "the line server's answer is too long";
            return false;
        }
        const size_t at = answer.body.size();
        answer.body.resize(at + available);
        DWORD read = 0;
        if (!::WinHttpReadData(request.handle, answer.body.data() + at, available, &read))
            return fail("reading the answer");
        answer.body.resize(at + read);
    }
    return true;
}

} // namespace records_server
