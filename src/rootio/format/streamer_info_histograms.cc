// Layouts of the one-dimensional histogram classes as ROOT 6 describes them (TH1 version 8,
// TAxis version 10), with the checksums ROOT computes for them. TArrayD, a base of TH1D and
// the type of its bin-edge and contour members, streams itself by hand and is not
// described: ROOT lists no streamer info for it beside a histogram either.
#include "rootio/format/streamer_layout.h"

namespace rootio::streamer_layout {

namespace {
constexpr uint32_t kChkTH1 = 0x1C3740C4, kChkTArrayD = 0x7139EF34, kChkTAttAxis = 0x5C6FFF3E;
constexpr int32_t kAxisSize = 216;  // sizeof(TAxis), as ROOT records it for TH1's axes
}  // namespace

void add_histogram_classes(std::vector<ClassInfo>& c)
{
    c.push_back({"TH1D",
                 3,
                 0xF9B1569F,
                 kInfoEarly,
                 {base("TH1", "1-Dim histogram base class", kBase, 8, kChkTH1),
                  base("TArrayD", "Array of doubles", kBase, 1, kChkTArrayD)}});
    c.push_back(
        {"TH1",
         8,
         kChkTH1,
         kInfoEarly,
         {base("TNamed", "The basis for a named object (name, title)", kTNamed, 1, kChkTNamed),
          base("TAttLine", "Line attributes", kBase, 2, kChkTAttLine),
          base("TAttFill", "Fill area attributes", kBase, 2, kChkTAttFill),
          base("TAttMarker", "Marker attributes", kBase, 2, kChkTAttMarker),
          basic("fNcells", "number of bins(1D), cells (2D) +U/Overflows", kInt, 4, "int"),
          object("fXaxis", "X axis descriptor", "TAxis", kAxisSize),
          object("fYaxis", "Y axis descriptor", "TAxis", kAxisSize),
          object("fZaxis", "Z axis descriptor", "TAxis", kAxisSize),
          basic("fBarOffset", "(1000*offset) for bar charts or legos", kShort, 2, "short"),
          basic("fBarWidth", "(1000*width) for bar charts or legos", kShort, 2, "short"),
          basic("fEntries", "Number of entries", kDouble, 8, "double"),
          basic("fTsumw", "Total Sum of weights", kDouble, 8, "double"),
          basic("fTsumw2", "Total Sum of squares of weights", kDouble, 8, "double"),
          basic("fTsumwx", "Total Sum of weight*X", kDouble, 8, "double"),
          basic("fTsumwx2", "Total Sum of weight*X*X", kDouble, 8, "double"),
          basic("fMaximum", "Maximum value for plotting", kDouble, 8, "double"),
          basic("fMinimum", "Minimum value for plotting", kDouble, 8, "double"),
          basic("fNormFactor", "Normalization factor", kDouble, 8, "double"),
          any("fContour", "Array to display contour levels", 24, "TArrayD"),
          any("fSumw2", "Array of sum of squares of weights", 24, "TArrayD"),
          tstring("fOption", "histogram options"),
          pointer("fFunctions", "->Pointer to list of functions (fits and user)", "TList*", kObjectp),
          basic("fBufferSize", "fBuffer size", kCounter, 4, "int"),
          basic_pointer("fBuffer", "[fBufferSize] entry buffer", kDouble, "double*", 8, "fBufferSize", "TH1"),
          basic("fBinStatErrOpt", "option for bin statistical errors", kInt, 4, "TH1::EBinErrorOpt"),
          basic("fStatOverflows", "per object flag to use under/overflows in statistics", kInt, 4,
                "TH1::EStatOverflows")}});
    c.push_back(
        {"TAxis",
         10,
         0x5A496E70,
         kInfoEarly,
         {base("TNamed", "The basis for a named object (name, title)", kTNamed, 1, kChkTNamed),
          base("TAttAxis", "Axis attributes", kBase, 4, kChkTAttAxis),
          basic("fNbins", "Number of bins", kInt, 4, "int"),
          basic("fXmin", "low edge of first bin", kDouble, 8, "double"),
          basic("fXmax", "upper edge of last bin", kDouble, 8, "double"),
          any("fXbins", "Bin edges array in X", 24, "TArrayD"),
          basic("fFirst", "first bin to display", kInt, 4, "int"),
          basic("fLast", "last bin to display", kInt, 4, "int"),
          basic("fBits2", "second bit status word", kUShort, 2, "unsigned short"),
          basic("fTimeDisplay", "on/off displaying time values instead of numerics", kBool, 1, "bool"),
          tstring("fTimeFormat", "Date&time format, ex: 09/12/99 12:34:00"),
          pointer("fLabels", "List of labels", "THashList*"),
          pointer("fModLabs", "List of modified labels", "TList*")}});
    c.push_back({"TAttAxis",
                 4,
                 kChkTAttAxis,
                 kInfoEarly,
                 {basic("fNdivisions", "Number of divisions(10000*n3 + 100*n2 + n1)", kInt, 4, "int"),
                  basic("fAxisColor", "Color of the line axis", kShort, 2, "short"),
                  basic("fLabelColor", "Color of labels", kShort, 2, "short"),
                  basic("fLabelFont", "Font for labels", kShort, 2, "short"),
                  basic("fLabelOffset", "Offset of labels", kFloat, 4, "float"),
                  basic("fLabelSize", "Size of labels", kFloat, 4, "float"),
                  basic("fTickLength", "Length of tick marks", kFloat, 4, "float"),
                  basic("fTitleOffset", "Offset of axis title", kFloat, 4, "float"),
                  basic("fTitleSize", "Size of axis title", kFloat, 4, "float"),
                  basic("fTitleColor", "Color of axis title", kShort, 2, "short"),
                  basic("fTitleFont", "Font for axis title", kShort, 2, "short")}});
    c.push_back(
        {"THashList", 0, 0xCC7E49C1, kInfoEarly, {base("TList", "Doubly linked list", kBase, 5, kChkTList)}});
    c.push_back({"TObjString",
                 1,
                 0x9C8E4800,
                 kInfoEarly,
                 {base("TObject", "Basic ROOT object", kTObject, 1, kChkTObject),
                  tstring("fString", "wrapped TString")}});
}

}  // namespace rootio::streamer_layout
