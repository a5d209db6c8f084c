#include "engine/study.hpp"

#include <chrono>

namespace selquant {
namespace {

// Hands the watcher the count of passes, at most every kWatchInterval.
class Watcher : public Sink {
 public:
  Watcher(const Watch& watch, int total) : watch_(watch), total_(total) {}
  bool pass(const PassResult&) override {
    ++done_;
    if (!watch_) return true;
    const auto now = Clock::now();
    if (done_ < total_ && now - last_ < std::chrono::duration<double>(kWatchInterval)) return true;
    last_ = now;
    return watch_(done_, total_);
  }

 private:
  using Clock = std::chrono::steady_clock;
  const Watch& watch_;
  int total_;
  int done_ = 0;
  Clock::time_point last_ = Clock::now();
};

}  // namespace

Study study(const Design& d, const StudyOptions& options, const Watch& watch,
            const Finish& finish) {
  auto p = std::make_unique<Problem>();
  auto deck = std::make_unique<Model>();
  problem_of(d, *p, *deck);
  Collector collector(*deck);
  Watcher watcher(watch, p->nsamp);
  Sink* sinks[] = {&collector, &watcher};
  EngineOptions engine;
  engine.threads = options.threads;
  engine.epoch = options.epoch;
  engine.kernel = options.kernel;
  const Evaluation ev = evaluate(*p, *deck, engine, sinks);

  Study s;
  s.complete = ev.complete;
  s.results = collector.results();
  s.inputs = collector.inputs();
  if (ev.complete) s.summary = collector.summary(ev.summary);
  if (ev.complete && finish) finish(*p, *deck, ev);
  s.counted = ev.saved->count;
  s.searched = ev.searched;
  s.not_found = ev.not_found;
  return s;
}

}  // namespace selquant
