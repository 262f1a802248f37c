#include "bridge/http/http_face.h"

#include <openssl/crypto.h>

#include "bridge/core/bridge_log.h"
#include "bridge/core/command_runner.h"
#include "bridge/http/metrics.h"
#include "bridge/http/page_files.h"
#include "output/text.h"

namespace roderavo::tool::bridge {

namespace {

HttpResponse Refused(int status, const std::string& why) {
    return {status, "application/json", JsonText({{"result", 1}, {"explanation", why}})};
}

// The status of a command's answer, from its record.
int StatusOf(const CommandResult& result) {
    switch (result.outcome) {
        case Outcome::kDone:
            return 200;
        case Outcome::kRefused:
        case Outcome::kNotSent:
            return 422;
        case Outcome::kBusy:
            return 503;
        case Outcome::kRefusedByMux:
        case Outcome::kLineFailed:
            break;
    }
    return 502;
}

// Compared in constant time: how much of a wrong token matches is not told by the time.
bool SameToken(const std::string& given, const std::string& token) {
    return given.size() == token.size() &&
           CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
}

// The command a request's JSON body asks; false with the reason when it is not one.
bool ReadCommand(const std::string& body, Command& command, std::string* why) {
    const Json parsed = Json::parse(body, nullptr, false);
    if (!parsed.is_object()) {
        *why =
            "the body is not a JSON object such as {\"mux\": 1, \"command\": \"key\", "
            "\"value\": \"53\", \"id\": \"c-1\"}";
        return false;
    }
    const auto mux = parsed.find("mux");
    const auto word = parsed.find("command");
    if (mux == parsed.end() || !mux->is_number_integer() || word == parsed.end() ||
        !word->is_string()) {
        *why =
            "give \"mux\" (a number) and \"command\" (key, ptz, preset, caa, inhpair, joy, "
            "ihk, clock)";
        return false;
    }
    command.mux = std::to_string(mux->get<int64_t>());
    command.word = word->get<std::string>();
    Json payload = Json::object();
    for (const char* field : {"value", "id"})
        if (parsed.contains(field)) payload[field] = parsed[field];
    command.payload = JsonText(payload);
    return true;
}

}  // namespace

HttpFace::HttpFace(HttpSettings settings, BridgeFacts facts, CommandQueue& commands)
    : settings_(std::move(settings)),
      facts_(std::move(facts)),
      commands_(commands),
      server_([this](const HttpRequest& request,
                     HttpServer::Responder respond) { Handle(request, std::move(respond)); },
              "/api/v1/events", [this] { return StateMessage(); },
              [](const std::string& text) { Say(text); }) {
    facts_.writable = settings_.writable;
    server_.Every(kStreamTick, [this] { Tick(); });
}

bool HttpFace::Start(std::string* error) {
    if (!server_.Start(settings_, error)) return false;
    Say(std::string("web face on ") + (settings_.certFile.empty() ? "http" : "https") + "://" +
        settings_.address + ":" + std::to_string(settings_.port) +
        (settings_.writable ? " (commands taken)" : " (no commands)"));
    return true;
}

void HttpFace::Show(const std::shared_ptr<const Picture>& picture, PollClock::time_point) {
    server_.Post([this, picture] {
        picture_ = picture;
        Changed();
    });
}

void HttpFace::Tell(const std::string& event) {
    server_.Post([this, event, time = IsoTimestampNow()] {
        events_.push_front({time, event});
        if (events_.size() > kEventsKept) events_.pop_back();
        Changed();
    });
}

void HttpFace::Report(int camera, CameraShown, const std::string& report) {
    server_.Post([this, camera, report, time = IsoTimestampNow()] {
        reports_[camera] = {report, time};
        Changed();
    });
}

std::string HttpFace::StateText() const {
    return JsonText(StateDocument(*picture_, PollClock::now(), facts_, reports_,
                                  {events_.begin(), events_.end()}));
}

void HttpFace::Tick() {
    const auto now = PollClock::now();
    if (!changed_ && now - sentAt_ < kHeartbeat) return;
    changed_ = false;
    std::string state = StateText();
    // The ages and staleness change with the time alone: a heartbeat carries them.
    if (state == lastSent_ && now - sentAt_ < kHeartbeat) return;
    lastSent_ = state;
    sentAt_ = now;
    server_.Broadcast("event: state\ndata: " + state + "\n\n");
}

void HttpFace::Handle(const HttpRequest& request, HttpServer::Responder respond) {
    if (request.method == "POST" && request.target == "/api/v1/commands")
        return Command(request, std::move(respond));
    if (request.method != "GET" && request.method != "HEAD")
        return respond(Refused(405, "GET, or POST /api/v1/commands"));
    if (request.target == "/api/v1/state") return respond({200, "application/json", StateText()});
    if (request.target == "/favicon.ico") return respond({204, "image/x-icon", ""});
    if (request.target == "/metrics")
        return respond({200, "text/plain; version=0.0.4; charset=utf-8",
                        MetricsText(*picture_, PollClock::now(), facts_.version)});
    for (const PageFile& file : PageFiles())
        if (request.target == file.path)
            return respond({200, std::string(file.type), std::string(file.body)});
    respond(Refused(404, request.target + ": no such page"));
}

// Why a command is refused before it is read, with its status in front ("403 ..."); empty
// when it may be read.
std::string HttpFace::Refusal(const HttpRequest& request) const {
    if (!settings_.writable)
        return "403 the web face takes no commands (give --http-writable and --http-token-file)";
    // No page of another site may press a key: a browser names the page that asks.
    const std::string own = std::string(request.tls ? "https://" : "http://") + request.host;
    if (!request.origin.empty() && request.origin != own)
        return "403 a command from " + request.origin + " (not this page) is refused";
    if (request.authorization.empty()) return "401 give the token as Authorization: Bearer TOKEN";
    if (!SameToken(request.authorization, "Bearer " + settings_.token))
        return "403 the token is wrong";
    return {};
}

void HttpFace::Command(const HttpRequest& request, HttpServer::Responder respond) {
    if (const std::string why = Refusal(request); !why.empty()) {
        Say("http: " + request.peer + " command refused: " + why.substr(4));
        return respond(Refused(std::stoi(why.substr(0, 3)), why.substr(4)));
    }
    bridge::Command command;
    command.face = "http";
    command.peer = request.peer;
    std::string why;
    if (!ReadCommand(request.body, command, &why)) {
        Say("http: " + request.peer + " command refused: " + why);
        return respond(Refused(400, why));
    }
    command.answer = [respond](const CommandResult& result) {
        respond({StatusOf(result), "application/json", ResultRecord(result)});
    };
    Submit(commands_, std::move(command));
}

}  // namespace roderavo::tool::bridge
