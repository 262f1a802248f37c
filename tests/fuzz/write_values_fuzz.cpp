// SingleWrite of every control command with any written number or text, through
// KorMain on the fake port, where a multiplexer acknowledges every frame. A
// reference of the value rules, written out here from the command table, says
// which frames must go out (or that the write is refused before any), byte for
// byte.
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "fake_port/fake_port.h"
#include "fuzz_support.h"
#include "platform/pause.h"

namespace {

using fuzz::Bytes;

enum class Command { Key, Ptz, Caa, Ihk, Tad, Joy, Inhpair, Preset };
constexpr std::string_view kWords[] = {"KEY", "PTZ", "CAA",     "IHK",
                                       "TAD", "JOY", "INHPAIR", "PRESET"};
constexpr std::string_view kIhkCodes[] = {"070", "075", "077", "079", "083", "118"};

Bytes Frame(int mux, uint8_t command, const Bytes& payload) {
    Bytes frame = {0xFF,
                   static_cast<uint8_t>(6 + payload.size()),
                   static_cast<uint8_t>(16 * mux + 1),
                   command,
                   0x3E,
                   0x10};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(fuzz::Checksum(frame.data(), frame.size()));
    return frame;
}

std::size_t CommasBeforeClose(std::string_view t) {
    std::size_t commas = 0;
    for (const char c : t.substr(0, t.find(')'))) commas += c == ',' ? 1 : 0;
    return commas;
}

// The numbers of a "(a,b,...)" text: fields from the first '(' up to a comma, a
// ')' or the end, each converted as strtol converts it. A field of more than nine
// characters cannot be taken.
std::optional<std::vector<long>> Numbers(std::string_view t, std::size_t count) {
    std::vector<long> numbers(count, 0);
    std::size_t at = t.find('(') + 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = std::min(t.find_first_of(",)", at), t.size());
        const std::string field(t.substr(at, end - at));
        if (field.size() > 9) return std::nullopt;
        numbers[i] = std::strtol(field.c_str(), nullptr, 10);
        if (end == t.size() || t[end] == ')') break;
        at = end + 1;
    }
    return numbers;
}

bool AllKeyCodes(const std::vector<long>& numbers) {
    for (const long n : numbers)
        if (!fuzz::IsKeyCode(n)) return false;
    return true;
}

// A clock field: two characters as sscanf("%2x") reads them.
std::optional<unsigned> Hex(std::string_view t, std::size_t position) {
    const std::string field(t.substr(position - 1, 2));
    unsigned value = 0;
    if (std::sscanf(field.c_str(), "%2x", &value) != 1) return std::nullopt;
    return value;
}

// The frames of the write, or nothing when it cannot be prepared.
std::optional<std::vector<Bytes>> Expected(Command command, int mux, std::string_view ihkCode,
                                           int32_t valueKind, uint16_t number, std::string_view t) {
    const bool wantsText = command >= Command::Ihk;
    if (valueKind != (wantsText ? 7 : 0)) return std::nullopt;
    if (!wantsText) {
        switch (command) {
            case Command::Key:
                if (!fuzz::IsKeyCode(number)) return std::nullopt;
                return std::vector<Bytes>{Frame(mux, 0x06, {static_cast<uint8_t>(number)})};
            case Command::Ptz:
                if (number > 29 && (number < 128 || number > 135)) return std::nullopt;
                return std::vector<Bytes>{Frame(mux, 0x16, {static_cast<uint8_t>(number)})};
            default:  // CAA
                if (number > 4) return std::nullopt;
                return std::vector<Bytes>{Frame(number, 0x4D, {})};
        }
    }
    if (t.size() > 29 || t.find('(') == t.npos || t.find(')') == t.npos) return std::nullopt;
    const std::size_t commas = CommasBeforeClose(t);
    const auto b = [](long n) { return static_cast<uint8_t>(n & 0xFF); };
    switch (command) {
        case Command::Ihk: {
            if (commas > 3) return std::nullopt;
            const auto keys = Numbers(t, commas + 1);
            if (!keys || !AllKeyCodes(*keys)) return std::nullopt;
            Bytes payload = {static_cast<uint8_t>(std::atoi(std::string(ihkCode).c_str()))};
            for (const long k : *keys) payload.push_back(b(k));
            return std::vector<Bytes>{Frame(mux, 0x17, payload)};
        }
        case Command::Joy: {
            if (t[0] == ')' || commas != 2) return std::nullopt;
            const auto v = Numbers(t, 3);
            if (!v) return std::nullopt;
            for (const long n : *v)
                if (n < -100 || n > 100) return std::nullopt;
            return std::vector<Bytes>{Frame(mux, 0x18, {b((*v)[0]), b((*v)[1]), b((*v)[2])})};
        }
        case Command::Tad: {
            if (t.size() != 21 || t[0] == ')' || commas != 5) return std::nullopt;
            const auto day = Hex(t, 2), month = Hex(t, 5), century = Hex(t, 8), year = Hex(t, 10),
                       hour = Hex(t, 13), minute = Hex(t, 16), second = Hex(t, 19);
            if (!day || !month || !century || !year || !hour || !minute || !second)
                return std::nullopt;
            if (*day < 1 || *day > 0x31 || *month < 1 || *month > 0x12 || *hour > 0x23 ||
                *minute > 0x59 || *second > 0x59)
                return std::nullopt;
            return std::vector<Bytes>{Frame(mux, 0x07,
                                            {b(*year), b(*century), b(*month), b(*day), 0x01,
                                             b(*hour), b(*minute), b(*second)})};
        }
        case Command::Inhpair: {
            if (t[0] == ')' || commas != 5) return std::nullopt;
            const auto a = Numbers(t, 6);
            if (!a || !AllKeyCodes(*a)) return std::nullopt;
            const auto& k = *a;
            return std::vector<Bytes>{Frame(mux, 0x17, {b(k[2]), b(k[0]), b(k[1])}),
                                      Frame(mux, 0x17, {b(k[5]), b(k[3]), b(k[4])})};
        }
        default: {  // PRESET
            if (t[0] == ')' || commas != 1) return std::nullopt;
            const auto p = Numbers(t, 2);
            if (!p || !AllKeyCodes(*p)) return std::nullopt;
            return std::vector<Bytes>{Frame(mux, 0x06, {b((*p)[0])}),
                                      Frame(mux, 0x06, {b((*p)[1])}), Frame(mux, 0x16, {0x14})};
        }
    }
}

}  // namespace

// Input: the command, the multiplexer (and IHK code), the value kind, the written
// number (two bytes), then the written text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::Reader in(data, size);
    const auto command = static_cast<Command>(in.Byte() % 8);
    const uint8_t where = in.Byte();
    const uint8_t kind = in.Byte();
    const uint16_t number = static_cast<uint16_t>(in.Byte() << 8 | in.Byte());
    std::string text = in.Rest();
    text = text.c_str();  // the host's text ends at its first zero

    const int mux = where % 5;
    const std::string_view ihkCode = kIhkCodes[(where / 5) % 6];
    const std::string_view word = kWords[static_cast<int>(command)];
    std::string address(word);
    if (command != Command::Caa) address += static_cast<char>('0' + mux);
    if (command == Command::Ihk) address += ihkCode;
    if (where & 0x80)  // the host may give it in lower case
        for (char& c : address) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
    const bool wantsText = command >= Command::Ihk;
    const int32_t valueKind = kind < 240 ? (wantsText ? 7 : 0) : (kind & 1 ? 7 : kind);
    const int32_t plcNum = command == Command::Caa ? 0 : mux;

    fuzz::QuietHost();
    roderavo::SetPauseFunction(nullptr);
    fake_port::Line line("ttyFuzzW");
    // The multiplexer a frame is addressed to acknowledges it.
    line.OnWrite([&](const Bytes& frame) {
        if (frame.size() < 3) return;
        Bytes ack = {0xFF, 0x07, 0xF0, 0x04, frame[2], 0x10, 0x00};
        ack.push_back(fuzz::Checksum(ack.data(), ack.size()));
        line.Send(ack);
    });
    DriverContext context{};
    InitParams init{};
    std::snprintf(init.PortName, sizeof init.PortName, "%s", line.Name().c_str());
    init.OpenRequested = 1;
    init.PollInterval = 10;
    init.BaudRate = 9600;
    init.DataBits = 8;
    if (fuzz::Call(context, KOR_FUNC_INIT, &init) != KOR_OK) fuzz::Fail("Init on the fake line");
    zanpro::TakeLog();

    KorNumberValue value{0, number};
    GateParams gate{};
    gate.Address = address.c_str();
    gate.plcNum = plcNum;
    gate.AccessClass = command == Command::Tad ? KOR_ACCESS_READ_WRITE : KOR_ACCESS_WRITE_ONLY;
    gate.ValueKind = valueKind;
    gate.Value = valueKind == 7 ? static_cast<void*>(text.data()) : &value;
    const int32_t result = fuzz::Call(context, KOR_FUNC_SINGLE_WRITE, &gate);
    const fuzz::Log log = zanpro::TakeLog();

    const auto expected =
        Expected(command, mux, ihkCode, valueKind, number, valueKind == 7 ? text : "");
    const std::string about = address + " kind " + std::to_string(valueKind) + " written " +
                              (valueKind == 7 ? "\"" + text + "\"" : std::to_string(number)) + ": ";
    std::vector<Bytes> written;
    for (const fake_port::Write& write : line.Writes()) written.push_back(write.bytes);
    if (expected) {
        fuzz::Expect(result == KOR_OK,
                     about + "result " + std::to_string(result) + fuzz::Show(log));
        std::string sent, want;
        for (const Bytes& w : written) sent += fuzz::Hex(w) + "| ";
        for (const Bytes& w : *expected) want += fuzz::Hex(w) + "| ";
        fuzz::Expect(written == *expected, about + "sent " + sent + " expected " + want);
        fuzz::ExpectLog(log, {fuzz::Entered(KOR_FUNC_SINGLE_WRITE)});
    } else {
        fuzz::Expect(result == KOR_REFUSED, about + "result " + std::to_string(result));
        fuzz::Expect(written.empty(), about + "sent " + std::to_string(written.size()) + " frames");
        fuzz::ExpectLog(
            log, {fuzz::Entered(KOR_FUNC_SINGLE_WRITE),
                  {32, "VERODI: Failed to prepare write request to PLC,GAS:" + address + "."}});
    }
    fuzz::Call(context, KOR_FUNC_EXIT, nullptr);
    return 0;
}
