// The run: start line, seeding, deck, the Monte Carlo passes and the summary.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "numeric/random.hpp"
#include "selquant/deck.hpp"
#include "selquant/progress.hpp"
#include "textio/outfile.hpp"
#include "textio/record.hpp"

namespace selquant {

// The two random sources of a run.
struct RandomSources {
  numeric::Rand22 gauss;    // behind rgauss
  numeric::Rand15 uniform;  // behind rand01
};

// The clock-derived seed, 1 .. 1155 for a non-negative clock reading.
int clock_seed(std::int64_t t);
// Advances the normal source by iseed deviates and restarts the uniform source
// from iseed (twice, discarding one number each time).
void seed_sources(RandomSources& rs, int iseed);

// Draws every uncertain input of pass k into the model blocks and derives the
// group proportions, vcrit and dcrit. Writes the proportion check record when
// the proportions do not sum to one.
void draw_sample(const Problem& p, Model& m, RandomSources& rs, textio::Writer& w, int k);

// Solves the cutoff of every stage in turn into cut, writing a record for each
// stage whose root finding fails; returns those stages as bits (1 << s).
unsigned solve_cutoffs(Model& m, textio::Writer& w);

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
  ProgressMode progress = ProgressMode::none;
  mvn::Kernel kernel = mvn::Kernel::specified;  // of the 3- and 4-variate probabilities
  bool summary_only = false;                    // the report without the blocks of the samples
  // Whether what follows the deck's last read is read, to say whether lines
  // are left (not for a deck typed at a terminal).
  bool read_to_end = true;
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

}  // namespace selquant
