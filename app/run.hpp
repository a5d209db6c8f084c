// A run of the program: start line, the problem, the computation with its
// report and the files beside it, the summary; and the check of a problem
// alone.
#pragma once

#include <csignal>
#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/progress.hpp"
#include "engine/design.hpp"
#include "engine/engine.hpp"
#include "engine/given.hpp"
#include "engine/pareto.hpp"
#include "textio/outfile.hpp"

namespace selquant {

// A file written beside the report, and how messages name it ("the CSV file
// 'results.csv'").
struct Output {
  textio::OutputFile* file = nullptr;
  std::string label;
  explicit operator bool() const { return file != nullptr; }
};

// How a run is carried out and what it writes beside the report; the report
// does not depend on it, except that summary_only leaves out the blocks of
// the samples.
struct RunOptions {
  int threads = 1;                    // threads computing the passes
  std::optional<std::int64_t> epoch;  // the calendar clock's reading, if fixed
  Output csv;                         // results, one row per pass, stage and group
  Output inputs_csv;                  // drawn inputs, one row per pass
  Output summary_csv;                 // the summary, one row per stage, group and statistic
  Output plot;                        // the SVG figure
  Output html;                        // the page of the run or the front
  std::string command;                // the command line, as the page shows it
  ProgressMode progress = ProgressMode::none;
  mvn::Kernel kernel = mvn::Kernel::specified;  // of the 3- and 4-variate probabilities
  bool summary_only = false;                    // the report without the blocks of the samples
  // Whether what follows the deck's last read is read, to say whether lines
  // are left (not for a deck typed at a terminal).
  bool read_to_end = true;
  // Where an interrupt is flagged that ends the run after the pass in hand
  // with the summary of the passes done (with summary_only), or nothing; and
  // the flag set once the passes begin, from when an interrupt is so taken
  // (before, while the deck is read, it ends the run at once).
  const volatile std::sig_atomic_t* interrupted = nullptr;
  volatile std::sig_atomic_t* passes_begun = nullptr;
};

// Exit statuses beyond 0 (done), 1 (interrupted) and 2 (usage).
inline constexpr int kOutputLost = 3;   // the report or a file could not be written
inline constexpr int kNoneCounted = 4;  // no sample could be computed

// Reads the deck and writes its findings on standard error, computing nothing
// and writing nothing on standard output: 0 when there is nothing to report,
// 1 with findings, 2 when the deck is refused or cannot be read (the located
// message of the reader's error).
int check(std::istream& in, bool read_to_end = true);

// The whole program on a deck; returns the exit status.
int run(std::istream& in, std::ostream& out, const RunOptions& options = {});

// The same for a design: its findings, status 0 or 1 (check), or the run.
// The clock reading: options.epoch, else the design's, else the clock.
int check_design(const Design& d);
int run_design(const Design& d, std::ostream& out, const RunOptions& options = {});
// The same with the findings of the design (or of the deck it was read
// from), on given draws (one pass per row) where given is not null.
int run_given(const Design& d, const std::vector<std::string>& findings, const Given* given,
              std::ostream& out, const RunOptions& options);

// The design of a deck and its findings, or nothing with the message of a
// refused or malformed deck on standard error.
std::optional<Design> read_deck_design(std::istream& in, bool read_to_end,
                                       std::vector<std::string>& findings);

// Searches the front of a design and writes it (table on out, CSV and figure
// files as options give them); returns the exit status. A design that cannot
// be searched is a usage error (2).
int run_pareto(const Design& d, const ParetoPlan& plan, std::ostream& out,
               const RunOptions& options);

// Writes the design file of a deck on out: status 0, or 2 with the message
// of a refused or malformed deck.
int convert_to_design(std::istream& in, bool read_to_end, std::ostream& out);

}  // namespace selquant
