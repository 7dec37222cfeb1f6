#pragma once
// A one-dimensional histogram of fixed-width bins holding what a TH1D holds: bin contents
// with underflow (bin 0) and overflow (bin n+1), the entry count and the sums ROOT keeps
// for the mean and spread. Filling follows TH1::Fill with unit weight: every fill counts as
// an entry, but only fills inside the axis range enter the sums. Storage is sized once, so
// filling never allocates.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rootio {

// Colours and styles in ROOT's numbering (TAttLine, TAttFill).
struct HistogramStyle {
    int16_t line_color = 602;
    int16_t line_width = 1;
    int16_t fill_color = 0;
    int16_t fill_style = 1001;
};

class Histogram1D {
public:
    Histogram1D(std::string name, std::string title, int nbins, double xmin, double xmax);

    void fill(double x);
    // The bin TH1/TAxis::FindBin gives: 0 below the range, nbins+1 at or above its upper
    // edge and for a value that is not a number.
    int find_bin(double x) const;

    const std::string& name() const { return name_; }
    const std::string& title() const { return title_; }
    int nbins() const { return nbins_; }
    double xmin() const { return xmin_; }
    double xmax() const { return xmax_; }
    // nbins + 2 values: underflow, the bins, overflow.
    std::span<const double> contents() const { return contents_; }
    double entries() const { return entries_; }
    double sum_w() const { return sum_w_; }
    double sum_w2() const { return sum_w_; }  // every fill has unit weight
    double sum_wx() const { return sum_wx_; }
    double sum_wx2() const { return sum_wx2_; }

    std::string x_title;
    std::string y_title;
    HistogramStyle style;
    // Text labels of bins 1..nbins (empty: numbered axis).
    std::vector<std::string> bin_labels;

private:
    std::string name_;
    std::string title_;
    int nbins_;
    double xmin_;
    double xmax_;
    std::vector<double> contents_;
    double entries_ = 0;
    double sum_w_ = 0;
    double sum_wx_ = 0;
    double sum_wx2_ = 0;
};

}  // namespace rootio
