// The web face's options (where it listens, who may connect, TLS, whether commands are
// taken and the token that allows them) in one table for the command line and the
// site file's [http], and the settings they are judged into before anything starts.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bridge/core/face_options.h"
#include "bridge/core/networks.h"

namespace roderavo::tool::bridge {

// As given: texts, as the command line and the site file have them.
struct HttpOptions {
    std::string listen;     // ADDRESS[:PORT]; empty: no web face
    std::string allow;      // the networks that may connect; empty: every peer
    std::string certFile;   // TLS: the server's certificate chain (PEM)
    std::string keyFile;    // TLS: its key (PEM)
    bool writable = false;  // POST /api/v1/commands runs commands; else every one is refused
    std::string tokenFile;  // the token commands must carry (its first line)
};

std::span<const FaceOption<HttpOptions>> HttpOptionTable();
void AddHttpOptions(CLI::App* command, HttpOptions& options);

struct HttpSettings {
    bool enabled = false;
    std::string address = "127.0.0.1";  // the default serves this host only
    int port = 8080;
    std::vector<PeerNetwork> peers;  // none: every peer
    std::string certFile, keyFile;   // both or neither: TLS
    bool writable = false;
    std::string token;  // with writable: what a command's Authorization: Bearer must carry
};

// Nothing, with the reason said, when a value is wrong: a writable face without a
// token file, a token file that other users may read or that holds no token, a
// certificate without its key.
std::optional<HttpSettings> JudgeHttp(const HttpOptions& options);

}  // namespace roderavo::tool::bridge
