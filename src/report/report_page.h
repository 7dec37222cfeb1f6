#pragma once
// The report as one self-contained web page: the cut-flow as a table, and the
// distributions drawn in the browser by jsroot from the report's own ROOT file, which the
// page carries inline (base64) together with jsroot's script. Nothing is fetched: the page
// opens from the file system, offline.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "selection_report.h"

struct ReportPage {
    std::span<const std::string> inputs;  // as given on the command line
    const SelectionReport& report;
    std::string_view root_file_name;     // shown on the page
    std::span<const uint8_t> root_file;  // the bytes of the report's ROOT file
    std::string_view jsroot_script;      // jsroot's single-file build
};

std::string render_report_page(const ReportPage& page);

// Helpers, exposed for their tests.
std::string html_escaped(std::string_view text);
std::string base64(std::span<const uint8_t> bytes);
// ROOT's text markup of the stage names ("S_{T} #geq 800 GeV") as HTML.
std::string latex_as_html(std::string_view text);
