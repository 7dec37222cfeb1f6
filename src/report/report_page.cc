#include "report_page.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace {

// Percentage with two decimals, or a dash when there is nothing to divide by.
std::string percent(int64_t part, int64_t whole)
{
    if (whole <= 0) return "&ndash;";
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.2f %%",
                  100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text.data();
}

// Inline scripts end at the first "</script" in any case, and "<!--" changes how the
// browser looks for that end: a script holding either cannot be inlined as it is.
std::string_view inlinable_script(std::string_view script)
{
    std::string lower(script);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("</script") != std::string::npos || lower.find("<!--") != std::string::npos)
        throw std::runtime_error("jsroot script cannot be inlined: it contains </script or <!--");
    return script;
}

std::string cut_flow_table(const SelectionReport& report)
{
    const auto counts = report.events_after_stage();
    const auto names = SelectionReport::stage_names();
    std::string t =
        "<table id=\"cutflow-table\">\n<thead><tr><th>stage</th><th>events</th>"
        "<th>of the previous stage</th><th>of all events</th></tr></thead>\n<tbody>\n";
    for (size_t i = 0; i < counts.size(); ++i) {
        t += "<tr><td>" + latex_as_html(names[i]) + "</td><td>" + std::to_string(counts[i]) + "</td><td>" +
             (i == 0 ? std::string("&ndash;") : percent(counts[i], counts[i - 1])) + "</td><td>" +
             percent(counts[i], counts[0]) + "</td></tr>\n";
    }
    return t + "</tbody>\n</table>\n";
}

// The plots to draw, as a script constant: element id, histogram names, log scale.
std::string plot_list(const SelectionReport& report)
{
    std::string js = "const plots = [\n  { id: 'plot-cutflow', hists: ['" + report.cut_flow().name() +
                     "'], logy: true, option: 'hist text nostat' },\n";
    for (const Distribution& d : report.distributions())
        js += "  { id: 'plot-" + d.all.name() + "', hists: ['" + d.all.name() + "', '" + d.selected.name() +
              "'], logy: " + (d.log_scale ? "true" : "false") + ", option: 'hist nostat' },\n";
    return js + "];\n";
}

std::string plot_divs(const SelectionReport& report)
{
    std::string html = "<div class=\"plot\" id=\"plot-cutflow\"></div>\n";
    for (const Distribution& d : report.distributions())
        html += "<div class=\"plot\" id=\"plot-" + d.all.name() + "\"></div>\n";
    return html;
}

constexpr std::string_view kStyle = R"(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: 0.3em 0.8em; }
td:not(:first-child) { text-align: right; font-variant-numeric: tabular-nums; }
th { background: #eee; }
.legend span { display: inline-block; width: 2em; height: 0.8em; margin: 0 0.4em 0 1em; vertical-align: middle; }
.plots { display: flex; flex-wrap: wrap; gap: 1em; }
.plot { width: 540px; height: 400px; border: 1px solid #ddd; }
)";

// Reads the inline ROOT file with jsroot and draws every plot; the selected events over
// all events. Marks the body when done, so that a test (or a reader) knows it finished.
constexpr std::string_view kDrawScript = R"(
async function drawReport() {
  const bytes = Uint8Array.from(atob(reportFileBase64), c => c.charCodeAt(0));
  const file = await JSROOT.openFile(bytes.buffer);
  for (const plot of plots) {
    const hists = [];
    for (const name of plot.hists) hists.push(await file.readObject(name));
    const options = plot.option + (plot.logy ? ';logy' : '');
    if (hists.length === 1) {
      hists[0].fXaxis.fLabelSize = 0.045;
      await JSROOT.draw(plot.id, hists[0], options);
    } else {
      // Overlaid, not stacked; the frame and its axis titles come from the first (all events).
      const stack = JSROOT.createTHStack(...hists);
      stack.fTitle = hists[0].fTitle.replace(/: all events$/, '');
      // An empty frame histogram, as jsroot would make, but keeping the y axis title too.
      const frame = JSROOT.createHistogram('TH1D', hists[0].fXaxis.fNbins);
      Object.assign(frame.fXaxis, hists[0].fXaxis);
      frame.fYaxis.fTitle = hists[0].fYaxis.fTitle;
      frame.fName = 'axis_hist';
      frame.fTitle = stack.fTitle;
      frame.fBits |= 1 << 9;  // kNoStats
      stack.fHistogram = frame;
      // Room above the highest bin of either: a decade on a log scale, a tenth on a linear one.
      const highest = Math.max(...hists.map(h => Math.max(...h.fArray.slice(1, -1))));
      stack.fMaximum = stack.fHistogram.fMaximum = plot.logy ? highest * 10 : highest * 1.1;
      if (plot.logy) stack.fMinimum = stack.fHistogram.fMinimum = 0.5;
      await JSROOT.draw(plot.id, stack, 'nostack;' + options);
    }
  }
}
drawReport().then(() => { document.body.dataset.drawn = 'yes'; },
                  err => { document.body.dataset.drawn = 'failed'; console.error('report: ' + err); });
)";

}  // namespace

std::string html_escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string base64(std::span<const uint8_t> bytes)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[(v >> shift) & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t{bytes[i]} << 16;
        if (rest == 2) v |= uint32_t{bytes[i + 1]} << 8;
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string latex_as_html(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text.substr(i, 4) == "#geq") {
            out += "&ge;";
            i += 4;
        } else if (text.substr(i, 2) == "_{") {
            const size_t close = text.find('}', i);
            if (close == std::string_view::npos) break;
            out += "<sub>" + html_escaped(text.substr(i + 2, close - i - 2)) + "</sub>";
            i = close + 1;
        } else {
            out += html_escaped(text.substr(i, 1));
            ++i;
        }
    }
    return out;
}

std::string render_report_page(const ReportPage& page)
{
    const SelectionReport& report = page.report;
    std::string inputs;
    for (const std::string& input : page.inputs) inputs += (inputs.empty() ? "" : ", ") + html_escaped(input);

    std::string html;
    html +=
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Selection "
        "report</title>\n";
    html += "<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
    html += "<h1>Selection report</h1>\n<p>Input: " + inputs + ". Histograms: <code>" +
            html_escaped(page.root_file_name) + "</code>.</p>\n";
    html += "<h2>Cut-flow</h2>\n" + cut_flow_table(report);
    html +=
        "<h2>Distributions</h2>\n<p class=\"legend\"><span style=\"background:#ccc;border:1px solid "
        "#3a3aa8\"></span>all events that have the quantity (see each x axis)"
        "<span style=\"border-top:2px solid red;height:0\"></span>selected events</p>\n";
    html += "<div class=\"plots\">\n" + plot_divs(report) + "</div>\n";
    html += "<script>\n" + std::string(inlinable_script(page.jsroot_script)) + "\n</script>\n";
    html += "<script>\nconst reportFileBase64 = '" + base64(page.root_file) + "';\n" + plot_list(report) +
            std::string(kDrawScript) + "</script>\n</body>\n</html>\n";
    return html;
}
