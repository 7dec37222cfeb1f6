#include "rootio/hist/histogram_writer.h"

#include <array>
#include <string_view>

#include "rootio/format/object_writer.h"

namespace rootio {

namespace {

// TObject::kMustCleanup, which every histogram carries.
constexpr uint32_t kMustCleanup = 0x8;
// TH1's defaults for what this engine does not set.
constexpr int16_t kBarWidth = 1000;
constexpr double kUnsetMaximum = -1111;  // fMaximum and fMinimum: not fixed by the user
constexpr int32_t kStatOverflowsNeutral = 2;

// Classes a TH1D is built of, the histogram first; TObjString only for labelled axes.
constexpr std::array<std::string_view, 14> kHistogramClasses{
    "TH1D",  "TH1",      "TNamed",    "TObject", "TAttLine",       "TAttFill",    "TAttMarker",
    "TAxis", "TAttAxis", "THashList", "TList",   "TSeqCollection", "TCollection", "TString"};

void empty_array(ByteWriter& out)
{
    out.i32(0);
}  // TArrayD: count, no values

void labels(ObjectWriter& w, std::span<const std::string> bin_labels)
{
    ByteWriter& out = w.out();
    size_t ptr;
    w.begin_pointer("THashList", ptr);
    const size_t list = w.begin_versioned(5);  // streamed as its base TList
    w.tobject(kBitsOnHeap);
    out.tstring("");
    out.i32(static_cast<int32_t>(bin_labels.size()));
    for (size_t i = 0; i < bin_labels.size(); ++i) {
        size_t str_ptr;
        w.begin_pointer("TObjString", str_ptr);
        const size_t str = w.begin_versioned(1);
        // TAxis::SetBinLabel keeps the bin number in the label's unique ID.
        out.i16(1);
        out.u32(static_cast<uint32_t>(i + 1));
        out.u32(kBitsOnHeap);
        out.tstring(bin_labels[i]);
        w.end_versioned(str);
        w.end_pointer(str_ptr);
        out.u8(0);  // no option
    }
    w.end_versioned(list);
    w.end_pointer(ptr);
}

void axis(ObjectWriter& w, std::string_view name, std::string_view title, int nbins, double xmin, double xmax,
          std::span<const std::string> bin_labels)
{
    ByteWriter& out = w.out();
    const size_t at = w.begin_versioned(10);
    w.tnamed(name, title, kBitsOnHeap);
    const size_t att = w.begin_versioned(4);  // TAttAxis, ROOT's defaults
    out.i32(510);                             // fNdivisions
    out.i16(1);                               // fAxisColor
    out.i16(1);                               // fLabelColor
    out.i16(42);                              // fLabelFont
    out.f32(0.005f);                          // fLabelOffset
    out.f32(0.035f);                          // fLabelSize
    out.f32(0.03f);                           // fTickLength
    out.f32(1.0f);                            // fTitleOffset
    out.f32(0.035f);                          // fTitleSize
    out.i16(1);                               // fTitleColor
    out.i16(42);                              // fTitleFont
    w.end_versioned(att);
    out.i32(nbins);
    out.f64(xmin);
    out.f64(xmax);
    empty_array(out);  // fXbins: fixed-width bins
    out.i32(0);        // fFirst
    out.i32(0);        // fLast
    out.u16(0);        // fBits2
    out.u8(0);         // fTimeDisplay
    out.tstring("");   // fTimeFormat
    if (bin_labels.empty())
        w.null_pointer();
    else
        labels(w, bin_labels);
    w.null_pointer();  // fModLabs
    w.end_versioned(at);
}

void th1(ObjectWriter& w, const Histogram1D& h)
{
    ByteWriter& out = w.out();
    const size_t at = w.begin_versioned(8);
    w.tnamed(h.name(), h.title(), kBitsOnHeap | kMustCleanup);
    w.att_line(h.style.line_color, 1, h.style.line_width);  // solid line
    w.att_fill(h.style.fill_color, h.style.fill_style);
    w.att_marker(1, 1, 1.0f);
    out.i32(h.nbins() + 2);  // fNcells
    axis(w, "xaxis", h.x_title, h.nbins(), h.xmin(), h.xmax(), h.bin_labels);
    axis(w, "yaxis", h.y_title, 1, 0, 1, {});
    axis(w, "zaxis", "", 1, 0, 1, {});
    out.i16(0);  // fBarOffset
    out.i16(kBarWidth);
    out.f64(h.entries());
    out.f64(h.sum_w());
    out.f64(h.sum_w2());
    out.f64(h.sum_wx());
    out.f64(h.sum_wx2());
    out.f64(kUnsetMaximum);
    out.f64(kUnsetMaximum);
    out.f64(0);        // fNormFactor
    empty_array(out);  // fContour
    empty_array(out);  // fSumw2: unit weights, errors are square roots of the contents
    out.tstring("");   // fOption
    const size_t functions = w.begin_versioned(5);  // fFunctions: an empty TList, never null
    w.tobject(kBitsOnHeap);
    out.tstring("");
    out.i32(0);
    w.end_versioned(functions);
    out.i32(0);  // fBufferSize
    out.u8(0);   // fBuffer: no array follows
    out.i32(0);  // fBinStatErrOpt: kNormal
    out.i32(kStatOverflowsNeutral);
    w.end_versioned(at);
}

}  // namespace

void write_histogram(FileWriter& file, const Histogram1D& histogram)
{
    for (std::string_view c : kHistogramClasses) file.note_class(c);
    if (!histogram.bin_labels.empty()) file.note_class("TObjString");
    file.write_object("TH1D", histogram.name(), histogram.title(), [&](ByteWriter& out, int keylen) {
        ObjectWriter w(out, keylen);
        const size_t at = w.begin_versioned(3);
        th1(w, histogram);
        const std::span<const double> contents = histogram.contents();
        out.i32(static_cast<int32_t>(contents.size()));  // TArrayD base
        for (double v : contents) out.f64(v);
        w.end_versioned(at);
    });
}

}  // namespace rootio
