// The 100-camera poll through muxsim on a pseudo-terminal: the alarm states (AAS)
// and video-loss flags (VLS) of the five multiplexers, ten SingleReads through
// KorMain, with every SAC and SVC gate configured. muxsim paces the line at the
// speed asked for, both directions; the poll is set against the wire time of all
// the bytes that went each way (10 bits a byte).
//
//   wire_bench [--quick]          the table rows, at 9600, 19200, 57600, 115200
//   wire_bench --once-aas BAUD    one AAS read between strace markers
//
// The host records carry the speed in 16 bits, so 115200 cannot be asked for
// through Init: the instance is opened at 57600 and the port then set to 115200
// through the port layer, as a Win32 DCB would hold it.
#include <zanpro/host.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "muxsim/simulator.h"
#include "serial/port.h"

namespace {

using bench::Nanos;

constexpr int kMuxCount = 5;

// The companion name the driver builds for camera n of multiplexer m.
std::string CompanionName(const char* prefix, int mux, int camera) {
    const std::string number = std::to_string(camera);
    return std::string(prefix) + std::to_string(mux) +
           (camera < 10 ? "0" + number : number.substr(0, 2));
}

struct Poll {
    std::unique_ptr<muxsim::Simulator> sim;
    bench::Instance instance;
    uint32_t baud = 0;
};

bool Open(Poll& poll, uint32_t baud) {
    zanpro::Reset();
    zanpro::KeepLog(false);
    zanpro::SetLogSink([](int32_t, std::string_view) {});
    muxsim::Options options;
    options.baud = baud;
    options.clockMode = muxsim::ClockMode::Frozen;
    options.keptFrames = 64;
    poll.sim = std::make_unique<muxsim::Simulator>(options);
    poll.baud = baud;
    if (!poll.sim->StartOnPty()) return false;
    const auto initBaud = static_cast<uint16_t>(baud > 65535 ? 57600 : baud);
    if (!poll.instance.Init(bench::MakeInit(poll.sim->PortName(), initBaud, 10))) return false;
    if (baud > 65535) {
        const roderavo::PortHandle port = poll.instance.Context().PortHandle;
        roderavo::PortLineState state{};
        if (!roderavo::PortGetState(port, &state)) return false;
        state.BaudRate = baud;
        if (!roderavo::PortSetState(port, state)) return false;
    }
    for (int mux = 0; mux < kMuxCount; ++mux) {
        for (int k = 1; k <= 20; ++k) {
            const int camera = 20 * mux + k;
            zanpro::AddGate(bench::Instance::kInstanceNumber, CompanionName("SAC", mux, camera));
            zanpro::AddGate(bench::Instance::kInstanceNumber, CompanionName("SVC", mux, camera));
        }
    }
    // Some cameras in alarm, some without video, so that the lists are not all zero.
    poll.sim->SetCameraState(7, muxsim::CameraState::Alarm);
    poll.sim->SetCameraState(58, muxsim::CameraState::VideoLoss);
    poll.sim->SetVideoLoss(58, true);
    poll.sim->SetVideoLoss(93, true);
    return true;
}

bool ReadList(Poll& poll, const char* word, int mux) {
    const std::string address = word + std::to_string(mux);
    KorNumberValue value{0, 0};
    GateParams gate = bench::MakeGateParams(address.c_str(), mux, 2, 0, &value);
    return poll.instance.Read(gate) == 0;
}

bool PollAll(Poll& poll) {
    for (int mux = 0; mux < kMuxCount; ++mux)
        if (!ReadList(poll, "AAS", mux) || !ReadList(poll, "VLS", mux)) return false;
    return true;
}

// The wire time, in ns, of the bytes that went each way since the last call.
Nanos TakeWireTime(Poll& poll) {
    std::size_t bytes = 0;
    for (const muxsim::ReceivedFrame& frame : poll.sim->Received()) bytes += frame.bytes.size();
    for (const std::vector<uint8_t>& reply : poll.sim->Sent()) bytes += reply.size();
    poll.sim->ClearReceived();
    return static_cast<Nanos>(bytes) * 10 * 1'000'000'000 / static_cast<Nanos>(poll.baud);
}

// The same poll by a bare client on a simulator of its own: write the request,
// poll and read until the 27 bytes of the reply are there. What it takes beyond
// the wire time is the simulator's and the machine's, not the driver's.
class BarePoll {
  public:
    bool Open(uint32_t baud) {
        muxsim::Options options;
        options.baud = baud;
        options.clockMode = muxsim::ClockMode::Frozen;
        options.keptFrames = 64;
        sim_ = std::make_unique<muxsim::Simulator>(options);
        if (!sim_->StartOnPty()) return false;
        fd_ = open(sim_->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return false;
        termios raw{};
        tcgetattr(fd_, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd_, TCSANOW, &raw);
        return true;
    }
    ~BarePoll() {
        if (fd_ >= 0) close(fd_);
    }
    bool PollAll() {
        for (int mux = 0; mux < kMuxCount; ++mux)
            for (const uint8_t command : {uint8_t{0x50}, uint8_t{0x51}})
                if (!Exchange(mux, command)) return false;
        return true;
    }

  private:
    bool Exchange(int mux, uint8_t command) {
        std::array<uint8_t, 7> request = {
            0xFF, 0x06, static_cast<uint8_t>(16 * mux + 1), command, 0x3C, 0x10, 0};
        unsigned sum = 0;
        for (std::size_t i = 1; i < 6; ++i) sum += request[i];
        request[6] = static_cast<uint8_t>(-sum & 0xFF);
        if (write(fd_, request.data(), request.size()) != 7) return false;
        std::array<uint8_t, 64> reply{};
        std::size_t got = 0;
        while (got < 27) {
            pollfd watch{fd_, POLLIN, 0};
            if (poll(&watch, 1, 1000) <= 0) return false;
            const ssize_t count = read(fd_, reply.data() + got, reply.size() - got);
            if (count < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (count > 0) got += static_cast<std::size_t>(count);
        }
        return true;
    }

    std::unique_ptr<muxsim::Simulator> sim_;
    int fd_ = -1;
};

int OnceAas(uint32_t baud) {
    bench::UseRealtime();  // muxsim keeps its schedule under strace and load
    Poll poll;
    if (!Open(poll, baud) || !ReadList(poll, "AAS", 1)) return 1;
    bench::StraceMark("bench-begin");
    const bool ok = ReadList(poll, "AAS", 1);
    bench::StraceMark("bench-end");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--once-aas" && i + 1 < argc) {
            return OnceAas(static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
        } else {
            std::fprintf(stderr, "usage: wire_bench [--quick] [--once-aas BAUD]\n");
            return 2;
        }
    }
    // muxsim's thread inherits the policy.
    const std::string policy = quick ? "normal" : bench::UseRealtime();
    for (const uint32_t baud : {9600u, 19200u, 57600u, 115200u}) {
        Poll poll;
        BarePoll bare;
        // The first polls warm up.
        if (!Open(poll, baud) || !PollAll(poll) || !bare.Open(baud) || !bare.PollAll()) {
            std::fprintf(stderr, "wire_bench: the poll at %u baud failed\n", baud);
            return 1;
        }
        TakeWireTime(poll);
        // About two seconds of polls at each speed, at least five; the driver's
        // and the bare client's polls take turns.
        const Nanos oneWire = 3400LL * 1'000'000'000 / baud;
        const int polls = quick ? 1 : std::max(5, static_cast<int>(1'000'000'000 / oneWire));
        std::vector<Nanos> times;
        std::vector<Nanos> ratios;      // in parts per million
        std::vector<Nanos> bareRatios;  // likewise
        Nanos wire = 0;
        for (int i = 0; i < polls; ++i) {
            const Nanos start = bench::Now();
            if (!PollAll(poll)) {
                std::fprintf(stderr, "wire_bench: a poll at %u baud failed\n", baud);
                return 1;
            }
            const Nanos took = bench::Now() - start;
            wire = TakeWireTime(poll);
            times.push_back(took);
            ratios.push_back(took * 1'000'000 / wire);
            const Nanos bareStart = bench::Now();
            if (!bare.PollAll()) {
                std::fprintf(stderr, "wire_bench: a bare poll at %u baud failed\n", baud);
                return 1;
            }
            bareRatios.push_back((bench::Now() - bareStart) * 1'000'000 / wire);
        }
        const bench::Summary t = bench::Summarise(times);
        const bench::Summary r = bench::Summarise(ratios);
        const bench::Summary b = bench::Summarise(bareRatios);
        bench::Row(
            "100-camera poll through muxsim",
            std::to_string(baud) + " baud (n=" + std::to_string(t.count) + ", " + policy + ")",
            bench::Fixed(t.median / 1e6, 2) + " ms", bench::Fixed(t.p99 / 1e6, 2) + " ms",
            "wire " + bench::Fixed(static_cast<double>(wire) / 1e6, 2) + " ms",
            "x" + bench::Fixed(r.median / 1e6, 4) + " wire (p99 x" + bench::Fixed(r.p99 / 1e6, 4) +
                "); bare client x" + bench::Fixed(b.median / 1e6, 4));
    }
    return 0;
}
