#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <vector>

// Live terminal progress bar. Redraws one line in place, about 25 times a second once
// entries come faster than that; draws nothing unless standard output is a terminal.
class tqdm {
public:
    using time_point = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;
    using clock_source = time_point (*)();

    tqdm();
    // Same as tqdm(), reading time through `clock` instead of the system clock.
    explicit tqdm(clock_source clock);

    // Called once per entry: the gate stays inline so that a call which does not
    // draw costs one flag test and one remainder.
    void progress(int curr, int tot) {
        if (!is_tty) return;
        if (curr % period != 0) return;
        draw(curr, tot);
    }
    // Draws the final state (same gate as progress) and ends the line.
    void finish();

    // Starts timing and rate estimate afresh; theme, colours and label stay.
    void reset();
    void set_theme_line();
    void set_theme_circle();
    void set_theme_braille();
    void set_theme_braille_spin();
    void set_theme_vertical();
    void set_theme_basic();
    void set_label(std::string label_);
    void disable_colors();

private:
    friend struct tqdm_peer;  // white-box access for tests and benchmarks

    void draw(int curr, int tot);
    // Red (0 %) through yellow to green (100 %), pastel.
    static void gradient(double pct, int& r, int& g, int& b);
    static void hsv_to_rgb(float h, float s, float v, int& r, int& g, int& b);
    static time_point system_now();

    time_point t_first;
    time_point t_old;
    int n_old = 0;
    std::deque<double> deq_t;
    std::deque<int> deq_n;
    int nupdates = 0;
    int total_ = 0;
    int period = 1;
    unsigned int smoothing = 50;
    bool use_ema = false;
    float alpha_ema = 0.1f;
    std::vector<const char*> bars;
    bool in_screen = false;
    bool in_tmux = false;
    bool is_tty = false;
    bool use_colors = true;
    bool color_transition = true;
    int width = 40;
    std::string right_pad;
    std::string label;
    clock_source read_clock;
};
