#include "bridge/mqtt/mqtt_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <fstream>

#include "line/session.h"

namespace roderavo::tool::bridge {

namespace {

using O = MqttOptions;
constexpr std::string_view kText = "a text";

// Why topic levels (a prefix, a site) cannot be used, after the key: "a/#: give ...".
std::string Levels(const std::string& levels) {
    const std::string why = TopicLevelsProblem(levels);
    return why.empty() ? why : levels + ": " + why;
}

constexpr FaceOption<O> kTable[] = {
    {.option = "--mqtt",
     .help = "The broker: mqtt://HOST[:PORT] (1883), mqtts://HOST[:PORT] (TLS, 8883) (default: "
             "mqtt://localhost:1883; with --modbus and no --mqtt, no broker at all)",
     .table = "mqtt",
     .key = "url",
     .takes = "a text, the broker, e.g. \"mqtt://localhost:1883\"",
     .text = &O::url,
     .rule =
         [](const O& o) {
             std::string why;
             return ParseBrokerUrl(o.url, &why) ? "" : WithoutOption("--mqtt", why);
         }},
    {.option = "--mqtt-username",
     .help = "User name at the broker",
     .table = "mqtt",
     .key = "username",
     .takes = kText,
     .text = &O::username},
    {.option = "--mqtt-password",
     .help = "Password at the broker (better: RODERAVO_MQTT_PASSWORD or --mqtt-password-file, "
             "which no process list shows)",
     .text = &O::password},
    {.option = "--mqtt-password-file",
     .help = "A file whose first line is the password",
     .table = "mqtt",
     .key = "password_file",
     .takes = "a text, the file with the password",
     .text = &O::passwordFile},
    {.option = "--mqtt-ca",
     .help = "TLS: the CA certificate that signed the broker's (turns TLS on)",
     .table = "mqtt",
     .key = "ca",
     .takes = "a text, the CA file (PEM)",
     .text = &O::caFile},
    {.option = "--mqtt-cert",
     .help = "TLS: this client's certificate (PEM)",
     .table = "mqtt",
     .key = "cert",
     .takes = "a text, the client certificate file (PEM)",
     .text = &O::certFile},
    {.option = "--mqtt-key",
     .help = "TLS: the key of the client certificate (PEM)",
     .table = "mqtt",
     .key = "key",
     .takes = "a text, the client key file (PEM)",
     .text = &O::keyFile},
    {.option = "--mqtt-client-id",
     .help = "Client id at the broker (default: roderavo- and the prefix, / as _ and characters "
             "other than letters, digits and - as .XX; one longer than 64 characters ends in ~ "
             "and a hash of the prefix)",
     .table = "mqtt",
     .key = "client_id",
     .takes = kText,
     .text = &O::clientId},
    {.option = "--mqtt-keepalive",
     .help = "Keep-alive in seconds (5..3600)",
     .table = "mqtt",
     .key = "keepalive",
     .takes = "a whole number of seconds 5..3600",
     .kind = OptionKind::kWhole,
     .whole = &O::keepAlive,
     .rule = [](const O& o) { return KeepAliveProblem(o.keepAlive); }},
    {.option = "--reconnect-min",
     .help = "The first wait before a new connection to the broker, doubled after each failure "
             "(each wait spread at random by a quarter)",
     .table = "mqtt",
     .key = "reconnect_min",
     .takes = kTakesTime,
     .kind = OptionKind::kTime,
     .text = &O::backoffMin,
     .rule = [](const O& o) { return DurationProblem(o.backoffMin, kReconnectLeastMs); }},
    {.option = "--reconnect-max",
     .help = "The longest wait between connections",
     .table = "mqtt",
     .key = "reconnect_max",
     .takes = kTakesTime,
     .kind = OptionKind::kTime,
     .text = &O::backoffMax,
     .rule = [](const O& o) { return DurationProblem(o.backoffMax, kReconnectLeastMs); }},
    {.option = "--site",
     .help = "The site's name in the topics (default: the host name)",
     .table = "mqtt",
     .key = "site",
     .takes = "a text, the site's name in the topics",
     .text = &O::site,
     .rule =
         [](const O& o) {
             return o.site.find('/') != std::string::npos
                        ? o.site + ": a site name is one topic level, without /"
                        : Levels(o.site);
         }},
    {.option = "--topic-prefix",
     .help = "Every topic under this prefix (default: roderavo/<site>)",
     .table = "mqtt",
     .key = "topic_prefix",
     .takes = kText,
     .text = &O::topicPrefix,
     .rule = [](const O& o) { return Levels(o.topicPrefix); }},
    {.option = "--ha-discovery",
     .help = "Publish Home Assistant MQTT discovery: the bridge and each multiplexer a device, "
             "each camera a binary sensor for alarm and one for video loss (without it, what an "
             "earlier run published is removed)",
     .table = "ha",
     .key = "discovery",
     .takes = "true or false",
     .kind = OptionKind::kFlag,
     .flag = &O::haDiscovery},
    {.option = "--ha-prefix",
     .help = "Home Assistant's discovery prefix",
     .table = "ha",
     .key = "prefix",
     .takes = "a text, Home Assistant's discovery prefix",
     .text = &O::haPrefix,
     .rule = [](const O& o) { return Levels(o.haPrefix); }},
    {.option = "--statistics-every",
     .help = "How often each multiplexer's statistics are published, counted from the start "
             "(e.g. 60s)",
     .table = "mqtt",
     .key = "statistics_every",
     .takes = kTakesTime,
     .kind = OptionKind::kTime,
     .text = &O::statisticsEvery,
     .rule = [](const O& o) { return DurationProblem(o.statisticsEvery, kStatisticsLeastMs); }},
};

// The password: given, or the first line of its file; false (said) when the file
// cannot be read or no user name goes with it.
bool JudgePassword(const MqttOptions& options, BrokerSettings& broker) {
    broker.username = options.username;
    broker.password = options.password;
    if (!options.passwordFile.empty()) {
        std::ifstream file(options.passwordFile);
        if (!file || !std::getline(file, broker.password)) {
            Complain("--mqtt-password-file " + options.passwordFile + ": cannot read it");
            return false;
        }
        if (!broker.password.empty() && broker.password.back() == '\r') broker.password.pop_back();
    }
    if (!broker.password.empty() && broker.username.empty()) {
        Complain("a password needs its user name: give --mqtt-username");
        return false;
    }
    return true;
}

// The broker's settings; false (said) when one is wrong.
bool JudgeBroker(const MqttOptions& options, const std::string& prefix, BrokerSettings& broker) {
    std::string error;
    const auto address = ParseBrokerUrl(options.url, &error);
    if (!address) {
        Complain(error);
        return false;
    }
    broker.host = address->host;
    broker.port = address->port;
    broker.tls = address->tls || !options.caFile.empty() || !options.certFile.empty();
    broker.caFile = options.caFile;
    broker.certFile = options.certFile;
    broker.keyFile = options.keyFile;
    for (const std::string* file : {&broker.caFile, &broker.certFile, &broker.keyFile}) {
        if (!file->empty() && !std::ifstream(*file).good()) {
            Complain("TLS: cannot read " + *file);
            return false;
        }
    }
    if (!JudgePassword(options, broker)) return false;
    broker.clientId = options.clientId.empty() ? ClientId(prefix) : options.clientId;
    broker.keepAliveSeconds = options.keepAlive;
    // A bridge that is lost without a word (killed, its machine or network gone) is
    // shown offline by the broker.
    broker.willTopic = Topics(prefix).Status();
    broker.willPayload = "offline";
    const auto low = JudgeDuration("--reconnect-min", options.backoffMin, kReconnectLeastMs);
    const auto high = JudgeDuration("--reconnect-max", options.backoffMax, kReconnectLeastMs);
    if (!low || !high) return false;
    broker.backoffMin = *low;
    broker.backoffMax = std::max(*low, *high);
    return true;
}

}  // namespace

std::string KeepAliveProblem(long long seconds) {
    if (seconds >= kKeepAliveLeast && seconds <= kKeepAliveMost) return {};
    return std::to_string(seconds) + ": give " + std::to_string(kKeepAliveLeast) + ".." +
           std::to_string(kKeepAliveMost) + " seconds";
}

std::span<const FaceOption<MqttOptions>> MqttOptionTable() {
    return kTable;
}

void AddMqttOptions(CLI::App* command, MqttOptions& options) {
    AddFaceOptions(command, options, MqttOptionTable());
    command->get_option("--mqtt-password")->envname("RODERAVO_MQTT_PASSWORD");
    command->get_option("--mqtt-keepalive")
        ->check(CLI::Validator(
            [](const std::string& text) {
                long long seconds = 0;
                const auto [end, ec] =
                    std::from_chars(text.data(), text.data() + text.size(), seconds);
                if (ec == std::errc() && end == text.data() + text.size() &&
                    KeepAliveProblem(seconds).empty())
                    return std::string();
                return "takes " + std::to_string(kKeepAliveLeast) + ".." +
                       std::to_string(kKeepAliveMost) + " seconds, not " + text;
            },
            "SECONDS"));
}

std::optional<MqttSettings> JudgeMqtt(const MqttOptions& options, bool json) {
    MqttSettings settings;
    std::string error;
    settings.prefix = TopicPrefix(options.topicPrefix, options.site, &error);
    if (settings.prefix.empty()) {
        Complain(error);
        return std::nullopt;
    }
    if (const std::string why = TopicLevelsProblem(options.haPrefix); !why.empty()) {
        Complain("--ha-prefix '" + options.haPrefix + "' cannot be used: " + why +
                 ", e.g. homeassistant");
        return std::nullopt;
    }
    settings.enabled = !options.url.empty();
    settings.url = options.url;
    if (settings.enabled && !JudgeBroker(options, settings.prefix, settings.broker))
        return std::nullopt;
    const auto every =
        JudgeDuration("--statistics-every", options.statisticsEvery, kStatisticsLeastMs);
    if (!every) return std::nullopt;
    settings.statisticsEvery = *every;
    settings.site = !options.site.empty()          ? options.site
                    : !options.topicPrefix.empty() ? options.topicPrefix
                                                   : DefaultSite();
    settings.haDiscovery = options.haDiscovery;
    settings.haPrefix = options.haPrefix;
    settings.json = json;
    return settings;
}

}  // namespace roderavo::tool::bridge
