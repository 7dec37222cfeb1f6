#include "options.h"

#include "event_model.h"

#include <charconv>
#include <stdexcept>

namespace make_example {
namespace {

template <class T>
T parse_number(const std::string& option, const std::string& text, T minimum)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < minimum)
        throw std::invalid_argument(option + ": not a valid value: '" + text + "'");
    return value;
}

bool valid_compression(int setting)
{
    const int algorithm = setting / 100;
    const int level = setting % 100;
    return setting == 0 || (algorithm >= 1 && algorithm <= 5 && algorithm != 3 && level >= 1 && level <= 9) ||
           (setting >= 1 && setting <= 9);
}

}  // namespace

std::string usage()
{
    return "usage: make-example [--events N] [--seed S] [--compression SETTING] [--cluster N] [--output "
           "PATH] [--pass-fraction F] [--format ttree|rntuple] [--quiet]\n"
           "Writes a tree \"Events\" of simulated collision events shaped like a recent campaign's files\n"
           "(about 1,500 branches: triggers, filters, per-event quantities, particle collections).\n"
           "\n"
           "  --events N           number of events (default 100000)\n"
           "  --seed S             random seed; the same seed gives the same file (default 1)\n"
           "  --compression SET    ROOT compression setting, algorithm*100+level: 101 zlib-1,\n"
           "                       209 LZMA-9 (default), 404 LZ4-4, 505 ZSTD-5, 0 none\n"
           "  --cluster N          entries per cluster (default 3000)\n"
           "  --output PATH        output file (default example_RunIISummer20UL18.root)\n"
           "  --pass-fraction F    about F of the events pass the skim's selection, from 0.0001 to\n"
           "                       0.3 (default about 0.03); e.g. 0.001 for a sparse skim\n"
           "  --format FORMAT      ttree (default) or rntuple: the same events as an RNTuple \"Events\"\n"
           "                       laid out as treeconvert lays out the tree (scalars as fields of\n"
           "                       their type, each count's arrays one collection with projected\n"
           "                       RVec fields, the counts as cardinality fields); a cluster every\n"
           "                       --cluster entries\n"
           "  --quiet              no progress or summary on stderr\n"
           "  --help               this text\n";
}

Options parse_options(const std::vector<std::string>& args)
{
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw std::invalid_argument(arg + ": missing value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--events") {
            o.events = parse_number<int64_t>(arg, value(), 0);
        } else if (arg == "--seed") {
            o.seed = parse_number<uint64_t>(arg, value(), 0);
        } else if (arg == "--cluster") {
            o.cluster = parse_number<int64_t>(arg, value(), 1);
        } else if (arg == "--compression") {
            o.compression = parse_number<int>(arg, value(), 0);
            if (!valid_compression(o.compression))
                throw std::invalid_argument("--compression: unknown setting " +
                                            std::to_string(o.compression));
        } else if (arg == "--pass-fraction") {
            o.pass_fraction = parse_number<double>(arg, value(), 0.0001);
            if (o.pass_fraction > 0.3) throw std::invalid_argument("--pass-fraction: at most 0.3");
        } else if (arg == "--format") {
            const std::string& format = value();
            if (format != "ttree" && format != "rntuple")
                throw std::invalid_argument("--format: expected ttree or rntuple, not '" + format + "'");
            o.rntuple = format == "rntuple";
        } else if (arg == "--output") {
            o.output = value();
            if (o.output.empty()) throw std::invalid_argument("--output: empty path");
        } else {
            throw std::invalid_argument("unknown option '" + arg + "'");
        }
    }
    return o;
}

double Options::boosted_fraction() const
{
    return pass_fraction > 0 ? pass_fraction / EventModel::kPassingPerBoosted : EventModel::kDefaultBoostedFraction;
}

}  // namespace make_example
