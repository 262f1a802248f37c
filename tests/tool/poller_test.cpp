// The polling logic without a line: cycles, demotion, recovery and the counts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <roderavo/kor.h>

#include <functional>
#include <map>
#include <optional>

#include "poll/poller.h"

using namespace roderavo::tool;

namespace {

struct FakeLine {
    std::map<int, bool> answers;      // per multiplexer
    std::optional<PollGate> refused;  // answered with a refusal (the line works)
    std::vector<std::pair<int, PollGate>> asked;
    GateOutcome Read(int mux, PollGate gate) {
        asked.emplace_back(mux, gate);
        GateOutcome outcome;
        if (refused == gate) {
            outcome.status = KOR_REFUSED;
            return outcome;
        }
        if (!answers[mux]) {
            outcome.status = KOR_COMM_FAILURE;
            outcome.logLine =
                "VERODI: Failed to read reply from PLC,GAS:VER" + std::to_string(mux) + ".";
            return outcome;
        }
        outcome.text = gate == PollGate::Version ? "V1" : "01.01.2000 00:00:00 hrs";
        for (auto& cell : outcome.cameras) cell = 0;
        if (gate == PollGate::Alarms) outcome.cameras[2] = 0x20;
        return outcome;
    }
};

TEST(Poller, ReadsFourGatesOfEachMultiplexerAndDemotesOneThatFails) {
    FakeLine line;
    line.answers = {{0, true}, {3, true}};
    PollSettings settings;
    settings.muxes = {0, 3};
    settings.demoteAfter = 3;
    settings.demotedInterval = std::chrono::seconds(10);
    settings.clockEvery = settings.versionEvery = {};  // all four gates every cycle
    Poller poller(settings, [&](int mux, PollGate gate) { return line.Read(mux, gate); });
    PollClock::time_point now{};
    auto clock = [&] { return now; };
    auto never = [] { return false; };
    int progress = 0;

    poller.Cycle(
        clock, [] {}, never);
    now += std::chrono::seconds(1);
    line.answers[3] = false;
    for (int cycle = 1; cycle <= 3; ++cycle) {
        poller.Cycle(
            clock, [&] { ++progress; }, never);
        now += std::chrono::seconds(1);
        const MuxState expected = cycle < 3 ? MuxState::Failing : MuxState::Demoted;
        EXPECT_EQ(poller.Muxes()[1].state, expected) << cycle;
    }
    // Commands are not sent to it while it is demoted.
    EXPECT_EQ(poller.Unreachable(), (std::map<int, std::string>{{3, "demoted"}}));
    const MuxView& good = poller.Muxes()[0];
    EXPECT_EQ(good.state, MuxState::Ok);
    EXPECT_EQ(good.requests, 16u);
    EXPECT_EQ(good.good, 16u);
    EXPECT_EQ(good.alarm[2], 0x20);
    EXPECT_EQ(good.version, "V1");
    // A multiplexer that does not answer is asked only its first gate per cycle.
    const MuxView& dead = poller.Muxes()[1];
    EXPECT_EQ(dead.requests, 4u + 3u);
    EXPECT_EQ(dead.errors, 3u);
    EXPECT_NE(poller.LastError().find("AAS3: no answer (VERODI: Failed to read reply"),
              std::string::npos);
    EXPECT_GT(progress, 0);

    // Demoted: skipped until its interval has passed (now is 3 s after the demotion).
    line.asked.clear();
    for (int i = 0; i < 10; ++i) {
        poller.Cycle(
            clock, [] {}, never);
        now += std::chrono::seconds(1);
    }
    int askedDead = 0;
    for (const auto& [mux, gate] : line.asked) askedDead += mux == 3;
    EXPECT_EQ(askedDead, 1);  // at 10 s after the demotion, once

    // It comes back: the next due cycle finds it answering.
    line.answers[3] = true;
    now += std::chrono::seconds(10);
    poller.Cycle(
        clock, [] {}, never);
    EXPECT_EQ(poller.Muxes()[1].state, MuxState::Ok);
    EXPECT_EQ(poller.Muxes()[1].consecutiveFailures, 0);
    EXPECT_TRUE(poller.Unreachable().empty());
}

// The scan classes: the alarms every cycle, the clock every clockEvery and after a
// write, the version at the start, after a failure and every versionEvery. A refused
// reply ends only that gate's read, a silent multiplexer its turn.
TEST(Poller, AlarmsEveryCycleClockAndVersionWhenDue) {
    FakeLine line;
    line.answers = {{1, true}};
    PollSettings settings;
    settings.muxes = {1};
    settings.clockEvery = std::chrono::seconds(60);
    settings.versionEvery = std::chrono::hours(1);
    Poller poller(settings, [&](int mux, PollGate gate) { return line.Read(mux, gate); });
    PollClock::time_point now{};
    using G = PollGate;
    const std::vector<G> alarms = {G::Alarms, G::VideoLoss};
    const std::vector<G> withClock = {G::Alarms, G::VideoLoss, G::Clock};
    const std::vector<G> all = {G::Alarms, G::VideoLoss, G::Clock, G::Version};
    struct Step {
        const char* what;
        std::chrono::seconds after;  // since the step before
        std::function<void()> before;
        std::vector<G> asked;
    };
    const Step steps[] = {
        {"the start", {}, [] {}, all},
        {"a second later", std::chrono::seconds(1), [] {}, alarms},
        {"a minute later", std::chrono::seconds(60), [] {}, withClock},
        {"its clock written", std::chrono::seconds(1), [&] { poller.ClockWritten(1); }, withClock},
        {"silent", std::chrono::seconds(1), [&] { line.answers[1] = false; }, {G::Alarms}},
        {"answers again", std::chrono::seconds(1), [&] { line.answers[1] = true; }, all},
        {"an hour later", std::chrono::hours(1), [] {}, all},
        {"refuses its alarms", std::chrono::seconds(1), [&] { line.refused = G::Alarms; }, alarms},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        now += step.after;
        step.before();
        line.asked.clear();
        poller.Cycle([&] { return now; }, [] {}, [] { return false; });
        std::vector<G> asked;
        for (const auto& [mux, gate] : line.asked) asked.push_back(gate);
        EXPECT_EQ(asked, step.asked);
    }
}

TEST(Poller, AStopRequestEndsTheCycleBeforeTheNextGate) {
    FakeLine line;
    line.answers = {{0, true}, {1, true}};
    PollSettings settings;
    settings.muxes = {0, 1};
    Poller poller(settings, [&](int mux, PollGate gate) { return line.Read(mux, gate); });
    int reads = 0;
    poller.Cycle([] { return PollClock::now(); }, [] {}, [&] { return reads++ >= 2; });
    EXPECT_EQ(line.asked.size(), 2u);
}

TEST(Poller, LossInPerCent) {
    MuxView view;
    EXPECT_EQ(LossPercent(view), 0.0);
    view.requests = 8;
    view.errors = 2;
    EXPECT_EQ(LossPercent(view), 25.0);
}

}  // namespace

namespace {

// The line dies after two good cycles: the multiplexer not yet reached turns stale
// while the first one's reads time out, and demotion and recovery are told as events.
TEST(Poller, DataOlderThanTwoCyclesTurnsStaleAndEventsTellDemotionAndRecovery) {
    FakeLine line;
    line.answers = {{0, true}, {1, true}};
    PollSettings settings;
    settings.muxes = {0, 1};
    settings.demoteAfter = 2;
    settings.interval = std::chrono::milliseconds(100);
    PollClock::time_point now{};
    std::vector<std::string> events;
    Poller poller(
        settings,
        [&](int mux, PollGate gate) {
            now += std::chrono::milliseconds(line.answers[mux] ? 10 : 5000);  // a dead read is long
            return line.Read(mux, gate);
        },
        [&](const std::string& text) { events.push_back(text); });
    auto clock = [&] { return now; };
    for (int cycle = 0; cycle < 2; ++cycle)
        poller.Cycle(
            clock, [] {}, [] { return false; });
    // Two cycles of 100 ms, but never less than a second: a continuous poll of an
    // instant line would call data of a millisecond stale.
    EXPECT_EQ(poller.StaleAfter(), kLeastStaleAfter);
    EXPECT_EQ(ShownState(poller.Muxes()[1], now, poller.StaleAfter()), MuxState::Ok);

    line.answers = {{0, false}, {1, false}};
    MuxState muxOneDuringCycle = MuxState::Waiting;
    poller.Cycle(
        clock, [&] { muxOneDuringCycle = poller.Muxes()[1].state; }, [] { return false; });
    EXPECT_EQ(muxOneDuringCycle, MuxState::Failing);  // after its own read failed
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], "mux 1 stale: no good read for 5.0 s");

    poller.Cycle(
        clock, [] {}, [] { return false; });
    EXPECT_THAT(events, ::testing::Contains("mux 0 demoted after 2 failed cycles: polled every "
                                            "10.0 s only"));
    line.answers = {{0, true}, {1, true}};
    now += std::chrono::seconds(20);
    poller.Cycle(
        clock, [] {}, [] { return false; });
    EXPECT_THAT(events, ::testing::Contains("mux 0 answers again: ok (was demoted)"));
    // A burst of commands between the reads (1.5 s after each gate) delays the reads
    // after it; it leaves the data read before it no less true.
    int calls = 0;
    std::vector<MuxState> shown;
    poller.Cycle(
        clock,
        [&] {
            if (calls++ == 0) return;  // before the cycle's first read
            shown.push_back(ShownState(poller.Muxes()[0], now, poller.StaleAfter()));
            now += std::chrono::milliseconds(1500);
        },
        [] { return false; });
    EXPECT_THAT(shown, ::testing::Each(MuxState::Ok));
}

// Most sites have fewer than five multiplexers. One that never answers is demoted at
// once, and the cycles that still try it (each try waits out five time-outs) leave the
// others ok: over 45 s with the default times, no other is ever shown stale.
TEST(Poller, AnAbsentMultiplexerLeavesTheOthersOk) {
    FakeLine line;
    line.answers = {{0, true}, {1, true}, {2, true}, {3, true}, {4, false}};
    PollSettings settings;  // interval 1 s, demoted ones tried every 10 s
    settings.failedRead = 5 * std::chrono::milliseconds(1000 + 50);
    PollClock::time_point now{};
    std::vector<std::string> events;
    Poller poller(
        settings,
        [&](int mux, PollGate gate) {
            now += line.answers[mux] ? std::chrono::milliseconds(100) : settings.failedRead;
            return line.Read(mux, gate);
        },
        [&](const std::string& text) { events.push_back(text); });
    auto clock = [&] { return now; };
    int notOk = 0;
    auto look = [&] {
        for (const MuxView& view : poller.Muxes())
            if (view.mux < 4 && view.lastGood &&
                ShownState(view, now, poller.StaleAfter()) != MuxState::Ok &&
                view.state != MuxState::Waiting)
                ++notOk;
    };
    const auto end = now + std::chrono::seconds(45);
    while (now < end) {
        const auto start = now;
        poller.Cycle(clock, look, [] { return false; });
        now = std::max(now, start + settings.interval);
        look();
    }
    EXPECT_EQ(notOk, 0);
    EXPECT_EQ(poller.Muxes()[4].state, MuxState::Demoted);
    EXPECT_EQ(poller.Unreachable(), (std::map<int, std::string>{{4, "absent"}}));
    EXPECT_THAT(
        events,
        ::testing::ElementsAre(
            "mux 4 demoted: it has not answered since the start; polled every 10.0 s only"));
}

}  // namespace
