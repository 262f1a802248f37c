#include "bridge/http/http_options.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <fstream>

#include "line/session.h"

namespace roderavo::tool::bridge {

namespace {

using O = HttpOptions;

constexpr FaceOption<O> kTable[] = {
    {.option = "--http",
     .help = "Serve the web page, the JSON API (/api/v1/state, /api/v1/events) and Prometheus "
             "metrics (/metrics) at ADDRESS[:PORT] (port 8080 by default; 8080 or :8080 serve "
             "this host only), beside MQTT or alone (docs/guide.md, The web face)",
     .table = "http",
     .key = "listen",
     .takes = "a text, ADDRESS[:PORT], e.g. \"127.0.0.1:8080\"",
     .text = &O::listen,
     .rule = [](const O& o) { return ListenKeyProblem(o.listen, "--http", 8080); }},
    {.option = "--http-allow",
     .help = "Only these peers may connect to the web face: IPv4 networks, e.g. "
             "10.1.2.0/24,10.9.9.9 (default: every peer that reaches the address)",
     .table = "http",
     .key = "allow",
     .takes = "a text, IPv4 networks, e.g. \"10.1.2.0/24\"",
     .text = &O::allow,
     .rule = [](const O& o) { return AllowKeyProblem(o.allow, "--http-allow"); }},
    {.option = "--http-cert",
     .help = "TLS: the web face's certificate chain (PEM); with --http-key, HTTPS only",
     .table = "http",
     .key = "cert",
     .takes = "a text, the certificate file (PEM)",
     .text = &O::certFile},
    {.option = "--http-key",
     .help = "TLS: the key of --http-cert (PEM)",
     .table = "http",
     .key = "key",
     .takes = "a text, the key file (PEM)",
     .text = &O::keyFile},
    {.option = "--http-writable",
     .help = "Take commands on POST /api/v1/commands and show the page's controls (needs "
             "--http-token-file)",
     .table = "http",
     .key = "writable",
     .takes = "true or false",
     .kind = OptionKind::kFlag,
     .flag = &O::writable},
    {.option = "--http-token-file",
     .help = "The token a command must carry as Authorization: Bearer TOKEN: the file's first "
             "line; a file that other users cannot read",
     .table = "http",
     .key = "token_file",
     .takes = "a text, the file with the token",
     .text = &O::tokenFile},
};

// The token: the first line of a file no other user may read; false (said) else.
bool ReadToken(const std::string& path, std::string& token) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        Complain("--http-token-file " + path + ": cannot read it");
        return false;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        Complain("--http-token-file " + path +
                 ": other users may read it; make it the bridge's own (chmod 600)");
        return false;
    }
    std::ifstream file(path);
    if (!file || !std::getline(file, token)) token.clear();
    if (!token.empty() && token.back() == '\r') token.pop_back();
    if (token.size() < 16) {
        Complain("--http-token-file " + path + ": give a token of 16 characters or more");
        return false;
    }
    return true;
}

// The TLS files: both or neither, each readable; false (said) else.
bool JudgeTls(const HttpOptions& options) {
    if (options.certFile.empty() != options.keyFile.empty()) {
        Complain("--http-cert and --http-key go together: give both");
        return false;
    }
    for (const std::string* file : {&options.certFile, &options.keyFile}) {
        if (!file->empty() && !std::ifstream(*file).good()) {
            Complain("TLS: cannot read " + *file);
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const FaceOption<HttpOptions>> HttpOptionTable() {
    return kTable;
}

void AddHttpOptions(CLI::App* command, HttpOptions& options) {
    AddFaceOptions(command, options, HttpOptionTable());
    command->get_option("--http-allow")->check(CLI::Validator(EmptyNetworksProblem, "NETWORKS"));
}

std::optional<HttpSettings> JudgeHttp(const HttpOptions& options) {
    HttpSettings settings;
    if (options.listen.empty()) return settings;
    std::string error;
    const auto endpoint =
        ParseEndpoint(options.listen, "--http", 8080, "127.0.0.1:8080 or 0.0.0.0:8080", &error);
    auto peers = options.allow.empty() ? std::vector<PeerNetwork>{}
                                       : ParseNetworks(options.allow, "--http-allow", &error);
    if (!endpoint || !peers) {
        Complain(error);
        return std::nullopt;
    }
    settings.enabled = true;
    settings.address = endpoint->address;
    settings.port = endpoint->port;
    settings.peers = std::move(*peers);
    if (!JudgeTls(options)) return std::nullopt;
    settings.certFile = options.certFile;
    settings.keyFile = options.keyFile;
    settings.writable = options.writable;
    if (options.writable && options.tokenFile.empty()) {
        Complain("--http-writable takes commands only with a token: give --http-token-file");
        return std::nullopt;
    }
    if (!options.tokenFile.empty() && !ReadToken(options.tokenFile, settings.token))
        return std::nullopt;
    return settings;
}

}  // namespace roderavo::tool::bridge
