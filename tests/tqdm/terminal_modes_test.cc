#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "bar_line.h"
#include "child_stdout.h"
#include "tqdm.h"
#include "tqdm_peer.h"

namespace tqdm_testing {
namespace {

// The worked-example draw (500 of 1000, 250 Hz, 2 s), then an end-of-run draw, flushed.
ChildResult two_draws(StdoutKind kind, const ChildEnv& env) {
    return run_in_child(kind, env, [] {
        FakeClock::set_seconds(0);
        tqdm bar(&FakeClock::now);
        FakeClock::set_seconds(2.0);
        bar.progress(500, 1000);
        FakeClock::set_seconds(4.0);
        bar.progress(1000, 1000);
        std::fflush(stdout);
        return std::string();
    });
}

const std::string kStats500 = "[ 500/1000 | 250.0 Hz | 2s<2s]";
const std::string kStats1000 = "[1000/1000 | 250.0 Hz | 4s<0s]";

const std::string kScreenLines = line(kGreen, repeat("#", 20) + std::string(19, ' '), "|", "50.0", kStats500) +
                                 line(kGreen, repeat("#", 40), "|", "100.0", kStats1000);

TEST(TerminalModes, ScreenUsesAsciiCellsWithoutPartialCellAndFixedGreen) {
    EXPECT_EQ(two_draws(StdoutKind::terminal, {"1234.pts-0.host", std::nullopt}).out, kScreenLines);
}

TEST(TerminalModes, ScreenWinsOverTmux) {
    EXPECT_EQ(two_draws(StdoutKind::terminal, {"1234.pts-0.host", "/tmp/tmux-0/default,1,0"}).out, kScreenLines);
}

TEST(TerminalModes, TmuxKeepsBlocksWithFixedGreen) {
    const std::string expected = line(kGreen, repeat(kFull, 20) + std::string(20, ' '), kPad, "50.0", kStats500) +
                                 line(kGreen, repeat(kFull, 40), kPad, "100.0", kStats1000);
    EXPECT_EQ(two_draws(StdoutKind::terminal, {std::nullopt, "/tmp/tmux-0/default,1,0"}).out, expected);
}

TEST(TerminalModes, EmptyVariablesCountAsUnset) {
    const std::string expected = line(rgb(254, 255, 89), repeat(kFull, 20) + std::string(20, ' '), kPad, "50.0", kStats500) +
                                 line(rgb(89, 255, 89), repeat(kFull, 40), kPad, "100.0", kStats1000);
    EXPECT_EQ(two_draws(StdoutKind::terminal, {std::nullopt, std::nullopt}).out, expected);
    EXPECT_EQ(two_draws(StdoutKind::terminal, {"", std::nullopt}).out, expected);
    EXPECT_EQ(two_draws(StdoutKind::terminal, {std::nullopt, ""}).out, expected);
    // The probe leaves the variable unquoted, so blanks alone are no word either.
    EXPECT_EQ(two_draws(StdoutKind::terminal, {" ", "  "}).out, expected);
}

std::string describe(const tqdm_peer::State& s) {
    std::ostringstream os;
    os << s.nupdates << ' ' << s.total << ' ' << s.period << ' ' << s.n_old << ' ' << s.smoothing << ' '
       << s.t_old_ns << ' ' << s.deq_t_size << ' ' << s.deq_n_size;
    return os.str();
}

TEST(TerminalModes, NonTerminalGetsOnlyTheFinalNewlineAndNoStateChanges) {
    const ChildResult got = run_in_child(StdoutKind::pipe, ChildEnv{}, [] {
        FakeClock::reads = 0;
        FakeClock::set_seconds(1.0);
        tqdm bar(&FakeClock::now);
        const tqdm_peer::State before = tqdm_peer::state(bar);
        for (int i = 0; i < 5000; ++i) {
            FakeClock::set_seconds(1.0 + i);
            bar.progress(i, 5000);
        }
        bar.progress(0, 0);
        const std::string report = describe(before) + " | " + describe(tqdm_peer::state(bar)) + " | " +
                                   std::to_string(FakeClock::reads);
        bar.finish();
        return report;
    });
    EXPECT_EQ(got.out, "\n");
    EXPECT_EQ(got.report, "0 0 1 0 50 1000000000 0 0 | 0 0 1 0 50 1000000000 0 0 | 2");
}

TEST(TerminalModes, EveryThemeKeepsNineGlyphsAndDraws) {
    const ChildResult got = run_in_child(StdoutKind::terminal, ChildEnv{}, [] {
        FakeClock::set_seconds(0);
        tqdm bar(&FakeClock::now);
        std::string sizes;
        int step = 0;
        for (void (tqdm::*theme)() : {&tqdm::set_theme_line, &tqdm::set_theme_circle, &tqdm::set_theme_braille,
                                      &tqdm::set_theme_braille_spin, &tqdm::set_theme_vertical, &tqdm::set_theme_basic}) {
            (bar.*theme)();
            sizes += std::to_string(tqdm_peer::glyph_count(bar));
            ++step;
            FakeClock::set_seconds(step);
            bar.progress(step * 7, 100);
        }
        return sizes;
    });
    EXPECT_EQ(got.report, "999999");
    EXPECT_EQ(count(got.out, "\r \x1b[38;2;"), 6u);
    EXPECT_EQ(count(got.out, "#"), 16u);  // basic theme last: 42 % of 40 cells
}

TEST(TerminalModes, ResetStartsANewRun) {
    const ChildResult got = run_in_child(StdoutKind::terminal, ChildEnv{}, [] {
        FakeClock::set_seconds(0);
        tqdm bar(&FakeClock::now);
        for (int i = 0; i < 12; ++i) {
            FakeClock::set_seconds(0.001 * (i + 1));
            bar.progress(i, 100000);
        }
        FakeClock::set_seconds(7.0);
        bar.reset();
        return describe(tqdm_peer::state(bar));
    });
    EXPECT_EQ(got.report, "0 0 1 0 50 7000000000 0 0");
}

}  // namespace
}  // namespace tqdm_testing
