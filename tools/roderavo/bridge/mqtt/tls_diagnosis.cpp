#include "bridge/mqtt/tls_diagnosis.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>

namespace roderavo::tool::bridge {

namespace {

constexpr int kLimitMs = 5000;  // for the connection, and for each read and write after it

bool IsAddress(const std::string& host) {
    std::array<unsigned char, sizeof(in6_addr)> address{};
    return inet_pton(AF_INET, host.c_str(), address.data()) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address.data()) == 1;
}

// A TCP connection to the broker, within kLimitMs; -1 when there is none.
int ConnectTcp(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        const int fd = socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) continue;
        fcntl(fd, F_SETFL, O_NONBLOCK);
        pollfd ready{fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        const bool connected =
            (connect(fd, at->ai_addr, at->ai_addrlen) == 0 ||
             (errno == EINPROGRESS && poll(&ready, 1, kLimitMs) == 1 &&
              getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0));
        if (connected) {
            fcntl(fd, F_SETFL, 0);
            timeval limit{kLimitMs / 1000, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            return fd;
        }
        close(fd);
    }
    return -1;
}

// What the check of the broker's certificate found, as one can act on it.
std::string VerifyCause(long result, const std::string& host) {
    switch (result) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "the broker's certificate does not name " + host +
                   " (give --mqtt the name its certificate has)";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "the broker's certificate has expired";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "the broker's certificate is not valid yet (is this machine's clock right?)";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            return "the broker's certificate is not signed by a CA this bridge trusts: check "
                   "--mqtt-ca (the CA of the broker's certificate)";
        default:
            return std::string("the broker's certificate: ") +
                   X509_verify_cert_error_string(result);
    }
}

// The client's own files, as OpenSSL reads them; empty when they are fine.
std::string FilesCause(SSL_CTX* ctx, const BrokerSettings& broker) {
    const bool trusted =
        broker.caFile.empty()
            ? SSL_CTX_load_verify_locations(ctx, nullptr, "/etc/ssl/certs") == 1
            : SSL_CTX_load_verify_locations(ctx, broker.caFile.c_str(), nullptr) == 1;
    if (!trusted) return "--mqtt-ca " + broker.caFile + " holds no certificate OpenSSL can read";
    if (broker.certFile.empty()) return {};
    if (SSL_CTX_use_certificate_chain_file(ctx, broker.certFile.c_str()) != 1)
        return "--mqtt-cert " + broker.certFile + " holds no certificate OpenSSL can read";
    if (SSL_CTX_use_PrivateKey_file(ctx, broker.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        return "--mqtt-key " + broker.keyFile +
               " holds no key OpenSSL can read (or it is encrypted)";
    if (SSL_CTX_check_private_key(ctx) != 1)
        return "the key of --mqtt-key does not belong to the certificate of --mqtt-cert";
    return {};
}

}  // namespace

std::string TlsFailureCause(const BrokerSettings& broker) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                          SSL_CTX_free);
    if (!ctx) return {};
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    if (std::string cause = FilesCause(ctx.get(), broker); !cause.empty()) return cause;
    const int fd = ConnectTcp(broker.host, broker.port);
    if (fd < 0) return {};
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx.get()), SSL_free);
    std::string cause;
    if (ssl && SSL_set_fd(ssl.get(), fd) == 1) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
        if (IsAddress(broker.host)) {
            X509_VERIFY_PARAM_set1_ip_asc(param, broker.host.c_str());
        } else {
            SSL_set_tlsext_host_name(ssl.get(), broker.host.c_str());
            X509_VERIFY_PARAM_set1_host(param, broker.host.c_str(), 0);
        }
        ERR_clear_error();
        const int rc = SSL_connect(ssl.get());
        const long verified = SSL_get_verify_result(ssl.get());
        if (verified != X509_V_OK) {
            cause = VerifyCause(verified, broker.host);
        } else if (rc != 1) {
            const unsigned long error = ERR_peek_last_error();
            const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr;
            cause = reason != nullptr ? std::string("OpenSSL says: ") + reason
                                      : "the broker ended the TLS handshake";
        }
    }
    close(fd);
    return cause;
}

}  // namespace roderavo::tool::bridge
