// A design evaluated into tables, for programs that embed the engine (the R
// and Python packages): the results, inputs and summary tables of a run, with
// a watcher between passes that shows progress and can stop the run.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/design.hpp"
#include "engine/engine.hpp"
#include "engine/given.hpp"
#include "engine/tables.hpp"

namespace selquant {

struct StudyOptions {
  int threads = 1;
  std::int64_t epoch = 0;  // the clock reading the sources are seeded from
  mvn::Kernel kernel = mvn::Kernel::fast;
  int first = 1;  // the passes computed, first to last (0: all); see EngineOptions
  int last = 0;
  const Given* given = nullptr;  // draws given instead of drawn, one row per pass
};

// Called on the calling thread with the passes handed on so far and their
// number, at most every `kWatchInterval` and once at the end; false stops the
// run.
using Watch = std::function<bool(int done, int total)>;
// Often enough that an interrupt is felt at once, seldom enough to cost
// nothing beside a pass.
inline constexpr double kWatchInterval = 0.1;  // seconds

struct Study {
  bool complete = false;  // every pass was computed (the watcher did not stop it)
  Table results;          // one row per computed pass, stage and group
  Table inputs;           // one row per pass
  Table summary;          // one row per stage, group and statistic (when complete)
  int counted = 0;        // passes in the summary
  int searched = 0;       // passes whose cutoffs were searched
  std::array<int, kMaxStages + 1> not_found{};  // per stage: passes whose cutoff failed
};

// Called once with a complete run's problem, model counts and evaluation, for
// what is made of a run beside its tables (its page's data, say).
using Finish = std::function<void(const Problem& p, const Model& m, const Evaluation& ev)>;

// Evaluates the design with the given clock reading (not the design's own).
Study study(const Design& d, const StudyOptions& options, const Watch& watch = {},
            const Finish& finish = {});

// The study of a whole run from the studies of its passes in consecutive
// ranges, in order (each computed apart, on any machine): the tables joined,
// the counts added, and the summary made once over all the counted passes, as
// the whole run makes it; finish is then called as study() calls it.
// With given draws, the parts are of a run on them. Parts whose tables do not
// fit the design (another design's, another version's) are refused with
// std::invalid_argument.
Study join_studies(const Design& d, std::vector<Study> parts, const Finish& finish = {},
                   const Given* given = nullptr);

}  // namespace selquant
