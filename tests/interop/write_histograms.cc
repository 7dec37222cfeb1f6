// Writes histograms for jsroot to read back, and prints what each must hold, one JSON
// object per line: bins (with under- and overflow), entries, sums, axis and titles, labels.
// Covers values on bin edges, out of range and not a number, sums that are not round in
// binary, a thousand bins, a negative range, many fills in one bin, labels long and not
// ASCII; once per codec.
//
//   write-histograms OUTDIR      prints "FILE" lines, each followed by its histograms' lines
#include <charconv>
#include <cstdio>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "rootio/file/file_writer.h"
#include "rootio/hist/histogram_writer.h"

namespace {

std::string number(double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string expected_json(const rootio::Histogram1D& h)
{
    std::string j = "{\"name\":" + quoted(h.name()) + ",\"title\":" + quoted(h.title()) +
                    ",\"xtitle\":" + quoted(h.x_title) + ",\"ytitle\":" + quoted(h.y_title) +
                    ",\"nbins\":" + std::to_string(h.nbins()) + ",\"xmin\":" + number(h.xmin()) +
                    ",\"xmax\":" + number(h.xmax()) + ",\"entries\":" + number(h.entries()) + ",\"sums\":[" +
                    number(h.sum_w()) + "," + number(h.sum_w2()) + "," + number(h.sum_wx()) + "," +
                    number(h.sum_wx2()) + "],\"lineColor\":" + std::to_string(h.style.line_color) +
                    ",\"bins\":[";
    for (size_t i = 0; i < h.contents().size(); ++i) {
        if (i > 0) j += ',';
        j += number(h.contents()[i]);
    }
    j += "],\"labels\":[";
    for (size_t i = 0; i < h.bin_labels.size(); ++i) {
        if (i > 0) j += ',';
        j += quoted(h.bin_labels[i]);
    }
    return j + "]}";
}

std::vector<rootio::Histogram1D> samples()
{
    std::vector<rootio::Histogram1D> out;

    rootio::Histogram1D edges("edges", "Edges and outside", 10, 0, 1);
    for (int i = -3; i <= 13; ++i) edges.fill(i * 0.1);  // 0.1 steps land on (or next to) edges
    edges.fill(std::numeric_limits<double>::quiet_NaN());
    edges.fill(std::numeric_limits<double>::infinity());
    edges.fill(-std::numeric_limits<double>::infinity());
    edges.x_title = "x [GeV]";
    edges.y_title = "events";
    out.push_back(std::move(edges));

    rootio::Histogram1D fine("fine", "A thousand bins over a negative range", 1000, -500.25, -0.25);
    for (int i = 0; i < 20000; ++i) fine.fill(-500.5 + i * 0.025 + 1e-9 * i);
    fine.style.line_color = 2;
    out.push_back(std::move(fine));

    rootio::Histogram1D heavy("heavy", "", 3, 0, 3);
    for (int i = 0; i < 1000000; ++i) heavy.fill(1.5);
    heavy.fill(0.25);
    out.push_back(std::move(heavy));

    rootio::Histogram1D labelled("labelled", "Labelled bins", 4, 0, 4);
    labelled.bin_labels = {"first", std::string(300, 'L'), "S_{T} #geq 800 GeV", "\xc3\xa9v\xc3\xa9nements"};
    for (int bin = 0; bin < 4; ++bin)
        for (int n = 0; n <= bin * 3; ++n) labelled.fill(bin + 0.5);
    out.push_back(std::move(labelled));

    out.emplace_back("empty", "Never filled", 5, 0, 5);
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write-histograms OUTDIR\n");
        return 1;
    }
    try {
        const std::vector<rootio::Histogram1D> histograms = samples();
        for (int compression : {101, 404, 0}) {
            const std::string path =
                std::string(argv[1]) + "/histograms-" + std::to_string(compression) + ".root";
            rootio::FileWriter file(path, compression);
            for (const auto& h : histograms) rootio::write_histogram(file, h);
            file.close();
            std::printf("FILE %s\n", path.c_str());
            for (const auto& h : histograms) std::printf("%s\n", expected_json(h).c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "write-histograms: %s\n", e.what());
        return 1;
    }
    return 0;
}
