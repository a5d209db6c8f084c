#include "app/options.hpp"

#include <charconv>
#include <string_view>

#include "engine/schedule.hpp"

#ifndef SELQUANT_VERSION
#define SELQUANT_VERSION "unknown"
#endif

namespace app {
namespace {

// Upper bound of --threads: far beyond any machine, low enough for a window
// of passes in flight to stay small.
constexpr int kMaxThreads = 1024;

constexpr std::string_view kUsage = R"(Usage: selquant [OPTIONS] [DECK]
Computes the selection quality and adverse impact of a multi-stage selection
for the problem deck or design file DECK (standard input, a deck, when DECK is
absent or -) and writes the report on standard output.

Options:
  --threads N        compute the samples on N threads (default: the number of
                     processors available); the report is the same for every N
  --epoch T          use T seconds since 1970 as the clock reading for the seed
                     and the start line (as SOURCE_DATE_EPOCH=T does)
  --kernel K         the method of the 3- and 4-variate normal probabilities:
                     'specified' (the default) or 'fast' (the default of
                     --pareto), a one-dimensional integration that is more
                     accurate and many times faster; its report may differ
                     in a last printed decimal, rarely
  --draws FILE       take the samples from FILE (CSV) instead of drawing them:
                     one row per sample, its columns named as --inputs-csv
                     names them; an input it leaves out keeps the design's
                     expected value
  --csv FILE         write the results to FILE as CSV, one row per computed
                     sample, stage and group
  --inputs-csv FILE  write the drawn inputs to FILE as CSV, one row per sample
  --plot FILE        draw the results into FILE as an SVG figure: per stage the
                     distribution of the quality and of each group's Cum. AI
  --summary-csv FILE write the summary to FILE as CSV, one row per stage,
                     group and statistic
  --html FILE        write the results into FILE as one HTML page that needs
                     nothing outside itself: per stage the distributions
                     and the summary; with --pareto, the front's plots,
                     bounds, table and download
  --summary-only     leave the blocks of the samples out of the report
  --progress         show progress on standard error (kept in place on a
                     terminal, a line now and then elsewhere)
  --quiet            show no progress (the default when standard error is not
                     a terminal)
  --check            read the deck and report what is doubtful in it on
                     standard error, computing nothing; exit status 0: nothing
                     to report, 1: findings, 2: the deck is refused
  --pareto           search the stage weights of the design file DECK for the
                     best trade-offs of its [pareto] objectives and write the
                     front on standard output (--csv and --plot: the front)
  --to-design        write the design file (TOML) of the deck on standard
                     output, computing nothing
  --to-deck          write the deck of the design file on standard output,
                     computing nothing
  -h, --help         show this help and exit
  --version          show the version and exit

Output files are written whole or not at all; none may name the deck or
another output.

Exit status: 0 done; 1 interrupted; 2 usage error or a refused deck;
3 an output could not be written; 4 no sample could be computed, or none
had all its cutoffs found; abort on a malformed deck (its line and column
are named).
)";

// A whole number from lo to hi, written in decimal digits only (a sign where
// negative values are allowed).
template <class T>
bool parse_number(std::string_view text, T lo, T hi, T& value) {
  if (text.empty() || text.front() == '+') return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= lo && value <= hi;
}

}  // namespace

std::string parse_options(int argc, const char* const* argv, Options& options) {
  options.run.threads = selquant::available_processors();
  bool deck_given = false;
  bool only_deck = false;  // after "--" every argument is the deck
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (only_deck || arg == "-" || !arg.starts_with("-")) {
      if (deck_given)
        return "more than one deck: '" + options.deck + "' and '" + std::string(arg) + "'";
      options.deck = arg;
      deck_given = true;
      continue;
    }
    if (arg == "--") {
      only_deck = true;
      continue;
    }
    std::string_view name = arg;
    std::string_view value;
    bool has_value = false;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    // The value of an option that takes one: after '=' or the next argument.
    auto take_value = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    auto no_value = [&]() -> std::string {
      return has_value ? "option " + std::string(name) + " takes no value" : std::string();
    };
    const std::string missing = "option " + std::string(name) + " needs a value";
    if (name == "--threads") {
      if (!take_value()) return missing;
      if (!parse_number(value, 1, kMaxThreads, options.run.threads))
        return "--threads must be a whole number from 1 to " + std::to_string(kMaxThreads) +
               ", not '" + std::string(value) + "'";
    } else if (name == "--epoch") {
      if (!take_value()) return missing;
      std::int64_t t = 0;
      // Any instant that the calendar conversion takes (years up to 9999).
      if (!parse_number<std::int64_t>(value, -62135596800, 253402300799, t))
        return "--epoch must be a whole number of seconds since 1970, not '" + std::string(value) +
               "'";
      options.run.epoch = t;
    } else if (name == "--kernel") {
      if (!take_value()) return missing;
      options.kernel_given = true;
      if (value == "specified") {
        options.run.kernel = mvn::Kernel::specified;
      } else if (value == "fast") {
        options.run.kernel = mvn::Kernel::fast;
      } else {
        return "--kernel must be 'specified' or 'fast', not '" + std::string(value) + "'";
      }
    } else if (name == "--draws") {
      if (!take_value()) return missing;
      if (value.empty()) return "option --draws needs a file name";
      options.draws = value;
    } else if (name == "--csv" || name == "--inputs-csv" || name == "--plot" ||
               name == "--summary-csv" || name == "--html") {
      if (!take_value()) return missing;
      if (value.empty()) return "option " + std::string(name) + " needs a file name";
      (name == "--csv"           ? options.csv
       : name == "--plot"        ? options.plot
       : name == "--html"        ? options.html
       : name == "--summary-csv" ? options.summary_csv
                                 : options.inputs_csv) = value;
    } else if (name == "--summary-only") {
      if (std::string e = no_value(); !e.empty()) return e;
      options.run.summary_only = true;
    } else if (name == "--progress" || name == "--quiet") {
      if (std::string e = no_value(); !e.empty()) return e;
      options.progress = name == "--progress" ? ProgressChoice::on : ProgressChoice::off;
    } else if (name == "--check") {
      if (std::string e = no_value(); !e.empty()) return e;
      options.check = true;
    } else if (name == "--pareto") {
      if (std::string e = no_value(); !e.empty()) return e;
      options.pareto = true;
    } else if (name == "--to-design" || name == "--to-deck") {
      if (std::string e = no_value(); !e.empty()) return e;
      (name == "--to-design" ? options.to_design : options.to_deck) = true;
    } else if (name == "-h" || name == "--help") {
      if (std::string e = no_value(); !e.empty()) return e;
      options.help = true;
    } else if (name == "--version") {
      if (std::string e = no_value(); !e.empty()) return e;
      options.version = true;
    } else {
      return "unknown option '" + std::string(arg) + "' (see selquant --help)";
    }
  }
  return {};
}

selquant::ProgressMode progress_mode(ProgressChoice choice, bool terminal) {
  switch (choice) {
    case ProgressChoice::off:
      return selquant::ProgressMode::none;
    case ProgressChoice::on:
      return terminal ? selquant::ProgressMode::live : selquant::ProgressMode::plain;
    default:
      return terminal ? selquant::ProgressMode::live : selquant::ProgressMode::none;
  }
}

std::string usage_text() {
  return std::string(kUsage);
}

std::string version_text() {
  return "selquant " SELQUANT_VERSION "\n";
}

}  // namespace app
