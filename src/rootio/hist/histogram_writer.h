#pragma once
// Writes a Histogram1D as a TH1D object, laid out as ROOT 6 streams it (TH1 version 8,
// TAxis version 10), and records the classes it is built of so that the file's
// StreamerInfo describes them. Bin labels become the x axis's THashList of TObjString.
#include "rootio/file/file_writer.h"
#include "rootio/hist/histogram.h"

namespace rootio {

void write_histogram(FileWriter& file, const Histogram1D& histogram);

}  // namespace rootio
