#include "engine/study.hpp"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <utility>

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
  problem_of(d, options.given, *p, *deck);
  Collector collector(*deck, d.utility ? d.utility->applicants : 0);
  Watcher watcher(watch, p->nsamp);
  Sink* sinks[] = {&collector, &watcher};
  EngineOptions engine;
  engine.threads = options.threads;
  engine.epoch = options.epoch;
  engine.kernel = options.kernel;
  engine.first = options.first;
  engine.last = options.last;
  engine.given = options.given;
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

Study join_studies(const Design& d, std::vector<Study> parts, const Finish& finish,
                   const Given* given) {
  auto p = std::make_unique<Problem>();
  auto deck = std::make_unique<Model>();
  problem_of(d, given, *p, *deck);
  Study s;
  s.complete = !parts.empty();
  const Collector shape(*deck, d.utility ? d.utility->applicants : 0);
  s.results = shape.results();
  s.inputs = shape.inputs();
  for (Study& part : parts) {
    s.complete = s.complete && part.complete;
    for (auto [into, from] : {std::pair{&s.results, &part.results}, {&s.inputs, &part.inputs}}) {
      // A piece of another design or of another version has other columns.
      if (from->columns.size() != into->columns.size())
        throw std::invalid_argument("a piece whose tables do not fit the design");
      for (std::size_t c = 0; c < into->columns.size(); ++c) {
        if (from->columns[c].name != into->columns[c].name)
          throw std::invalid_argument("a piece whose tables do not fit the design");
        std::vector<double>& v = into->columns[c].values;
        const std::vector<double>& w = from->columns[c].values;
        v.insert(v.end(), w.begin(), w.end());
      }
    }
    s.searched += part.searched;
    for (std::size_t st = 0; st < s.not_found.size(); ++st)
      s.not_found[st] += part.not_found[st];
  }
  if (!s.complete) return s;

  // The values the whole run saves, pass by pass: each computed pass's
  // quality and AI as its rows hold them.
  Evaluation ev;
  ev.complete = true;
  ev.saved = std::make_unique<Saved>();
  ev.searched = s.searched;
  ev.not_found = s.not_found;
  ev.saved->not_counted = static_cast<int>(s.inputs.rows() - static_cast<std::size_t>(s.searched));
  const Wdca& a = deck->wdca;
  const std::size_t rows_per_pass = static_cast<std::size_t>(a.nstage * a.ngroup);
  const std::vector<double>& stage = s.results["stage"].values;
  const std::vector<double>& group = s.results["group"].values;
  const std::vector<double>& cum_ai = s.results["cum_ai"].values;
  const std::vector<double>& quality_all = s.results["quality_all"].values;
  const std::vector<double>& quality = s.results["quality"].values;
  const std::vector<double>& stage_ai = s.results["stage_ai"].values;
  auto pass = std::make_unique<Model>(*deck);
  for (std::size_t first = 0; first < s.results.rows(); first += rows_per_pass) {
    for (std::size_t r = first; r < first + rows_per_pass; ++r) {
      const int st = static_cast<int>(stage[r]), g = static_cast<int>(group[r]);
      pass->wdcf.qall(st) = quality_all[r];
      pass->wdcc.aicum(st, g) = cum_ai[r];
      pass->wdcf.qgrp(g, st) = quality[r];
      pass->wdcc.aistg(st, g) = stage_ai[r];
    }
    save_pass(*ev.saved, *pass);
  }
  ev.summary = summarize(p->smode, *deck, *ev.saved);
  s.summary = Collector::summary_table(*deck, ev.summary);
  s.counted = ev.saved->count;
  if (finish) finish(*p, *deck, ev);
  return s;
}

}  // namespace selquant
