// Reads of every status gate and control writes, through KorMain on the fake
// port, with one fuzzed reply per attempt: any bytes, split into pieces that
// arrive in time or late, and sends that fail in their flush or their write or
// write short. A reference written out here from the frame rules plays each
// attempt on the same virtual time (each piece of a reply waits the read time-out
// plus twice its wire time) and says the result, every log line, the pauses, the
// requests on the line and what lands in the gates; every call stays within its
// time bound.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "fake_port/fake_port.h"
#include "fuzz_support.h"
#include "platform/pause.h"

namespace {

using fuzz::Bytes;
using fuzz::Log;

enum class Gate { Ver, Tad, Als, Aas, Vls, Key, Preset };
enum class SendFault { None, Flush, Write, Short };

constexpr uint32_t kPollIntervals[] = {5, 10, 20, 100};  // read time-outs 50..1000 ms
constexpr uint16_t kBauds[] = {1200, 9600, 19200, 57600};

struct Attempt {
    SendFault fault = SendFault::None;
    uint8_t shortBy = 0;  // a short write writes shortBy % size bytes
    Bytes reply;
    std::vector<uint64_t> arrival;  // per byte, ms after the request was written
};

struct Setup {
    Gate gate = Gate::Ver;
    int mux = 0;
    int camera = 1;
    uint64_t timeout = 100;  // T, ms
    uint64_t charMs = 1;     // wire time of one character
    uint16_t baud = 9600;
    int32_t poll = 10;
    bool reportGate = true;  // TAS of an ALS read
    int missing = 20;        // the camera list companion left out (20: none)
    std::vector<Attempt> attempts;
};

Setup ReadSetup(fuzz::Reader& in) {
    Setup s;
    s.gate = static_cast<Gate>(in.Byte() % 7);
    s.mux = in.Byte() % 5;
    const uint8_t line = in.Byte();
    s.poll = static_cast<int32_t>(kPollIntervals[line & 3]);
    s.timeout = 10u * static_cast<uint64_t>(s.poll);
    s.baud = kBauds[(line >> 2) & 3];
    s.charMs = (10000u + s.baud - 1) / s.baud;  // 8N1: ten bits a character
    s.reportGate = (line & 0x10) == 0;
    const uint8_t extra = in.Byte();
    s.missing = extra % 21;
    s.camera = 20 * s.mux + 1 + (extra / 21) % 20;
    while (!in.Empty() && s.attempts.size() < 15) {
        Attempt a;
        const uint8_t flags = in.Byte();
        a.fault = static_cast<SendFault>((flags & 3) == 0 || (flags & 0x40) == 0 ? 0 : flags & 3);
        a.shortBy = in.Byte();
        a.reply = in.Take(in.Byte());
        // Help towards frames: take the length byte from the size, the checksum from the rest.
        if ((flags & 0x04) && a.reply.size() >= 2)
            a.reply[1] = static_cast<uint8_t>(a.reply.size() - 1);
        if ((flags & 0x08) && a.reply.size() >= 2)
            a.reply.back() = fuzz::Checksum(a.reply.data(), a.reply.size() - 1);
        // Pieces: up to four, each after a delay of up to two read time-outs.
        const int pieces = 1 + ((flags >> 4) & 3);
        uint64_t at = 0;
        std::size_t from = 0;
        for (int p = 0; p < pieces; ++p) {
            at += in.Byte() * s.timeout / 128;
            const std::size_t to =
                p + 1 == pieces ? a.reply.size() : std::min(a.reply.size(), from + in.Byte() % 24);
            for (; from < to; ++from) a.arrival.push_back(at);
        }
        a.arrival.resize(a.reply.size(), at);
        s.attempts.push_back(std::move(a));
    }
    return s;
}

bool IsWrite(Gate g) {
    return g == Gate::Key || g == Gate::Preset;
}

std::string AddressOf(const Setup& s) {
    const std::string m(1, static_cast<char>('0' + s.mux));
    const std::string camera = s.camera == 100
                                   ? "100"
                                   : std::string(1, static_cast<char>('0' + s.camera / 10)) +
                                         static_cast<char>('0' + s.camera % 10);
    switch (s.gate) {
        case Gate::Ver:
            return "VER" + m;
        case Gate::Tad:
            return "TAD" + m;
        case Gate::Als:
            return "ALS" + m + camera;
        case Gate::Aas:
            return "AAS" + m;
        case Gate::Vls:
            return "VLS" + m;
        case Gate::Key:
            return "KEY" + m;
        case Gate::Preset:
            return "PRESET" + m;
    }
    return "";
}

uint8_t CommandOf(Gate g) {
    constexpr uint8_t kCommands[] = {0x48, 0x07, 0x49, 0x50, 0x51};
    return kCommands[static_cast<int>(g)];
}

// The request frames, one per frame of the operation.
std::vector<Bytes> Requests(const Setup& s) {
    const auto mux = static_cast<uint8_t>(16 * s.mux + 1);
    std::vector<Bytes> frames;
    if (s.gate == Gate::Key)
        frames = {{0xFF, 0x07, mux, 0x06, 0x3E, 0x10, 53}};
    else if (s.gate == Gate::Preset)
        frames = {{0xFF, 0x07, mux, 0x06, 0x3E, 0x10, 9},
                  {0xFF, 0x07, mux, 0x06, 0x3E, 0x10, 13},
                  {0xFF, 0x07, mux, 0x16, 0x3E, 0x10, 0x14}};
    else if (s.gate == Gate::Als)
        frames = {{0xFF, 0x07, mux, 0x49, 0x3C, 0x10, static_cast<uint8_t>(s.camera)}};
    else
        frames = {{0xFF, 0x06, mux, CommandOf(s.gate), 0x3C, 0x10}};
    for (Bytes& f : frames) f.push_back(fuzz::Checksum(f.data(), f.size()));
    return frames;
}

std::string Name(const char* word, int mux, int camera) {
    std::string name = word + std::to_string(mux);
    if (camera < 10) name += '0';
    return name + std::to_string(camera);
}

std::string ClockText(const std::array<uint8_t, 50>& r) {
    char text[64];
    std::snprintf(text, sizeof text, "%02x.%02x.%02x%02x %02x:%02x:%02x hrs", r[9], r[8], r[7],
                  r[6], r[11], r[12], r[13]);
    return text;
}

const char* StateText(uint8_t state) {
    switch (state) {
        case 0x00:
            return "None";
        case 0x20:
            return "Alarm";
        case 0x2E:
            return "Video Loss";
        case 0xFE:
            return "Unknown";
        default:
            return nullptr;
    }
}

// What the reference expects of the whole call.
struct Outcome {
    int32_t result = 0;
    Log log;
    std::size_t pauses = 0;
    uint64_t bound = 0;           // ms
    std::vector<Bytes> requests;  // the whole requests that reached the line, in order
    std::array<uint8_t, 50> reply{};
    uint16_t received = 0;
};

enum class Status { Ok, Line, Malformed };

// One attempt's reply, read piece by piece as the reader asks for it.
Status ReadReply(const Setup& s, const Attempt& a, bool acknowledgement, uint8_t command,
                 Outcome& o) {
    std::size_t next = 0;  // the next reply byte to take
    uint64_t now = 0;
    const auto piece = [&](std::size_t count, std::size_t at) {
        const uint64_t deadline = now + s.timeout + 2 * count * s.charMs;
        const std::size_t last = next + count - 1;
        if (last < a.reply.size() && a.arrival[last] <= deadline) {
            std::copy_n(a.reply.begin() + static_cast<long>(next), count,
                        o.reply.begin() + static_cast<long>(at));
            next += count;
            now = std::max(now, a.arrival[last]);
            return true;
        }
        for (std::size_t i = 0; i < count && next < a.reply.size() && a.arrival[next] <= deadline;
             ++i)
            o.reply[at + i] = a.reply[next++];
        now = deadline;
        return false;
    };
    std::array<uint8_t, 50>& r = o.reply;
    o.received = 0;
    if (!piece(2, 0)) {
        o.log.push_back({8, "VERODI: Failed to read first chars from PLC."});
        return Status::Line;
    }
    o.received = 2;
    const uint8_t length = r[1];
    if (r[0] != 0xFF || length < 6 || length > 49) return Status::Malformed;
    if (!piece(length - 1u, 2)) {
        o.log.push_back({8, "VERODI: Failed to read Response from PLC."});
        return Status::Line;
    }
    const auto mux = static_cast<uint8_t>(16 * s.mux + 1);
    const bool checksum = r[length] == fuzz::Checksum(r.data(), length);
    if (acknowledgement) {
        const bool good =
            r[2] == 0xF0 && r[3] == 0x04 && r[4] == mux && r[5] == 0x10 && r[6] == 0x00 && checksum;
        o.received = static_cast<uint16_t>(length + 1);
        return good ? Status::Ok : Status::Malformed;
    }
    if (r[2] != 0xF0 || r[3] != command || r[4] != mux || r[5] != 0x10) return Status::Malformed;
    if (command == 0x49 && length > 6) {
        if (!piece(1, 19)) {
            o.log.push_back({8, "VERODI: Failed to read crc from PLC."});
            return Status::Line;
        }
        o.received = static_cast<uint16_t>(length + 2);
        return Status::Ok;
    }
    o.received = static_cast<uint16_t>(length + 1);
    return checksum ? Status::Ok : Status::Malformed;
}

Outcome Reference(const Setup& s, const std::string& address) {
    Outcome o;
    const bool write = IsWrite(s.gate);
    const std::vector<Bytes> requests = Requests(s);
    // Per attempt: the drain, the write, three pieces at most, the pause.
    const uint64_t T = s.timeout, c = s.charMs;
    const uint64_t attemptBound = std::max<uint64_t>(50, T) + (8 * c + T) + (T + 2 * 2 * c) +
                                  (T + 2 * 48 * c) + (T + 2 * 1 * c) + 50;
    o.bound = (write ? 50 : 0) + requests.size() * 5 * attemptBound;
    o.log.push_back(fuzz::Entered(write ? KOR_FUNC_SINGLE_WRITE : KOR_FUNC_SINGLE_READ));
    if (write) ++o.pauses;
    std::size_t next = 0;  // the next planned attempt
    for (const Bytes& request : requests) {
        Status status = Status::Line;
        for (int attempt = 0; attempt < 5; ++attempt) {
            const Attempt a = next < s.attempts.size() ? s.attempts[next] : Attempt{};
            ++next;
            if (a.fault != SendFault::None) {
                if (a.fault == SendFault::Flush)
                    o.log.push_back({32, "VERODI: Fail to flush comm port."});
                if (write)
                    o.log.push_back({32, "VERODI: Failed to write to PLC,GAS:" + address + "."});
                status = Status::Line;
                continue;
            }
            o.requests.push_back(request);
            status = ReadReply(s, a, write, request[3], o);
            if (status == Status::Ok) break;
            ++o.pauses;
        }
        if (status == Status::Ok) continue;
        if (status == Status::Malformed) {
            o.log.push_back({32, "VERODI: wrong receive"});
            o.result = KOR_REFUSED;
        } else {
            o.log.push_back(
                {32, write ? "VERODI: Failed to read reply from PLC"
                           : "VERODI: Failed to read reply from PLC,GAS:" + address + "."});
            o.result = KOR_COMM_FAILURE;
        }
        return o;
    }
    o.result = KOR_OK;
    return o;
}

struct Gates {
    std::optional<uint32_t> report;
    std::vector<std::optional<uint32_t>> cameras;  // the 20 companions of a list read
};

void CheckRead(const Setup& s, const Outcome& o, const Gates& gates, const std::string& address,
               int32_t result, const KorNumberValue& number, const char* text) {
    const std::array<uint8_t, 50>& r = o.reply;
    std::string about = address + ": ";
    int32_t decoded = KOR_OK;
    Log log = o.log;
    std::optional<uint16_t> expectNumber;
    std::optional<std::string> expectText, expectReport;
    std::vector<std::optional<double>> expectCameras(20);
    if (o.result == KOR_OK) {
        switch (s.gate) {
            case Gate::Ver: {
                std::string version;
                for (std::size_t i = 6; i + 1 < o.received && r[i] != 0 && version.size() < 29; ++i)
                    version += static_cast<char>(r[i]);
                expectText = version;
                break;
            }
            case Gate::Tad:
                expectText = ClockText(r);
                break;
            case Gate::Als:
                if (o.received <= 7) {
                    expectNumber = 0;
                } else if (gates.report && StateText(r[17]) == nullptr) {
                    decoded = KOR_REFUSED;
                } else {
                    if (gates.report) expectReport = ClockText(r) + " " + StateText(r[17]);
                    expectNumber = r[17];
                }
                break;
            default: {  // the camera lists
                int found = 0;
                for (int i = 0; i < 20; ++i) {
                    if (!gates.cameras[static_cast<std::size_t>(i)]) continue;
                    ++found;
                    const uint8_t b = r[6 + static_cast<std::size_t>(i)];
                    const bool valid = s.gate == Gate::Aas ? StateText(b) != nullptr : b <= 1;
                    if (!valid) {
                        decoded = KOR_REFUSED;
                        break;
                    }
                    expectCameras[static_cast<std::size_t>(i)] = b;
                }
                if (decoded == KOR_OK && found == 20) expectNumber = 1;
                if (decoded == KOR_OK && found < 20)
                    log.push_back({32,
                                   "VERODI: SingleWrite(), can't supply full report for "
                                   "cameras, plc " +
                                       std::to_string(s.mux) + " (not enough TAGS), plcNum"});
            }
        }
    }
    fuzz::Expect(result == (o.result == KOR_OK ? decoded : o.result),
                 about + "result " + std::to_string(result));
    fuzz::ExpectLog(zanpro::TakeLog(), log);
    if (expectText) fuzz::Expect(text == *expectText, about + "text \"" + text + "\"");
    if (!expectText && (s.gate == Gate::Ver || s.gate == Gate::Tad))
        fuzz::Expect(text[0] == '\x7F', about + "text stored");
    fuzz::Expect(number.Number == expectNumber.value_or(0x7777),
                 about + "number " + std::to_string(number.Number));
    if (gates.report) {
        const auto stored = zanpro::GateText(*gates.report);
        fuzz::Expect(expectReport ? stored == expectReport : zanpro::GateStores(*gates.report) == 0,
                     about + "report \"" + stored.value_or("") + "\"");
    }
    for (std::size_t i = 0; i < gates.cameras.size(); ++i) {
        if (!gates.cameras[i]) continue;
        const auto stored = zanpro::GateValue(*gates.cameras[i]);
        fuzz::Expect(expectCameras[i] ? stored == expectCameras[i]
                                      : zanpro::GateStores(*gates.cameras[i]) == 0,
                     about + "camera " + std::to_string(i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::Reader in(data, size);
    const Setup s = ReadSetup(in);
    const std::string address = AddressOf(s);

    fuzz::QuietHost();
    roderavo::SetPauseFunction(nullptr);
    fake_port::Line line("ttyFuzzR");
    DriverContext context{};
    InitParams init{};
    std::snprintf(init.PortName, sizeof init.PortName, "%s", line.Name().c_str());
    init.OpenRequested = 1;
    init.PollInterval = s.poll;
    init.BaudRate = s.baud;
    init.DataBits = 8;
    if (fuzz::Call(context, KOR_FUNC_INIT, &init) != KOR_OK) fuzz::Fail("Init on the fake line");
    zanpro::TakeLog();

    Gates gates;
    if (s.gate == Gate::Als && s.reportGate)
        gates.report = zanpro::AddGate(fuzz::kInstance, Name("TAS", s.mux, s.camera));
    if (s.gate == Gate::Aas || s.gate == Gate::Vls) {
        for (int i = 0; i < 20; ++i) {
            gates.cameras.emplace_back();
            if (i != s.missing)
                gates.cameras.back() = zanpro::AddGate(
                    fuzz::kInstance,
                    Name(s.gate == Gate::Aas ? "SAC" : "SVC", s.mux, 20 * s.mux + 1 + i));
        }
    }

    // Each attempt begins with the flush's ClearErrors: its send faults are armed
    // there, and what the last reply still had on its way is gone.
    std::size_t attempt = 0;
    const std::size_t requestSize = Requests(s).front().size();
    std::vector<Bytes> requests;
    line.OnCall([&](fake_port::Call call) {
        if (call != fake_port::Call::ClearErrors) return;
        line.DropInputToCome();
        const Attempt* a = attempt < s.attempts.size() ? &s.attempts[attempt] : nullptr;
        ++attempt;
        if (a == nullptr) return;
        if (a->fault == SendFault::Flush) {
            line.Fail(fake_port::Call::ClearErrors);
            line.Fail(fake_port::Call::Read);
        } else if (a->fault == SendFault::Write) {
            line.Fail(fake_port::Call::Write);
        } else if (a->fault == SendFault::Short) {
            line.ShortWrites(static_cast<uint32_t>(a->shortBy % requestSize));
        }
    });
    line.OnWrite([&](const Bytes& written) {
        if (written.size() != requestSize) return;
        requests.push_back(written);
        if (attempt == 0 || attempt > s.attempts.size()) return;
        const Attempt& a = s.attempts[attempt - 1];
        for (std::size_t from = 0, to = 0; from < a.reply.size(); from = to) {
            while (to < a.reply.size() && a.arrival[to] == a.arrival[from]) ++to;
            line.Arrive(Bytes(a.reply.begin() + static_cast<long>(from),
                              a.reply.begin() + static_cast<long>(to)),
                        fake_port::Now() + a.arrival[from]);
        }
    });

    std::array<char, 64> text{};
    text.fill('\x7F');
    KorNumberValue number{0, 0x7777};
    const bool isText = s.gate == Gate::Ver || s.gate == Gate::Tad;
    GateParams gate{};
    gate.Address = address.c_str();
    gate.plcNum = s.mux;
    gate.AccessClass = s.gate == Gate::Tad ? KOR_ACCESS_READ_WRITE
                       : IsWrite(s.gate)   ? KOR_ACCESS_WRITE_ONLY
                                           : KOR_ACCESS_READ_ONLY;
    gate.ValueKind = isText ? KOR_VALUE_TEXT : KOR_VALUE_NUMBER;
    gate.Value = isText ? static_cast<void*>(text.data()) : &number;
    if (s.gate == Gate::Preset) {
        static char presetText[] = "(9,13)";
        gate.ValueKind = KOR_VALUE_TEXT;
        gate.Value = presetText;
    }
    number.Number = IsWrite(s.gate) && s.gate == Gate::Key ? 53 : 0x7777;

    const fake_port::Watch watch;
    const int32_t result =
        fuzz::Call(context, IsWrite(s.gate) ? KOR_FUNC_SINGLE_WRITE : KOR_FUNC_SINGLE_READ, &gate);
    text.back() = '\0';

    const Outcome o = Reference(s, address);
    const std::string about =
        address + " T " + std::to_string(s.timeout) + " baud " + std::to_string(s.baud) + ": ";
    fuzz::Expect(line.Stalls() == 0, about + "a read waited for ever");
    fuzz::Expect(watch.Elapsed() <= o.bound, about + "took " + std::to_string(watch.Elapsed()) +
                                                 " ms, bound " + std::to_string(o.bound));
    fuzz::Expect(watch.PauseCount() == o.pauses, about + "pauses " +
                                                     std::to_string(watch.PauseCount()) +
                                                     " expected " + std::to_string(o.pauses));
    fuzz::Expect(requests == o.requests, about + std::to_string(requests.size()) +
                                             " requests on the line, expected " +
                                             std::to_string(o.requests.size()));
    if (IsWrite(s.gate)) {
        fuzz::Expect(result == o.result, about + "result " + std::to_string(result) + " expected " +
                                             std::to_string(o.result));
        fuzz::ExpectLog(zanpro::TakeLog(), o.log);
    } else {
        CheckRead(s, o, gates, address, result, number, text.data());
    }
    fuzz::Call(context, KOR_FUNC_EXIT, nullptr);
    return 0;
}
