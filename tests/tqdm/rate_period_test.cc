#include <gtest/gtest.h>

#include <sstream>

#include "bar_line.h"
#include "child_stdout.h"
#include "tqdm.h"
#include "tqdm_peer.h"

namespace tqdm_testing {
namespace {

ChildResult on_terminal(const std::function<std::string(tqdm&)>& steps) {
    return run_in_child(StdoutKind::terminal, ChildEnv{}, [&] {
        FakeClock::set_seconds(0);
        FakeClock::reads = 0;
        tqdm bar(&FakeClock::now);
        return steps(bar);
    });
}

std::string period_and_smoothing(const tqdm& bar) {
    const tqdm_peer::State s = tqdm_peer::state(bar);
    return std::to_string(s.period) + "/" + std::to_string(s.smoothing);
}

const std::string kDrawStart = "\r \x1b[38;2;";

// Ten draws one millisecond apart keep period 1; the eleventh sets it from the average
// rate, 0.04 * 10 / 0.011 s = 36.4.
TEST(Period, AdaptsFromTheEleventhDraw) {
    const ChildResult got = on_terminal([](tqdm& bar) {
        std::ostringstream report;
        for (int i = 0; i < 10; ++i) {
            FakeClock::set_seconds(0.001 * (i + 1));
            bar.progress(i, 100000);
        }
        report << period_and_smoothing(bar) << ' ';
        FakeClock::set_seconds(0.011);
        bar.progress(10, 100000);
        report << period_and_smoothing(bar) << ' ';

        const tqdm_peer::State before = tqdm_peer::state(bar);
        const int reads = FakeClock::reads;
        for (int i = 11; i < 36; ++i) bar.progress(i, 100000);
        report << (tqdm_peer::state(bar) == before) << ' ' << FakeClock::reads - reads << ' ';

        FakeClock::set_seconds(0.012);
        bar.progress(36, 100000);  // 0.04 * 36 / 0.012 = 120
        report << period_and_smoothing(bar);
        return report.str();
    });
    EXPECT_EQ(got.report, "1/50 36/75 1 0 120/75");
    EXPECT_EQ(count(got.out, kDrawStart), 12u);
}

TEST(Period, StaysAtLeastOneAndAtMostHalfAMillion) {
    const ChildResult got = on_terminal([](tqdm& bar) {
        for (int i = 0; i < 11; ++i) {
            FakeClock::set_seconds(i + 1.0);
            bar.progress(i, 1000000000);
        }
        std::string report = period_and_smoothing(bar) + " ";
        FakeClock::set_seconds(12.0);
        bar.progress(200000000, 2000000000);  // 0.04 * 2e8 / 12 s = 666666
        return report + period_and_smoothing(bar);
    });
    EXPECT_EQ(got.report, "1/75 500000/75");
}

// No time passed and nothing done: the ratio is 0/0, and the period stays usable.
TEST(Period, ZeroOverZeroGivesPeriodOne) {
    const ChildResult got = on_terminal([](tqdm& bar) {
        for (int i = 0; i < 12; ++i) bar.progress(0, 1000);
        return period_and_smoothing(bar);
    });
    EXPECT_EQ(got.report, "1/75");
    EXPECT_EQ(count(got.out, kDrawStart), 12u);
}

// The period is compared with what is left after adapting: at 0.6 s a period of 64
// makes the draw at 966 of 1000 the end-of-run draw.
TEST(Period, EndOfRunUsesTheAdaptedPeriod) {
    const ChildResult got = on_terminal([](tqdm& bar) {
        for (int i = 0; i < 10; ++i) {
            FakeClock::set_seconds(0.001 * (i + 1));
            bar.progress(i, 1000);
        }
        FakeClock::set_seconds(0.6);
        bar.progress(966, 1000);  // 0.04 * 966 / 0.6 = 64.4, and 1000 - 966 = 34
        std::fflush(stdout);
        return period_and_smoothing(bar);
    });
    EXPECT_EQ(got.report, "64/75");
    EXPECT_NE(got.out.find("[1000/1000 | 1.7 kHz | 1s<0s]"), std::string::npos) << got.out;
}

// 25 steps of 10 s, 25 of 0.25 s, 50 of 0.5 s, one entry each: a window of 75 gives
// 75 / 31.25 s = 2.4 Hz (50 would give 2.0, 76 would give 1.84).
TEST(Rate, WindowHoldsTheNewest75Steps) {
    const ChildResult got = on_terminal([](tqdm& bar) {
        double t = 10.0;
        FakeClock::set_seconds(t);
        bar.progress(0, 1000);
        for (int c = 1; c <= 100; ++c) {
            t += c <= 25 ? 10.0 : c <= 50 ? 0.25 : 0.5;
            FakeClock::set_seconds(t);
            bar.progress(c, 1000);
        }
        const tqdm_peer::State s = tqdm_peer::state(bar);
        return std::to_string(s.deq_t_size) + " " + std::to_string(s.deq_n_size) + " " + std::to_string(s.nupdates);
    });
    EXPECT_EQ(got.report, "75 75 101");
    const std::string last = got.out.substr(got.out.rfind(kDrawStart));
    EXPECT_NE(last.find("[ 100/1000 | 2.4 Hz | 291s<375s]"), std::string::npos) << last;
}

// The first step is timed from the constructor's second clock reading; elapsed time
// from its first.
TEST(Rate, FirstStepStartsAtTheSecondClockReading) {
    const ChildResult got = run_in_child(StdoutKind::terminal, ChildEnv{}, [] {
        static long long reading = 0;
        tqdm bar([] { return tqdm::time_point(std::chrono::seconds(reading++)); });
        bar.progress(10, 1000);
        return std::string();
    });
    EXPECT_NE(got.out.find("[  10/1000 | 10.0 Hz | 2s<99s]"), std::string::npos) << got.out;
}

// Newest sample first, each older one folded in with weight 0.1: 20, then 19, then 17.1.
TEST(Rate, MovingAverageFoldsTheOldestSampleInLast) {
    const ChildResult got = on_terminal([](tqdm& bar) {
        tqdm_peer::use_ema(bar);
        FakeClock::set_seconds(1.0);
        bar.progress(0, 1000);
        FakeClock::set_seconds(2.0);
        bar.progress(10, 1000);
        FakeClock::set_seconds(3.0);
        bar.progress(30, 1000);
        return std::string();
    });
    const std::string last = got.out.substr(got.out.rfind(kDrawStart));
    EXPECT_NE(last.find("[  30/1000 | 17.1 Hz | 3s<57s]"), std::string::npos) << last;
}

}  // namespace
}  // namespace tqdm_testing
