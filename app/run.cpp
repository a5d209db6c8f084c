#include "app/run.hpp"

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/schedule.hpp"
#include "formats/csv.hpp"
#include "formats/deck.hpp"
#include "formats/design_file.hpp"
#include "formats/figure.hpp"
#include "formats/findings.hpp"
#include "formats/front.hpp"
#include "formats/page.hpp"
#include "formats/report.hpp"
#include "numeric/clock.hpp"

namespace selquant {
namespace {

// The report could not be written: say so instead of ending as a success.
int report_lost() {
  std::fprintf(stderr, "selquant: the report could not be written\n");
  return kOutputLost;
}

// A file beside the report could not be written: the run fails the same way.
int file_lost(const Output& output) {
  std::fprintf(stderr, "selquant: %s could not be written: %s\n", output.label.c_str(),
               output.file->error().c_str());
  return kOutputLost;
}

void write_findings(const std::vector<std::string>& findings) {
  for (const std::string& f : findings)
    std::fprintf(stderr, "selquant: %s\n", f.c_str());
  std::fflush(stderr);
}

// The consumer of the passes on the command line: the report on standard
// output, the rows of the CSV files and progress. The lines and rows of a pass
// go out together, whole, before a signal can end the run.
class CommandLineSink : public Sink {
 public:
  CommandLineSink(std::ostream& out, const Problem& p, const RunOptions& options, int total,
                  double applicants)
      : out_(out),
        p_(p),
        options_(options),
        progress_(options.progress, total),
        applicants_(applicants) {}

  bool pass(const PassResult& r) override {
    text_.str("");
    results_.str("");
    inputs_.str("");
    textio::Writer w(text_);
    write_pass(w, p_, r, options_.summary_only);
    if (options_.inputs_csv) csv::write_inputs(inputs_, r.k, !r.skipped, *r.model);
    if (!r.skipped && options_.csv) csv::write_results(results_, r.k, *r.model, applicants_);
    with_signals_held([&] {
      const std::string_view text = text_.view();
      out_.write(text.data(), static_cast<std::streamsize>(text.size()));
      out_.flush();
      if (options_.csv) options_.csv.file->write(results_.view());
      if (options_.inputs_csv) options_.inputs_csv.file->write(inputs_.view());
    });
    progress_.update(r.k);
    done_ = r.k;
    skipped_ += r.skipped ? 1 : 0;
    return sound() && !interrupted();
  }
  bool interrupted() const { return options_.interrupted && *options_.interrupted != 0; }
  int done() const { return done_; }
  int skipped() const { return skipped_; }
  void finish() { progress_.finish(); }

  // Whether the report and every file are still being written.
  bool sound() const {
    bool all = static_cast<bool>(out_);
    for (const Output* f : files())
      all = all && (!*f || f->file->ok());
    return all;
  }
  // The status of the outputs: 0 while all are sound, else the first failure's.
  int failed_output() const {
    if (!out_) return report_lost();
    for (const Output* f : files())
      if (*f && !f->file->ok()) return file_lost(*f);
    return 0;
  }
  std::array<const Output*, 5> files() const {
    return {&options_.csv, &options_.inputs_csv, &options_.summary_csv, &options_.plot,
            &options_.html};
  }

 private:
  std::ostream& out_;
  const Problem& p_;
  const RunOptions& options_;
  Progress progress_;
  std::ostringstream text_;
  std::ostringstream results_;
  std::ostringstream inputs_;
  double applicants_;
  int done_ = 0;
  int skipped_ = 0;
};

// Computes the problem with the report and the files beside it; returns the
// exit status. d names the problem's predictors and groups; t is the clock reading of the start
// line, tstart the CPU seconds at the start.
int run_problem(const Design& d, const Problem& p, const Model& deck, std::int64_t t, float tstart,
                std::ostream& out, const RunOptions& options, const Given* given = nullptr) {
  const double applicants = d.utility ? d.utility->applicants : 0;
  // The CSV files are whole after every row: an interrupt puts them in place
  // as they stand, with the rows of the passes the report shows.
  if (options.csv) {
    std::ostringstream header;
    csv::write_results_header(header, applicants);
    options.csv.file->write(header.view());
    options.csv.file->keep_on_interrupt();
  }
  if (options.inputs_csv) {
    std::ostringstream header;
    csv::write_inputs_header(header, deck);
    options.inputs_csv.file->write(header.view());
    options.inputs_csv.file->keep_on_interrupt();
  }
  CommandLineSink sink(out, p, options, p.nsamp, applicants);
  if (options.passes_begun) *options.passes_begun = 1;
  EngineOptions engine;
  engine.threads = options.threads;
  engine.epoch = t;
  engine.kernel = options.kernel;
  engine.given = given;
  Sink* const sinks[] = {&sink};
  const Evaluation ev = evaluate(p, deck, engine, sinks);
  sink.finish();
  textio::Writer w(out, true);
  if (!ev.complete && sink.interrupted() && sink.failed_output() == 0) {
    // The summary of the passes shown; the files as an interrupt leaves them.
    if (options.summary_only && sink.skipped() > 0) write_skipped_count(w, sink.skipped());
    write_interrupted_heading(w, sink.done(), p.nsamp);
    write_summary(w, deck, summarize(p.smode, deck, *ev.saved));
    out.flush();
    textio::settle_outputs_on_interrupt();
    return out ? 1 : report_lost();
  }
  if (!ev.complete) return sink.failed_output();
  if (options.summary_only && sink.skipped() > 0) write_skipped_count(w, sink.skipped());
  write_summary(w, deck, ev.summary);
  write_cpu_time(w, numeric::second() - tstart);
  if (options.summary_csv) {
    std::ostringstream text;
    csv::write_summary(text, deck, ev.summary);
    options.summary_csv.file->write(text.view());
  }
  if (options.plot)
    options.plot.file->write(ev.exact ? exact_figure(p, *ev.exact)
                                      : sampled_figure(p, deck, *ev.saved));
  if (options.html)
    options.html.file->write(page(PageKind::run, run_data(d, p, deck, ev), options.command));
  out.flush();
  for (const Output* f : sink.files())
    if (*f) f->file->commit();
  if (const int status = sink.failed_output(); status != 0) return status;
  for (int s = 1; s <= deck.wdca.nstage; ++s)
    if (const int n = ev.not_found[static_cast<std::size_t>(s)]; n > 0)
      std::fprintf(stderr, "selquant: the cutoff of stage %d was not found in %d of %d samples\n",
                   s, n, ev.searched);
  if (ev.saved->count == 0) {
    std::fprintf(stderr, "selquant: no sample could be computed\n");
    return kNoneCounted;
  }
  if (ev.whole == 0) {
    // Every result stands on a cutoff that does not meet its retention rate.
    std::fprintf(stderr, "selquant: no sample had all its cutoffs found\n");
    return kNoneCounted;
  }
  return 0;
}

// Reads and checks a deck outside a run: false, with the message of a
// refused or malformed deck on standard error, when it cannot be used.
bool read_or_refuse(std::istream& in, bool read_to_end, Problem& p, Model& m,
                    std::vector<std::string>& findings) {
  const std::string bad = check_deck(in, p, m, read_to_end, findings);
  if (bad.empty()) return true;
  std::fprintf(stderr, "selquant: %s\n", bad.c_str());
  return false;
}

}  // namespace

int check(std::istream& in, bool read_to_end) {
  auto problem = std::make_unique<Problem>();
  auto model = std::make_unique<Model>();
  std::vector<std::string> findings;
  if (!read_or_refuse(in, read_to_end, *problem, *model, findings)) return 2;
  write_findings(findings);
  return findings.empty() ? 0 : 1;
}

int run(std::istream& in, std::ostream& out, const RunOptions& options) {
  const float tstart = numeric::second();
  // One reading of the calendar clock for the start line and the seed.
  const std::int64_t t = options.epoch ? *options.epoch : numeric::time();
  textio::Writer w(out, true);
  write_start_line(w, numeric::local_date_time(t));

  auto problem = std::make_unique<Problem>();
  auto model = std::make_unique<Model>();
  Problem& p = *problem;
  std::vector<std::string> findings;
  std::string bad;
  try {
    bad = read_and_check(in, p, *model, options.read_to_end, findings);
  } catch (const textio::InputError& e) {
    textio::abort_on(e);  // as every fatal input error ends
  }
  if (!bad.empty()) {
    out.flush();
    std::fprintf(stderr, "selquant: %s\n", bad.c_str());
    return 2;
  }
  write_findings(findings);
  return run_problem(design_of(p, *model), p, *model, t, tstart, out, options);
}

int check_design(const Design& d) {
  const std::vector<std::string> findings = design_findings(d);
  write_findings(findings);
  return findings.empty() ? 0 : 1;
}

int run_given(const Design& d, const std::vector<std::string>& findings, const Given* given,
              std::ostream& out, const RunOptions& options) {
  const float tstart = numeric::second();
  const std::int64_t t = options.epoch ? *options.epoch : d.epoch ? *d.epoch : numeric::time();
  textio::Writer w(out, true);
  write_start_line(w, numeric::local_date_time(t));
  auto problem = std::make_unique<Problem>();
  auto model = std::make_unique<Model>();
  problem_of(d, given, *problem, *model);
  write_findings(findings);
  return run_problem(d, *problem, *model, t, tstart, out, options, given);
}

int run_design(const Design& d, std::ostream& out, const RunOptions& options) {
  return run_given(d, design_findings(d), nullptr, out, options);
}

std::optional<Design> read_deck_design(std::istream& in, bool read_to_end,
                                       std::vector<std::string>& findings) {
  auto problem = std::make_unique<Problem>();
  auto model = std::make_unique<Model>();
  if (!read_or_refuse(in, read_to_end, *problem, *model, findings)) return std::nullopt;
  return design_of(*problem, *model);
}

int run_pareto(const Design& d, const ParetoPlan& plan, std::ostream& out,
               const RunOptions& options) {
  write_findings(design_findings(d));
  SearchOptions search;
  search.threads = options.threads;
  search.kernel = options.kernel;
  search.epoch = options.epoch ? *options.epoch : d.epoch ? *d.epoch : numeric::time();
  std::optional<Progress> progress;
  search.progress = [&](int done, int total) {
    if (!progress) progress.emplace(options.progress, total, stderr, "searches");
    progress->update(done);
  };
  Front front;
  try {
    front = pareto(d, plan, search);
    if (progress) progress->finish();
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "selquant: the front cannot be searched: %s\n", e.what());
    return 2;
  }
  if (front.unmet) {
    char value[32];
    std::snprintf(value, sizeof value, "%.4f", front.unmet->second);
    std::fprintf(stderr,
                 "selquant: no design meets the constraints; the nearest is '%s', where the "
                 "nearest design reaches %s\n",
                 front.unmet->first.c_str(), value);
  }
  const Table table = front_table(d, plan, front);
  write_front(out, table);
  out.flush();
  if (options.csv) {
    std::ostringstream text;
    write_front_csv(text, table);
    options.csv.file->write(text.view());
  }
  if (options.plot) options.plot.file->write(front_figure(d, plan, front));
  if (options.html)
    options.html.file->write(
        page(PageKind::front, front_data(d, plan, front, options.kernel), options.command));
  int status = out ? 0 : report_lost();
  for (const Output* f : {&options.csv, &options.plot, &options.html}) {
    if (!*f) continue;
    if (!f->file->commit() && status == 0) status = file_lost(*f);
  }
  return status;
}

int convert_to_design(std::istream& in, bool read_to_end, std::ostream& out) {
  auto problem = std::make_unique<Problem>();
  auto model = std::make_unique<Model>();
  std::vector<std::string> findings;
  if (!read_or_refuse(in, read_to_end, *problem, *model, findings)) return 2;
  out << write_design(design_of(*problem, *model));
  out.flush();
  return out ? 0 : kOutputLost;
}

}  // namespace selquant
