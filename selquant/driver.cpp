#include "selquant/driver.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "numeric/clock.hpp"
#include "numeric/dfzero.hpp"
#include "selquant/csv.hpp"
#include "selquant/figure.hpp"
#include "selquant/findings.hpp"
#include "selquant/model.hpp"
#include "selquant/report.hpp"
#include "selquant/schedule.hpp"

namespace selquant {
namespace {

// Normal draws of correlations and validities are held inside this bound.
constexpr double kClip = 0.95;

class Sampler {
 public:
  Sampler(const Problem& p, RandomSources& rs) : p_(p), rs_(rs) {}

  // One element from its two rows: uniform between them, or a normal deviate
  // with their mean and standard deviation. A uniform number is taken in every
  // mode, so the uniform stream advances alike.
  double draw(float a, float h) {
    const float u = numeric::rand01(rs_.uniform, 0);
    double x = static_cast<double>(a) +
               static_cast<double>(u) * (static_cast<double>(h) - static_cast<double>(a));
    if (p_.smode == kNormal) x = numeric::rgauss(rs_.gauss, a, h);
    return x;
  }
  // A correlation or validity: normal draws are clipped to [-0.95, 0.95].
  double draw_correlation(float a, float h) {
    double x = draw(a, h);
    if (p_.smode == kNormal) {
      if (x >= kClip) x = kClip;
      if (x <= -kClip) x = -kClip;
    }
    return x;
  }

 private:
  const Problem& p_;
  RandomSources& rs_;
};

// One pass in flight: its own model and the text of its records.
struct Pass {
  Model model;
  std::ostringstream text;
  bool skipped = false;  // not a valid model: not computed, not counted
  unsigned failed = 0;   // stages whose cutoff was not found, as bits
};

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

}  // namespace

int check(std::istream& in, bool read_to_end) {
  auto problem = std::make_unique<Problem>();
  auto model = std::make_unique<Model>();
  std::vector<std::string> findings;
  std::string bad;
  try {
    bad = read_and_check(in, *problem, *model, read_to_end, findings);
  } catch (const textio::InputError& e) {
    bad = e.located().empty() ? e.what() : e.located();
  }
  if (!bad.empty()) {
    std::fprintf(stderr, "selquant: %s\n", bad.c_str());
    return 2;
  }
  write_findings(findings);
  return findings.empty() ? 0 : 1;
}

int clock_seed(std::int64_t t) {
  return static_cast<int>((t % 1000) + (t % 12) + 1 + ((t % 9) + 1) * (t % 17));
}

void seed_sources(RandomSources& rs, int iseed) {
  for (int i = 0; i < iseed; ++i)
    numeric::rgauss(rs.gauss, 50.0f, 10.0f);
  numeric::rand01(rs.uniform, iseed);
  numeric::rand01(rs.uniform, iseed);
}

void draw_sample(const Problem& p, Model& m, RandomSources& rs, textio::Writer& w, int k) {
  Wdca& a = m.wdca;
  Wdcd& d = m.wdcd;
  Sampler sampler(p, rs);
  for (int g = 1; g <= a.ngroup; ++g) {
    for (int c = 1; c <= a.ncrit; ++c)
      a.dc(g, c) = sampler.draw(p.dc1(g, c), p.dc2(g, c));
    for (int j = 1; j <= a.npred; ++j)
      d.dp(g, j) = sampler.draw(p.dp1(g, j), p.dp2(g, j));
  }

  // Group proportions: the base group takes what the others leave.
  double sum = 0;
  for (int g = 1; g < a.ngroup; ++g) {
    a.prop(g) = sampler.draw(p.prop1(g), p.prop2(g));
    if (a.prop(g) < 0) a.prop(g) = 0;
    sum += a.prop(g);
  }
  if (sum >= 1) {
    for (int g = 1; g < a.ngroup; ++g)
      a.prop(g) *= 1 / sum;
    sum = 1;
  }
  a.prop(a.ngroup) = 1 - sum;
  double total = 0;
  for (int g = 1; g <= a.ngroup; ++g)
    total += a.prop(g);
  if (std::fabs(1 - total) >= 1.0e-7) write_sample_error(w, k, m, total);

  for (int i = 1; i <= a.ncrit; ++i)
    for (int j = i + 1; j <= a.ncrit; ++j)
      a.rcc(i, j) = sampler.draw_correlation(p.rc1(i, j), p.rc2(i, j));
  for (int i = 2; i <= a.ncrit; ++i)
    for (int j = 1; j < i; ++j)
      a.rcc(i, j) = a.rcc(j, i);
  for (int i = 1; i <= a.npred; ++i)
    for (int j = i + 1; j <= a.npred; ++j)
      d.rpp(i, j) = sampler.draw_correlation(p.rp1(i, j), p.rp2(i, j));
  for (int i = 2; i <= a.npred; ++i)
    for (int j = 1; j < i; ++j)
      d.rpp(i, j) = d.rpp(j, i);
  for (int c = 1; c <= a.ncrit; ++c)
    for (int j = 1; j <= a.npred; ++j)
      d.val(c, j) = sampler.draw_correlation(p.val1(c, j), p.val2(c, j));

  // Variance of the composite criterion and each group's standardized mean on it.
  a.vcrit = 0;
  for (int c = 1; c <= a.ncrit; ++c) {
    a.vcrit += a.cw(c) * a.cw(c) * a.rcc(c, c);
    for (int c2 = c + 1; c2 <= a.ncrit; ++c2)
      a.vcrit += 2 * a.cw(c) * a.cw(c2) * a.rcc(c, c2);
  }
  for (int g = 1; g <= a.ngroup; ++g) {
    double mean = 0;
    for (int c = 1; c <= a.ncrit; ++c)
      mean += a.cw(c) * a.dc(g, c) * std::sqrt(a.rcc(c, c));
    a.dcrit(g) = mean / std::sqrt(a.vcrit);
  }
}

unsigned solve_cutoffs(Model& m, textio::Writer& w) {
  unsigned failed = 0;
  for (int s = 1; s <= m.wdca.nstage; ++s) {
    m.wdca.istage = s;
    double b = -8.0;
    double c = 8.0;
    const double r = 0.0;
    const double re = 1.0e-6;
    const double ae = 1.0e-7;
    int iflag = 0;
    numeric::dfzero([&m](double x) { return eh(m, x); }, b, c, r, re, ae, iflag);
    // An exact zero is as good as convergence.
    if (iflag != numeric::kConverged && iflag != numeric::kExactZero) {
      write_dfzero_error(w, s);
      failed |= 1u << s;
    }
    m.wdcb.cut(s) = b;
  }
  return failed;
}

int run(std::istream& in, std::ostream& out, const RunOptions& options) {
  const float tstart = numeric::second();
  textio::Writer w(out, true);
  write_start_line(
      w, options.epoch ? numeric::local_date_time(*options.epoch) : numeric::date_and_time());

  RandomSources rs;
  seed_sources(rs, clock_seed(options.epoch ? *options.epoch : numeric::time()));

  auto problem = std::make_unique<Problem>();
  auto model = std::make_unique<Model>();
  Problem& p = *problem;
  const Model& deck = *model;
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
  model->wdca.kernel = options.kernel;
  write_findings(findings);

  // The draws stay in pass order on this thread; the passes are computed on
  // worker threads and written in pass order. In exact mode every pass draws
  // the same values: the pass is computed once and its records written again.
  const bool exact = p.smode == kExact;
  Schedule schedule;
  schedule.passes = p.nsamp;
  schedule.threads = exact ? 1 : std::max(1, options.threads);
  schedule.window = 4 * schedule.threads;
  std::vector<Pass> passes(static_cast<std::size_t>(schedule.window));
  auto slot_of = [&passes](int slot) -> Pass& { return passes[static_cast<std::size_t>(slot)]; };
  // Exact mode: the computed part of pass 1 (its records and its results).
  struct Computed {
    bool ready = false;
    std::string text;
    Model model;
    unsigned failed = 0;
  };
  auto first = std::make_unique<Computed>();

  auto prepare = [&](int k, int slot) {
    Pass& ps = slot_of(slot);
    ps.model = deck;
    ps.text.str("");
    ps.skipped = false;
    ps.failed = 0;
    textio::Writer pw(ps.text);
    draw_sample(p, ps.model, rs, pw, k);
    if (k == 1) {
      write_banner(pw);
      write_echo(pw, p, ps.model);
    } else if (exact && !options.summary_only) {
      write_exact_line(pw);
    }
  };
  auto compute = [&](int k, int slot) {
    Pass& ps = slot_of(slot);
    if (first->ready) {
      ps.text << first->text;
      ps.model = first->model;
      ps.failed = first->failed;
      return;
    }
    textio::Writer pw(ps.text);
    if (!sample_is_valid(ps.model)) {
      write_skipped(pw, k);
      ps.skipped = true;
      return;
    }
    const auto from = ps.text.view().size();
    ps.failed = solve_cutoffs(ps.model, pw);
    ef(ps.model, ps.model.wdcb.cut);
    if (!options.summary_only) write_pass_report(pw, p.smode, k, ps.model);
    if (exact) {
      first->text = ps.text.view().substr(from);
      first->model = ps.model;
      first->failed = ps.failed;
      first->ready = true;
    }
  };
  // The files beside the report; the first that failed decides the message
  // and the status (0 while all are sound).
  const std::array<const Output*, 4> files = {&options.csv, &options.inputs_csv,
                                              &options.summary_csv, &options.plot};
  auto sound = [&] {
    bool all = static_cast<bool>(out);
    for (const Output* f : files)
      all = all && (!*f || f->file->ok());
    return all;
  };
  auto failed_output = [&]() -> int {
    if (!out) return report_lost();
    for (const Output* f : files)
      if (*f && !f->file->ok()) return file_lost(*f);
    return 0;
  };
  // The CSV files are whole after every row: an interrupt puts them in place
  // as they stand, with the rows of the passes the report shows.
  if (options.csv) {
    std::ostringstream header;
    csv::write_results_header(header);
    options.csv.file->write(header.view());
    options.csv.file->keep_on_interrupt();
  }
  if (options.inputs_csv) {
    std::ostringstream header;
    csv::write_inputs_header(header, deck);
    options.inputs_csv.file->write(header.view());
    options.inputs_csv.file->keep_on_interrupt();
  }
  Progress progress(options.progress, p.nsamp);
  auto saved = std::make_unique<Saved>();
  std::array<int, kMaxStages + 1> not_found{};  // passes whose cutoff of stage s failed
  int searched = 0;                             // passes whose cutoffs were searched
  std::ostringstream results;
  std::ostringstream inputs;
  auto finish = [&](int k, int slot) {
    Pass& ps = slot_of(slot);
    results.str("");
    inputs.str("");
    if (options.inputs_csv) csv::write_inputs(inputs, k, !ps.skipped, ps.model);
    if (ps.skipped) {
      ++saved->not_counted;
    } else {
      ++searched;
      for (int s = 1; s <= kMaxStages; ++s)
        not_found[static_cast<std::size_t>(s)] += (ps.failed >> s) & 1u;
      save_pass(*saved, ps.model);
      if (options.csv) csv::write_results(results, k, ps.model);
    }
    // The pass's lines and rows go out together, whole, before a signal can end the run.
    with_signals_held([&] {
      const std::string_view text = ps.text.view();
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      out.flush();
      if (options.csv) options.csv.file->write(results.view());
      if (options.inputs_csv) options.inputs_csv.file->write(inputs.view());
    });
    progress.update(k);
    return sound();
  };
  const bool complete = run_in_order(schedule, prepare, compute, finish);
  progress.finish();
  if (!complete) return failed_output();
  const Summary summary = summarize(p.smode, *model, *saved);
  write_summary(w, *model, summary);
  write_cpu_time(w, numeric::second() - tstart);
  if (options.summary_csv) {
    std::ostringstream text;
    csv::write_summary(text, *model, summary);
    options.summary_csv.file->write(text.view());
  }
  if (options.plot)
    options.plot.file->write(exact && first->ready ? exact_figure(p, first->model)
                                                   : sampled_figure(p, deck, *saved));
  out.flush();
  for (const Output* f : files)
    if (*f) f->file->commit();
  if (const int status = failed_output(); status != 0) return status;
  for (int s = 1; s <= model->wdca.nstage; ++s)
    if (const int n = not_found[static_cast<std::size_t>(s)]; n > 0)
      std::fprintf(stderr, "selquant: the cutoff of stage %d was not found in %d of %d samples\n",
                   s, n, searched);
  if (saved->count == 0) {
    std::fprintf(stderr, "selquant: no sample could be computed\n");
    return kNoneCounted;
  }
  return 0;
}

}  // namespace selquant
