// Ordered parallel passes: the passes of a run are prepared and finished one by
// one in pass order on the calling thread, and computed in between on worker
// threads, with a bounded number of passes in flight.
#pragma once

#include <functional>

namespace selquant {

struct Schedule {
  int passes = 0;   // passes 1..passes
  int threads = 1;  // worker threads; 1 computes every pass on the calling thread
  int window = 1;   // passes in flight at most; their slots are 0..window-1
};

// Runs every pass k through prepare(k, slot), compute(k, slot) and
// finish(k, slot). prepare and finish run on the calling thread, strictly in
// pass order; compute runs on any worker thread, after its prepare and before
// its finish. The slot of pass k is (k - 1) % window, and it is not prepared
// again before its previous pass has been finished. When finish returns false
// the run stops: passes not yet finished are dropped, and false is returned.
// An exception thrown by compute is thrown again from here, at the place of its
// pass's finish. Worker threads never receive an interrupt or termination
// signal: it reaches the calling thread.
bool run_in_order(const Schedule& schedule, const std::function<void(int, int)>& prepare,
                  const std::function<void(int, int)>& compute,
                  const std::function<bool(int, int)>& finish);

// Runs fn with interrupt and termination signals held back on the calling
// thread, so that what fn writes is complete when the signal's handler runs.
void with_signals_held(const std::function<void()>& fn);

// The number of processors this process may run on (at least 1).
int available_processors();

}  // namespace selquant
