#include "outside/sarvoth/telnetio.h"

#include "outside/sarvoth/telnettext.h"

#include "velmot/core/logit.h"

#include <cerrno>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

namespace sarvoth {

namespace {

// The text of the last OpenSSL error of this thread.
std::string OpenSslError(int sslError)
{
    unsigned long const e = ERR_get_error();
    if (e) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        return buf;
    }
    if (sslError == SSL_ERROR_SYSCALL)
        return errno ? strerror(errno) : "the server closed the connection";
    if (sslError == SSL_ERROR_ZERO_RETURN)
        return "the server closed the connection";
    return "error " + std::to_string(sslError);
}

std::string NameText(X509_NAME const* name)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return std::string();
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long const n = BIO_get_mem_data(bio, &data);
    std::string text = n > 0 && data ? std::string(data, static_cast<size_t>(n)) : std::string();
    BIO_free(bio);
    return text;
}

std::string Sha256Fingerprint(X509* cert)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!X509_digest(cert, EVP_sha256(), md, &len))
        return std::string();
    static char const hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned i = 0; i < len; ++i) {
        if (i)
            out += ':';
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

// A socket BIO whose writes never raise SIGPIPE: OpenSSL's own writes
// with write(), and a server that has gone would end the program. The rest
// (reads, controls, the descriptor) is the plain socket BIO's.
int NoSignalWrite(BIO* bio, char const* data, int len)
{
    int fd = -1;
    BIO_get_fd(bio, &fd);
    BIO_clear_retry_flags(bio);
    if (fd < 0 || len <= 0)
        return 0;
    ssize_t n;
    do {
        n = send(fd, data, static_cast<size_t>(len), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

BIO_METHOD const* NoSignalSocketMethod()
{
    static BIO_METHOD* const method = [] {
        BIO_METHOD const* base = BIO_s_socket();
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                     "socket without SIGPIPE");
        if (!m)
            return m;
        BIO_meth_set_write(m, NoSignalWrite);
        BIO_meth_set_read(m, BIO_meth_get_read(base));
        BIO_meth_set_puts(m, BIO_meth_get_puts(base));
        BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(base));
        BIO_meth_set_create(m, BIO_meth_get_create(base));
        BIO_meth_set_destroy(m, BIO_meth_get_destroy(base));
        return m;
    }();
    return method;
}

} // namespace

TELNETIO::TELNETIO() : TCPIPIO("0", "", "") {}

TELNETIO::~TELNETIO()
{
    std::lock_guard<std::mutex> guard(SslLock);
    SSL_free(Ssl);
    SSL_CTX_free(Ctx);
    Ssl = nullptr;
    Ctx = nullptr;
}

void TELNETIO::Prepare()
{
    CHANNELFD::REF socket = Socket.Acquire();
    if (!socket)
        return;
    int on = 1;
    setsockopt(*socket, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
    TCP::SetKeepAlive(*socket, 1);
}

namespace {

// What an SSL_read or SSL_write that gave n means for the channel: n bytes,
// -1 with EAGAIN when TLS waits for the socket, 0 at the peer's orderly end
// (reads), else -1 with failErrno.
int Outcome(SSL* ssl, int n, char const* what, int failErrno)
{
    if (n > 0)
        return n;
    int const e = SSL_get_error(ssl, n);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        errno = EAGAIN;
        return -1;
    }
    if (e == SSL_ERROR_ZERO_RETURN && failErrno == ECONNRESET)
        return 0;
    LOGIT("TELNETIO::%s %s\n", what, OpenSslError(e).c_str());
    errno = failErrno;
    return -1;
}

} // namespace

int TELNETIO::Recv(int socket, char* buf, int len)
{
    std::lock_guard<std::mutex> guard(SslLock);
    if (!Ssl)
        return TCPIPIO::Recv(socket, buf, len);
    ERR_clear_error();
    return Outcome(Ssl, SSL_read(Ssl, buf, len), "Recv", ECONNRESET);
}

int TELNETIO::Send(int socket, char const* data, int len)
{
    std::lock_guard<std::mutex> guard(SslLock);
    if (!Ssl)
        return TCPIPIO::Send(socket, data, len);
    ERR_clear_error();
    return Outcome(Ssl, SSL_write(Ssl, data, len), "Send", EPIPE);
}

bool TELNETIO::HasBuffered()
{
    std::lock_guard<std::mutex> guard(SslLock);
    return Ssl && SSL_pending(Ssl) > 0;
}

std::string TELNETIO::TlsDescription()
{
    std::lock_guard<std::mutex> guard(SslLock);
    if (!Ssl)
        return std::string();
    return std::string(SSL_get_version(Ssl)) + " " + SSL_get_cipher_name(Ssl);
}

bool TELNETIO::StartTls(std::string const& host, int timeoutMs, CERTCHECK* check, std::string* reason)
{
    *check = CERTCHECK();
    CHANNELFD::REF socket = Socket.Acquire();
    if (!socket) {
        *reason = "the connection is gone";
        return false;
    }
    int const fd = *socket;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = nullptr;
    auto fail = [&](std::string const& why) {
        *reason = why;
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        return false;
    };
    if (!ctx)
        return fail("TLS: " + OpenSslError(0));
    // The chain is checked during the handshake and judged after it, so a
    // failure can be shown to the user (SSL_VERIFY_NONE only means the
    // handshake goes on; the result is kept).
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(ctx);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    ssl = SSL_new(ctx);
    BIO_METHOD const* method = NoSignalSocketMethod();
    BIO* bio = ssl && method ? BIO_new(method) : nullptr;
    if (!bio)
        return fail("TLS: " + OpenSslError(0));
    BIO_set_fd(bio, fd, BIO_NOCLOSE);
    SSL_set_bio(ssl, bio, bio);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (IsAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    }
    long long const deadline = NowMs() + timeoutMs;
    for (;;) {
        ERR_clear_error();
        int const rc = SSL_connect(ssl);
        if (rc == 1)
            break;
        int const e = SSL_get_error(ssl, rc);
        short const events = e == SSL_ERROR_WANT_READ ? POLLIN : e == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
        if (!events)
            return fail("TLS: " + OpenSslError(e));
        long long const left = deadline - NowMs();
        int const w = left > 0 ? WaitFd(fd, events, static_cast<int>(left)) : 0;
        if (w == 0)
            return fail("TLS: no answer in time");
        if (w == -2)
            return fail("the connection attempt was ended");
        if (w < 0)
            return fail("TLS: " + std::string(strerror(errno)));
    }
    X509* cert = SSL_get1_peer_certificate(ssl);
    if (!cert) {
        check->Reason = "the server showed no certificate";
    } else {
        long const result = SSL_get_verify_result(ssl);
        check->Verified = result == X509_V_OK;
        if (!check->Verified)
            check->Reason = X509_verify_cert_error_string(result);
        check->Subject = NameText(X509_get_subject_name(cert));
        check->Issuer = NameText(X509_get_issuer_name(cert));
        check->Fingerprint = Sha256Fingerprint(cert);
        X509_free(cert);
    }
    std::lock_guard<std::mutex> guard(SslLock);
    Ctx = ctx;
    Ssl = ssl;
    return true;
}

} // namespace sarvoth
