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
// stage whose root finding fails.
void solve_cutoffs(Model& m, textio::Writer& w);

// How a run is carried out and what it writes beside the report; the report
// does not depend on it.
struct RunOptions {
  int threads = 1;                    // threads computing the passes
  std::optional<std::int64_t> epoch;  // the calendar clock's reading, if fixed
  std::ostream* csv = nullptr;        // results, one row per pass, stage and group
  std::string csv_name;
  std::ostream* inputs_csv = nullptr;  // drawn inputs, one row per pass
  std::string inputs_csv_name;
  std::ostream* plot = nullptr;  // the SVG figure
  std::string plot_name;
  ProgressMode progress = ProgressMode::none;
  mvn::Kernel kernel = mvn::Kernel::specified;  // of the 3- and 4-variate probabilities
};

// Reads the deck and writes its findings on standard error, computing nothing
// and writing nothing on standard output: 0 when there is nothing to report,
// 1 with findings, 2 when the deck is refused. Reader errors abort.
int check(std::istream& in);

// The whole program on a deck; returns the exit status.
int run(std::istream& in, std::ostream& out, const RunOptions& options = {});

}  // namespace selquant
