// CPU per step of a read, on the driver's own routines: the address parse, the
// request build, the reply check, the decode of an AAS list into its twenty
// companion gates, and a whole SingleRead through KorMain on the fake port (an
// instant multiplexer, virtual time: no system calls, no waiting).
#include <benchmark/benchmark.h>
#include <zanpro/host.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "address/address_grammar.h"
#include "bench_common.h"
#include "entry/gate_records.h"
#include "fake_port/fake_port.h"
#include "protocol/reply_check.h"
#include "protocol/status_decode.h"
#include "protocol/status_request.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithChecksum(Bytes frame) {
    unsigned sum = 0;
    for (const uint8_t byte : frame)
        if (byte != 0xFF) sum += byte;
    frame.push_back(static_cast<uint8_t>(-sum & 0xFF));
    return frame;
}

// The AAS reply of multiplexer 1: 20 state bytes, 27 bytes in all.
Bytes AasReply() {
    Bytes frame = {0xFF, 0x1A, 0xF0, 0x50, 0x11, 0x10};
    for (int camera = 0; camera < 20; ++camera) frame.push_back(camera == 3 ? 0x20 : 0x00);
    return WithChecksum(frame);
}

struct Address {
    const char* text;
    int32_t valueKind;
};
constexpr std::array<Address, 8> kAddresses = {{{"AAS1", 0},
                                                {"ALS121", 0},
                                                {"VER0", 7},
                                                {"KEY3", 0},
                                                {"SAC140", 0},
                                                {"TAD2", 7},
                                                {"PRESET0", 7},
                                                {"INHPAIR4", 7}}};

void AddressParse(benchmark::State& state) {
    for (const Address& a : kAddresses) {
        if (!roderavo::ParseAddress(a.text, a.valueKind)) {
            state.SkipWithError(a.text);
            return;
        }
    }
    for (auto _ : state) {
        for (const Address& a : kAddresses) {
            auto form = roderavo::ParseAddress(a.text, a.valueKind);
            benchmark::DoNotOptimize(form);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kAddresses.size()));
}
BENCHMARK(AddressParse);

void RequestBuild(benchmark::State& state) {
    KorNumberValue value{0, 0};
    GateParams aas = bench::MakeGateParams("AAS1", 1, 2, 0, &value);
    GateParams als = bench::MakeGateParams("ALS121", 1, 2, 0, &value);
    for (auto _ : state) {
        // GateOf is part of the build: the read path makes the gate from the record.
        auto a = roderavo::BuildStatusRequest(roderavo::GateOf(aas));
        auto b = roderavo::BuildStatusRequest(roderavo::GateOf(als));
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(RequestBuild);

void ReplyCheck(benchmark::State& state) {
    const Bytes reply = AasReply();
    const roderavo::ReplyExpectation expected{false, 0x50, 0x11};
    uint16_t received = 0;
    if (roderavo::CheckReply(reply, expected, received) != roderavo::DriverStatus::Ok) {
        state.SkipWithError("the AAS reply does not check");
        return;
    }
    for (auto _ : state) {
        auto verdict = roderavo::CheckReply(reply, expected, received);
        benchmark::DoNotOptimize(verdict);
        benchmark::DoNotOptimize(received);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(reply.size()));
}
BENCHMARK(ReplyCheck);

// The short ALS reply of multiplexer 1 (no alarm report): 7 bytes.
Bytes AlsShortReply() {
    return WithChecksum({0xFF, 0x06, 0xF0, 0x49, 0x11, 0x10});
}

// The companion gate of a camera: SAC121 for camera 21, SAC4100 for camera 100.
std::string CameraGate(const char* form, int camera) {
    const int mux = (camera - 1) / 20;
    const std::string number = camera < 10 ? "0" + std::to_string(camera) : std::to_string(camera);
    return form + std::to_string(mux) + number;
}

// A driver instance on a fake line whose multiplexer answers every write at once
// with the reply given, and the twenty SAC gates of multiplexer 1; with `gates`
// 200, the SAC and TAS gates of all 100 cameras, as a full site configures them.
class FakeInstance {
  public:
    explicit FakeInstance(Bytes reply = AasReply(), int gates = 20) : reply_(std::move(reply)) {
        zanpro::Reset();
        zanpro::KeepLog(false);
        zanpro::SetLogSink([](int32_t, std::string_view) {});
        line_.OnWrite([this](const Bytes&) { line_.Send(reply_); });
        ok_ = instance_.Init(bench::MakeInit(line_.Name(), 9600, 10));
        for (int camera = 21; camera <= 40; ++camera)
            zanpro::AddGate(bench::Instance::kInstanceNumber, CameraGate("SAC", camera));
        for (int camera = 1; gates > 20 && camera <= 100; ++camera) {
            zanpro::AddGate(bench::Instance::kInstanceNumber, CameraGate("SAC", camera));
            zanpro::AddGate(bench::Instance::kInstanceNumber, CameraGate("TAS", camera));
        }
    }
    bool Ok() const { return ok_; }
    bench::Instance& Instance() { return instance_; }
    const Bytes& Reply() const { return reply_; }

  private:
    Bytes reply_;
    fake_port::Line line_{"ttyBench0"};
    bench::Instance instance_;
    bool ok_ = false;
};

// The decode of an AAS reply into its twenty gates, among 20 or 200 configured.
void Decode(benchmark::State& state) {
    FakeInstance fake(AasReply(), static_cast<int>(state.range(0)));
    if (!fake.Ok()) {
        state.SkipWithError("Init on the fake port failed");
        return;
    }
    KorCall call{};
    call.Context = &fake.Instance().Context();
    call.InstanceNumber = bench::Instance::kInstanceNumber;
    const roderavo::Line line = roderavo::LineOf(call);
    KorNumberValue value{0, 0};
    GateParams params = bench::MakeGateParams("AAS1", 1, 2, 0, &value);
    const roderavo::Gate gate = roderavo::GateOf(params);
    roderavo::ReplyBuffer reply{};
    std::copy(fake.Reply().begin(), fake.Reply().end(), reply.begin());
    const auto received = static_cast<uint16_t>(fake.Reply().size());
    if (roderavo::DecodeStatusReply(line, gate, reply, received, 0x50) !=
            roderavo::DriverStatus::Ok ||
        value.Number != 1) {
        state.SkipWithError("the decode does not fill the gates");
        return;
    }
    for (auto _ : state) {
        auto result = roderavo::DecodeStatusReply(line, gate, reply, received, 0x50);
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations() * 20);  // camera gates stored
}
BENCHMARK(Decode)->Arg(20)->Arg(200);

void SingleReadOnFakePort(benchmark::State& state) {
    FakeInstance fake;
    if (!fake.Ok()) {
        state.SkipWithError("Init on the fake port failed");
        return;
    }
    for (auto _ : state) {
        KorNumberValue value{0, 0};
        GateParams gate = bench::MakeGateParams("AAS1", 1, 2, 0, &value);
        if (fake.Instance().Read(gate) != 0 || value.Number != 1) {
            state.SkipWithError("the read failed");
            return;
        }
    }
}
BENCHMARK(SingleReadOnFakePort);

// The read of the latency benchmark (ALS121, the short reply): the driver's own
// CPU per exchange, without the line.
void SingleReadAlsOnFakePort(benchmark::State& state) {
    FakeInstance fake(AlsShortReply());
    if (!fake.Ok()) {
        state.SkipWithError("Init on the fake port failed");
        return;
    }
    for (auto _ : state) {
        KorNumberValue value{0, 7};
        GateParams gate = bench::MakeGateParams("ALS121", 1, 2, 0, &value);
        if (fake.Instance().Read(gate) != 0 || value.Number != 0) {
            state.SkipWithError("the read failed");
            return;
        }
    }
}
BENCHMARK(SingleReadAlsOnFakePort);

}  // namespace

BENCHMARK_MAIN();
