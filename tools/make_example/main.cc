// make-example: writes a realistic input for the skim (see --help).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "cli/program.h"
#include "event_model.h"
#include "event_writer.h"
#include "ntuple_sink.h"
#include "options.h"
#include "rootio/ntuple/ntuple_writer.h"
#include "rootio/file/file_writer.h"
#include "rootio/tree/tree_writer.h"
#include "tree_sink.h"

namespace {

using namespace make_example;

struct Summary {
    size_t fields = 0;
    int64_t tot_bytes = 0, zip_bytes = 0;  // the tree's, for its compression figure
};

void write_events(EventSink& sink, const Options& options)
{
    EventWriter events(sink, options.seed, options.boosted_fraction());
    const int64_t step = std::max<int64_t>(options.events / 10, 1);
    for (int64_t i = 0; i < options.events; ++i) {
        events.write_next();
        if (!options.quiet && (i + 1) % step == 0 && i + 1 < options.events)
            std::fprintf(stderr, "make-example: %lld / %lld events\n", static_cast<long long>(i + 1),
                         static_cast<long long>(options.events));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        options = parse_options(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        cli::usage_error("make-example", e.what(), usage());
    }
    if (options.help) cli::show_help("make-example", usage());

    try {
        const auto start = std::chrono::steady_clock::now();
        rootio::FileWriter file(options.output, options.compression);
        Summary summary;
        if (options.rntuple) {
            rootio::ntuple::WriteOptions write_options;
            write_options.cluster_bytes = std::numeric_limits<size_t>::max();  // clusters by entries
            rootio::ntuple::NTupleWriter ntuple(file, "Events", write_options);
            NTupleSink sink(ntuple, options.cluster);
            write_events(sink, options);
            ntuple.write();
            summary.fields = sink.field_count();
        } else {
            rootio::TreeWriter tree(file, "Events", "Events");
            tree.set_auto_flush(options.cluster);
            TreeSink sink(tree);
            write_events(sink, options);
            tree.write();
            summary.fields = tree.branch_count();
            summary.tot_bytes = tree.info().tot_bytes;
            summary.zip_bytes = tree.info().zip_bytes;
        }
        file.close();

        if (!options.quiet) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double mb = static_cast<double>(file.end()) / 1e6;
            std::fprintf(stderr, "make-example: wrote %s: %lld events, %zu %s, %.1f MB (%.0f bytes/event",
                         options.output.c_str(), static_cast<long long>(options.events), summary.fields,
                         options.rntuple ? "top-level fields" : "branches", mb,
                         options.events ? static_cast<double>(file.end()) / static_cast<double>(options.events)
                                        : 0.0);
            if (summary.zip_bytes)
                std::fprintf(stderr, ", compression %.2f",
                             static_cast<double>(summary.tot_bytes) / static_cast<double>(summary.zip_bytes));
            std::fprintf(stderr, ") in %.1f s: %.0f events/s, %.2f MB/s written", seconds,
                         static_cast<double>(options.events) / seconds, mb / seconds);
            if (summary.tot_bytes)
                std::fprintf(stderr, ", %.1f MB/s uncompressed", static_cast<double>(summary.tot_bytes) / 1e6 / seconds);
            std::fprintf(stderr, "\n");
        }
    } catch (const std::exception& e) {
        cli::print_error("make-example", e.what());
        return 1;
    }
    return cli::standard_output_status("make-example");
}
