#include "rootio/hist/histogram.h"

#include <utility>

#include "rootio/format/error.h"

namespace rootio {

Histogram1D::Histogram1D(std::string name, std::string title, int nbins, double xmin, double xmax)
    : name_(std::move(name)), title_(std::move(title)), nbins_(nbins), xmin_(xmin), xmax_(xmax)
{
    if (nbins < 1 || !(xmin < xmax))
        throw RootError("histogram " + name_ + ": needs at least one bin and xmin < xmax");
    contents_.assign(static_cast<size_t>(nbins) + 2, 0.0);
}

int Histogram1D::find_bin(double x) const
{
    if (x < xmin_) return 0;
    if (!(x < xmax_)) return nbins_ + 1;
    return 1 + static_cast<int>(nbins_ * (x - xmin_) / (xmax_ - xmin_));
}

void Histogram1D::fill(double x)
{
    ++entries_;
    const int bin = find_bin(x);
    contents_[static_cast<size_t>(bin)] += 1;
    if (bin == 0 || bin > nbins_) return;  // under- and overflows stay out of the statistics
    sum_w_ += 1;
    sum_wx_ += x;
    sum_wx2_ += x * x;
}

}  // namespace rootio
