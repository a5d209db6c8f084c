// The computation of a problem, apart from any text: seeding, the draws of
// every pass, the stage cutoffs, the results, and the summary over the passes.
// What each pass gives is handed, in pass order, to the consumers of the run
// (the report, the CSV files, progress, an in-memory table, a search).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/blocks.hpp"
#include "engine/design.hpp"
#include "engine/problem.hpp"
#include "engine/summary.hpp"
#include "numeric/random.hpp"

namespace selquant {

class Given;

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

// Draws every uncertain input of a pass into the model blocks and derives the
// group proportions, vcrit and dcrit. Returns the sum of the proportions when
// it is not one (the proportion check), nothing otherwise.
std::optional<double> draw_sample(const Problem& p, Model& m, RandomSources& rs);
// What draw_sample does after the draws: completes the proportions (each at
// least 0, the others scaled to sum 1 when they reach it, the base group
// taking the rest), mirrors the upper triangles of the correlation matrices,
// and derives vcrit and dcrit. Returns the proportion check.
std::optional<double> complete_sample(Model& m);

// Solves the cutoff of every stage in turn into cut; returns the stages whose
// root finding failed as bits (1 << s).
unsigned solve_cutoffs(Model& m);

// What one pass gave.
struct PassResult {
  int k = 0;                               // the pass number, 1 .. nsamp
  const Model* model = nullptr;            // the drawn inputs and, unless skipped, the results
  bool skipped = false;                    // not a valid model: not computed, not counted
  unsigned failed = 0;                     // stages whose cutoff was not found, as bits
  std::optional<double> proportion_total;  // the proportions' sum when the check fired
  bool counted = false;                    // its values went into the summary
};

// A consumer of a run. pass() is called on the calling thread of evaluate, in
// pass order; returning false stops the run.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool pass(const PassResult& result) = 0;
};

struct EngineOptions {
  int threads = 1;                              // threads computing the passes
  std::int64_t epoch = 0;                       // the clock reading the sources are seeded from
  mvn::Kernel kernel = mvn::Kernel::specified;  // of the 3- and 4-variate probabilities
  // The passes computed, first to last (0: the last of the problem); those
  // before are drawn and dropped, so that every pass computed has the inputs
  // it has in a whole run. The summary is then of these passes alone.
  int first = 1;
  int last = 0;
  // Draws given instead of drawn (the problem's mode is then kGiven): pass k
  // takes row k.
  const Given* given = nullptr;
};

// The outcome of a run.
struct Evaluation {
  bool complete = false;         // every pass was handed on (no sink stopped the run)
  std::unique_ptr<Saved> saved;  // the saved values of the counted passes
  Summary summary;               // over them (when complete)
  std::array<int, kMaxStages + 1> not_found{};  // per stage s: passes whose cutoff failed
  int searched = 0;                             // passes whose cutoffs were searched
  int whole = 0;                                // counted passes whose every cutoff was found
  std::unique_ptr<Model> exact;                 // exact mode: the pass computed
};

// Draws and computes every pass of the problem (deck: its counts and fixed
// parameters in the model blocks) and hands each to the sinks in pass order.
Evaluation evaluate(const Problem& p, const Model& deck, const EngineOptions& options,
                    std::span<Sink* const> sinks);
// The same for a design (its epoch, if it has one, seeds the run).
Evaluation evaluate(const Design& d, const EngineOptions& options, std::span<Sink* const> sinks);

}  // namespace selquant
