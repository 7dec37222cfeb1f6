// make-example: writes a realistic input for the skim (see --help).
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/program.h"
#include "event_model.h"
#include "event_writer.h"
#include "options.h"
#include "rootio/file/file_writer.h"
#include "rootio/tree/tree_writer.h"

int main(int argc, char** argv)
{
    using namespace make_example;
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
        rootio::TreeWriter tree(file, "Events", "Events");
        tree.set_auto_flush(options.cluster);
        EventWriter events(tree, options.seed, options.boosted_fraction());

        const int64_t step = std::max<int64_t>(options.events / 10, 1);
        for (int64_t i = 0; i < options.events; ++i) {
            events.write_next();
            if (!options.quiet && (i + 1) % step == 0 && i + 1 < options.events)
                std::fprintf(stderr, "make-example: %lld / %lld events\n", static_cast<long long>(i + 1),
                             static_cast<long long>(options.events));
        }
        tree.write();
        file.close();

        if (!options.quiet) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const auto& info = tree.info();
            const double mb = static_cast<double>(file.end()) / 1e6;
            std::fprintf(
                stderr,
                "make-example: wrote %s: %lld events, %zu branches, %.1f MB (%.0f bytes/event, "
                "compression %.2f) in %.1f s: %.0f events/s, %.2f MB/s written, %.1f MB/s uncompressed\n",
                options.output.c_str(), static_cast<long long>(options.events), tree.branch_count(), mb,
                options.events ? static_cast<double>(file.end()) / static_cast<double>(options.events) : 0.0,
                info.zip_bytes ? static_cast<double>(info.tot_bytes) / static_cast<double>(info.zip_bytes)
                               : 0.0,
                seconds, static_cast<double>(options.events) / seconds, mb / seconds,
                static_cast<double>(info.tot_bytes) / 1e6 / seconds);
        }
    } catch (const std::exception& e) {
        cli::print_error("make-example", e.what());
        return 1;
    }
    return cli::standard_output_status("make-example");
}
