#include "tqdm.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <utility>

tqdm::time_point tqdm::system_now() {
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

tqdm::tqdm() : tqdm(&system_now) {}

tqdm::tqdm(clock_source clock) : read_clock(clock) {
    t_first = read_clock();
    t_old = read_clock();
    bars = {" ", "▏", "▎", "▍", "▌", "▋", "▊", "▉", "█"};
    // The shell expands the unquoted variable, so a set but empty one counts as unset.
    in_screen = std::system("test $STY") == 0;
    in_tmux = std::system("test $TMUX") == 0;
    is_tty = isatty(1) != 0;
    right_pad = "▏";
    if (in_screen) {
        // screen mangles the block glyphs and the 24-bit colours.
        set_theme_basic();
        color_transition = false;
    } else if (in_tmux) {
        color_transition = false;
    }
}

void tqdm::finish() {
    progress(total_, total_);
    std::printf("\n");
    std::fflush(stdout);
}

void tqdm::reset() {
    t_first = read_clock();
    t_old = read_clock();
    n_old = 0;
    deq_t.clear();
    deq_n.clear();
    nupdates = 0;
    total_ = 0;
    period = 1;
    smoothing = 50;
}

// Every theme has nine glyphs: empty cell, cells filled to 1/8 .. 7/8, full cell.
void tqdm::set_theme_line() {
    bars = {" ", "─", "─", "─", "─", "─", "─", "─", "─"};
    right_pad = "▏";
}

void tqdm::set_theme_circle() {
    bars = {" ", "◔", "◔", "◑", "◑", "◕", "◕", "◕", "●"};
    right_pad = "▏";
}

void tqdm::set_theme_braille() {
    bars = {" ", "⡀", "⡄", "⡆", "⡇", "⣇", "⣧", "⣷", "⣿"};
    right_pad = "▏";
}

void tqdm::set_theme_braille_spin() {
    bars = {" ", "⠋", "⠙", "⠹", "⠸", "⠼", "⠴", "⠦", "⣿"};
    right_pad = "▏";
}

void tqdm::set_theme_vertical() {
    bars = {" ", "▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
    right_pad = "▏";
}

void tqdm::set_theme_basic() {
    bars = {" ", " ", " ", " ", " ", " ", " ", " ", "#"};
    right_pad.assign(1, '|');  // not = "|", which trips a false g++ 12 -Wrestrict
}

void tqdm::set_label(std::string label_) { label = std::move(label_); }

void tqdm::disable_colors() {
    use_colors = false;
    color_transition = false;
}

void tqdm::draw(int curr, int tot) {
    total_ = tot;
    ++nupdates;

    const time_point now = read_clock();
    const double dt = static_cast<double>((now - t_old).count()) / 1e9;
    const double dt_tot = static_cast<double>((now - t_first).count()) / 1e9;
    const int dn = curr - n_old;
    n_old = curr;
    t_old = now;

    if (deq_n.size() >= smoothing) deq_n.pop_back();
    if (deq_t.size() >= smoothing) deq_t.pop_back();
    deq_t.push_front(dt);
    deq_n.push_front(dn);

    double avgrate;
    if (use_ema) {
        const double alpha = alpha_ema;
        avgrate = deq_n[0] / deq_t[0];
        for (std::size_t i = 1; i < deq_t.size(); ++i) {
            const double r = deq_n[i] / deq_t[i];
            avgrate = alpha * r + (1.0 - alpha) * avgrate;
        }
    } else {
        double dtsum = 0.0;
        for (const double t : deq_t) dtsum += t;
        double dnsum_acc = 0.0;
        for (const int n : deq_n) dnsum_acc += n;
        const int dnsum = static_cast<int>(dnsum_acc);
        avgrate = dnsum / dtsum;
    }

    if (nupdates > 10) {
        // Aim for the next draw about 0.04 s of processing from now.
        const double x = (0.04 * curr) / dt_tot;
        if (!(x >= 1.0)) {  // also catches 0/0 right after construction
            period = 1;
        } else if (x > 500000.0) {
            period = 500000;
        } else {
            period = static_cast<int>(x);
        }
        smoothing = 75;
    }

    double peta;
    double pct;
    const bool at_end = tot - curr <= period;
    if (at_end) {
        avgrate = tot / dt_tot;
        pct = 100.0;
        curr = tot;
        peta = 0.0;
    } else {
        peta = (tot - curr) / avgrate;
        pct = curr / (0.01 * tot);
    }

    std::printf("\r ");
    if (use_colors) {
        if (color_transition) {
            int r = 255, g = 255, b = 255;
            gradient(pct, r, g, b);
            std::printf("\x1b[38;2;%d;%d;%dm ", r, g, b);
        } else {
            std::printf("\x1b[32m ");
        }
    }
    // With no entries at all the filled fraction is 0/0: the bar gets no cells.
    if (tot != 0) {
        const double fills = (static_cast<double>(curr) / static_cast<double>(tot)) * width;
        const int ifills = static_cast<int>(fills);
        for (int i = 0; i < ifills; ++i) std::cout << bars[8];
        if (!in_screen && !at_end) {
            int k = static_cast<int>(8.0 * (fills - ifills));
            if (k < 0) k = 0;  // only a negative curr, which callers never pass
            std::printf("%s", bars[k]);
        }
        for (int i = 0; i < width - ifills - 1; ++i) std::cout << bars[0];
    }
    std::printf("%s ", right_pad.c_str());
    if (use_colors) std::printf("\x1b[1m\x1b[31m");
    std::printf("%4.1f%% ", pct);
    if (use_colors) std::printf("\x1b[34m");
    const char* unit = "Hz";
    double div = 1.0;
    if (avgrate > 1000000.0) {
        unit = "MHz";
        div = 1000000.0;
    } else if (avgrate > 1000.0) {
        unit = "kHz";
        div = 1000.0;
    }
    std::printf("[%4d/%4d | %3.1f %s | %.0fs<%.0fs] ", curr, tot, avgrate / div, unit, dt_tot, peta);
    std::printf("%s ", label.c_str());
    if (use_colors) std::printf("\x1b[0m\x1b[32m\x1b[0m\r ");

    // The end-of-run line waits for finish()'s newline to be flushed with it.
    if (tot - curr > period) std::fflush(stdout);
}

void tqdm::gradient(double pct, int& r, int& g, int& b) {
    const float h = static_cast<float>(pct * 0.01 / 3.0);
    hsv_to_rgb(h, 0.65f, 1.0f, r, g, b);
}

void tqdm::hsv_to_rgb(float h, float s, float v, int& r, int& g, int& b) {
    const double hd = h;
    const double vd = v;
    const double sd = s;
    const int i = static_cast<int>(hd * 6.0);
    const float f = static_cast<float>(hd * 6.0 - i);
    const int p = static_cast<int>(255.0 * vd * (1.0 - sd));
    const int q = static_cast<int>(255.0 * vd * (1.0 - static_cast<double>(s * f)));
    const int t = static_cast<int>(255.0 * vd * (1.0 - sd * (1.0 - static_cast<double>(f))));
    const int vi = static_cast<int>(255.0 * vd);
    switch (i % 6) {
        case 0: r = vi; g = t; b = p; break;
        case 1: r = q; g = vi; b = p; break;
        case 2: r = p; g = vi; b = t; break;
        case 3: r = p; g = q; b = vi; break;
        case 4: r = t; g = p; b = vi; break;
        case 5: r = vi; g = p; b = q; break;
        default: break;  // negative hue: leave the caller's colour
    }
}
