#include <gtest/gtest.h>

#include <cstdio>

#include "bar_line.h"
#include "child_stdout.h"
#include "tqdm.h"

namespace tqdm_testing {
namespace {

// Draws on a terminal with neither multiplexer set; the bar starts at time 0.
ChildResult draw_on_terminal(const std::function<void(tqdm&)>& steps) {
    return run_in_child(StdoutKind::terminal, ChildEnv{}, [&] {
        FakeClock::set_seconds(0);
        tqdm bar(&FakeClock::now);
        steps(bar);
        return std::string();
    });
}

void at(double seconds, tqdm& bar, int curr, int tot) {
    FakeClock::set_seconds(seconds);
    bar.progress(curr, tot);
}

TEST(Draw, WorkedExampleByteForByte) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) { at(2.0, bar, 500, 1000); });
    ASSERT_TRUE(got.clean_exit);
    const std::string expected = "\r \x1b[38;2;254;255;89m " + repeat("\xe2\x96\x88", 20) + " " + std::string(19, ' ') +
                                 "\xe2\x96\x8f \x1b[1m\x1b[31m50.0% \x1b[34m[ 500/1000 | 250.0 Hz | 2s<2s]  "
                                 "\x1b[0m\x1b[32m\x1b[0m\r ";
    EXPECT_EQ(got.out, expected);  // arrives although the child never flushes: the draw did
}

TEST(Draw, FirstDrawHasZeroRateAndInfiniteRemainingTime) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) { at(0.25, bar, 0, 1000); });
    EXPECT_EQ(got.out, line(rgb(255, 89, 89), std::string(40, ' '), kPad, " 0.0", "[   0/1000 | 0.0 Hz | 0s<infs]"));
}

TEST(Draw, FirstDrawWithTheSystemClock) {
    const ChildResult got = run_in_child(StdoutKind::terminal, ChildEnv{}, [] {
        tqdm bar;
        bar.progress(0, 1000);
        return std::string();
    });
    const std::string head = "\r " + rgb(255, 89, 89) + std::string(40, ' ') + kPad + " " + kBoldRed + " 0.0% ";
    EXPECT_EQ(got.out.substr(0, head.size()), head);
    EXPECT_NE(got.out.find("[   0/1000 | 0.0 Hz | "), std::string::npos) << got.out;
    EXPECT_NE(got.out.find("s<infs]  " + kTail), std::string::npos) << got.out;
}

TEST(Draw, PartialCellAndPercentageBelowTen) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) { at(1.2, bar, 45, 1000); });
    const std::string cells = kFull + "\xe2\x96\x8a" + std::string(38, ' ');  // 1.8 cells: k = 6
    EXPECT_EQ(got.out, line(rgb(255, 104, 89), cells, kPad, " 4.5", "[  45/1000 | 37.5 Hz | 1s<25s]"));
}

TEST(Draw, WideNumbersWidenTheBlock) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) { at(1.0, bar, 12345, 123456); });
    EXPECT_NE(got.out.find(kBoldRed + "10.0% " + kBlue + "[12345/123456 | 12."), std::string::npos) << got.out;
}

const std::string kLine990 =
    line(rgb(92, 255, 89), repeat(kFull, 39) + "\xe2\x96\x8c", kPad, "99.0", "[ 990/1000 | 990.0 Hz | 1s<0s]");
const std::string kLine999 = line(rgb(89, 255, 89), repeat(kFull, 40), kPad, "100.0", "[1000/1000 | 500.0 Hz | 2s<0s]");

// With period 1 the draw at tot - 1 is already the end-of-run draw: full bar, average
// rate over the whole run, and no flush.
TEST(Draw, EndOfRunDrawIsCompleteAndStaysBuffered) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) {
        at(1.0, bar, 990, 1000);
        at(2.0, bar, 999, 1000);
    });
    EXPECT_EQ(got.out, kLine990);
}

TEST(Draw, EndOfRunDrawReachesTheTerminalOnTheNextFlush) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) {
        at(1.0, bar, 990, 1000);
        at(2.0, bar, 999, 1000);
        std::fflush(stdout);
    });
    EXPECT_EQ(got.out, kLine990 + kLine999);
}

TEST(Draw, FinishDrawsAtTheLastTotalThenEndsTheLine) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) {
        at(1.0, bar, 990, 1000);
        at(2.0, bar, 999, 1000);
        FakeClock::set_seconds(4.0);
        bar.finish();
    });
    const std::string last = line(rgb(89, 255, 89), repeat(kFull, 40), kPad, "100.0", "[1000/1000 | 250.0 Hz | 4s<0s]");
    EXPECT_EQ(got.out, kLine990 + kLine999 + last + "\n");
}

TEST(Draw, PositionBeyondTotalShowsTheTotal) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) {
        at(2.0, bar, 1500, 1000);
        std::fflush(stdout);
    });
    EXPECT_EQ(got.out, kLine999);
}

TEST(Draw, FinishOnABarThatNeverDrewDrawsAnEmptyBar) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) {
        FakeClock::set_seconds(3.0);
        bar.finish();
    });
    EXPECT_EQ(got.out, line(rgb(89, 255, 89), "", kPad, "100.0", "[   0/   0 | 0.0 Hz | 3s<0s]") + "\n");
}

TEST(Draw, RateUnitBoundariesAreStrict) {
    const ChildResult got = run_in_child(StdoutKind::terminal, ChildEnv{}, [] {
        struct Case {
            double seconds;
            int curr, tot;
        };
        for (const Case c : {Case{1.0, 1000, 10000000}, Case{2.0, 2001, 10000000}, Case{1.0, 1000000, 100000000},
                             Case{1.0, 2500000, 100000000}}) {
            FakeClock::set_seconds(0);
            tqdm bar(&FakeClock::now);
            at(c.seconds, bar, c.curr, c.tot);
        }
        return std::string();
    });
    EXPECT_EQ(count(got.out, "| 1000.0 Hz |"), 1u) << got.out;
    EXPECT_EQ(count(got.out, "| 1.0 kHz |"), 1u) << got.out;
    EXPECT_EQ(count(got.out, "| 1000.0 kHz |"), 1u) << got.out;
    EXPECT_EQ(count(got.out, "| 2.5 MHz |"), 1u) << got.out;
}

TEST(Draw, WithoutColoursTheLineEndsAfterTheLabel) {
    const ChildResult got = draw_on_terminal([](tqdm& bar) {
        bar.disable_colors();
        bar.set_label("skim");
        at(2.0, bar, 500, 1000);
    });
    EXPECT_EQ(got.out, "\r " + repeat(kFull, 20) + std::string(20, ' ') + kPad + " 50.0% [ 500/1000 | 250.0 Hz | 2s<2s] skim ");
}

}  // namespace
}  // namespace tqdm_testing
