// The run: start line, seeding, deck, the Monte Carlo passes and the summary.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>

#include "numeric/random.hpp"
#include "selquant/deck.hpp"
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

// How a run is carried out; the report does not depend on it.
struct RunOptions {
  int threads = 1;  // threads computing the passes
};

// The whole program on a deck; returns the exit status.
int run(std::istream& in, std::ostream& out, const RunOptions& options = {});

}  // namespace selquant
