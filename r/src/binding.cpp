// The engine from R: designs in and out (a design travels as the text of its
// design file, which the engine's own reader checks), a run into tables, and
// the search of the front. The engine's threads never touch R: the run's
// consumers are called on this thread, which checks for an interrupt and
// shows progress between passes.
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/design.hpp"
#include "engine/pareto.hpp"
#include "engine/study.hpp"
#include "engine/wire.hpp"
#include "formats/design_file.hpp"
#include "formats/draws.hpp"
#include "formats/findings.hpp"
#include "formats/front.hpp"
#include "formats/page.hpp"
#include "formats/source.hpp"
#include "textio/shortest.hpp"

// After the engine: R's headers define macros of common names.
#include <R_ext/Utils.h>

#include <cpp11.hpp>

using namespace cpp11::literals;
namespace writable = cpp11::writable;

namespace {

writable::strings strings_of(const std::vector<std::string>& v) {
  writable::strings s(static_cast<R_xlen_t>(v.size()));
  for (std::size_t i = 0; i < v.size(); ++i)
    s[static_cast<R_xlen_t>(i)] = v[i];
  return s;
}

writable::doubles doubles_of(const std::vector<double>& v) {
  return writable::doubles(v.begin(), v.end());
}

// The two rows of uncertain values (first and second) as one list of
// two numeric vectors.
SEXP pair_of(const std::vector<selquant::Uncertain>& u) {
  writable::doubles first, second;
  for (const selquant::Uncertain& x : u) {
    first.push_back(textio::shortest_double(x.first));
    second.push_back(textio::shortest_double(x.second));
  }
  return writable::list({"first"_nm = first, "second"_nm = second});
}

// A matrix of uncertain values, rows by rows, as two numeric matrices
// (column-major, as R holds them).
SEXP matrix_pair_of(const std::vector<std::vector<selquant::Uncertain>>& m, std::size_t cols) {
  const std::size_t rows = m.size();
  writable::doubles_matrix<> first(static_cast<int>(rows), static_cast<int>(cols));
  writable::doubles_matrix<> second(static_cast<int>(rows), static_cast<int>(cols));
  for (std::size_t i = 0; i < rows; ++i)
    for (std::size_t j = 0; j < cols; ++j) {
      first(static_cast<int>(i), static_cast<int>(j)) = textio::shortest_double(m[i][j].first);
      second(static_cast<int>(i), static_cast<int>(j)) = textio::shortest_double(m[i][j].second);
    }
  return writable::list({"first"_nm = first, "second"_nm = second});
}

// A design as plain R values, which the package's R code dresses.
SEXP r_design(const selquant::Design& d) {
  writable::doubles retention;
  writable::doubles_matrix<> weights(static_cast<int>(d.stages.size()),
                                     static_cast<int>(d.predictors.size()));
  for (std::size_t s = 0; s < d.stages.size(); ++s) {
    retention.push_back(d.stages[s].retention);
    for (std::size_t j = 0; j < d.predictors.size(); ++j)
      weights(static_cast<int>(s), static_cast<int>(j)) = d.stages[s].weights[j];
  }
  writable::list groups;
  for (const selquant::Design::Group& g : d.groups)
    groups.push_back(writable::list(
        {"name"_nm = g.name, "proportion"_nm = g.proportion,
         "proportion_range"_nm = g.uncertain_proportion ? pair_of({*g.uncertain_proportion})
                                                        : static_cast<SEXP>(R_NilValue),
         "criterion_d"_nm = pair_of(g.criterion_d), "predictor_d"_nm = pair_of(g.predictor_d)}));
  SEXP epoch = d.epoch ? cpp11::as_sexp(static_cast<double>(*d.epoch)) : R_NilValue;
  SEXP utility = R_NilValue;
  if (d.utility)
    utility = writable::list({"applicants"_nm = d.utility->applicants, "sdy"_nm = d.utility->sdy});
  return writable::list({
      "sampling"_nm = std::string(selquant::sampling_name(d.sampling)),
      "samples"_nm = d.samples,
      "epoch"_nm = epoch,
      "predictors"_nm = strings_of(d.predictors),
      "criteria"_nm = strings_of(d.criteria),
      "criterion_weights"_nm = doubles_of(d.criterion_weights),
      "retention"_nm = retention,
      "weights"_nm = weights,
      "groups"_nm = groups,
      "criterion_r"_nm = matrix_pair_of(d.criterion_r, d.criteria.size()),
      "predictor_r"_nm = matrix_pair_of(d.predictor_r, d.predictors.size()),
      "validities"_nm = matrix_pair_of(d.validities, d.predictors.size()),
      "costs"_nm = doubles_of(d.costs),
      "utility"_nm = utility,
  });
}

// The design of a design file's text made from the user's values.
selquant::Design design_of_text(const std::string& text) {
  selquant::Design d;
  if (const std::string bad = selquant::read_design(text, "", d); !bad.empty())
    cpp11::stop("%s", bad.c_str());
  return d;
}

SEXP r_table(const selquant::Table& t) {
  writable::list out;
  for (const selquant::Column& c : t.columns) {
    if (c.is_text)
      out.push_back(cpp11::named_arg(c.name.c_str()) = strings_of(c.text));
    else
      out.push_back(cpp11::named_arg(c.name.c_str()) = doubles_of(c.values));
  }
  return out;
}

mvn::Kernel kernel_of(const std::string& name) {
  return name == "specified" ? mvn::Kernel::specified : mvn::Kernel::fast;
}

// R_ToplevelExec runs these in a context of their own: an interrupt or an
// error inside ends them there and comes back as FALSE, never as a jump
// through the engine's frames.
void check_interrupt(void*) {
  R_CheckUserInterrupt();
}

struct Progress {
  SEXP callback;
  int done;
  int total;
};

void call_progress(void* data) {
  const auto* p = static_cast<const Progress*>(data);
  SEXP done = PROTECT(Rf_ScalarInteger(p->done));
  SEXP total = PROTECT(Rf_ScalarInteger(p->total));
  SEXP call = PROTECT(Rf_lang3(p->callback, done, total));
  Rf_eval(call, R_GlobalEnv);
  UNPROTECT(3);
}

}  // namespace

[[cpp11::register]] SEXP design_from_text_(std::string text) {
  return r_design(design_of_text(text));
}

[[cpp11::register]] SEXP design_from_file_(std::string path) {
  selquant::Design d;
  std::vector<std::string> findings;
  if (const std::string bad = selquant::design_from_file(path, d, findings); !bad.empty())
    cpp11::stop("%s", bad.c_str());
  return writable::list({"design"_nm = r_design(d), "findings"_nm = strings_of(findings)});
}

[[cpp11::register]] std::string design_file_(std::string text) {
  return selquant::write_design(design_of_text(text));
}

[[cpp11::register]] std::string design_deck_(std::string text) {
  return selquant::write_deck(design_of_text(text));
}

[[cpp11::register]] cpp11::strings findings_(std::string text) {
  return strings_of(selquant::design_findings(design_of_text(text)));
}

// A run's tables and counts, and its page's data.
SEXP study_list(const selquant::Design& d, const selquant::Study& s, const std::string& page) {
  writable::integers not_found;
  for (std::size_t st = 1; st <= d.stages.size(); ++st)
    not_found.push_back(s.not_found[st]);
  return writable::list({"results"_nm = r_table(s.results), "inputs"_nm = r_table(s.inputs),
                         "summary"_nm = r_table(s.summary), "counted"_nm = s.counted,
                         "searched"_nm = s.searched, "not_found"_nm = not_found, "page"_nm = page});
}

// Draws given as a named list of numeric columns (or NULL), checked against
// the design; a fault is an error that says where it is.
std::optional<selquant::Given> given_of(const selquant::Design& d, SEXP draws, int first = 1) {
  if (draws == R_NilValue) return std::nullopt;
  const cpp11::list columns(draws);
  const cpp11::strings names(columns.names());
  selquant::GivenDraws g;
  for (R_xlen_t i = 0; i < columns.size(); ++i) {
    g.names.push_back(std::string(names[i]));
    const cpp11::doubles v(columns[i]);
    g.columns.emplace_back(v.begin(), v.end());
  }
  try {
    return selquant::given_table(d, std::move(g), first);
  } catch (const std::invalid_argument& e) {
    cpp11::stop("%s", e.what());
  }
}

[[cpp11::register]] SEXP evaluate_(std::string text, int threads, std::string kernel, double epoch,
                                   SEXP progress, SEXP draws) {
  const selquant::Design d = design_of_text(text);
  const std::optional<selquant::Given> given = given_of(d, draws);
  selquant::StudyOptions o;
  o.given = given ? &*given : nullptr;
  o.threads = threads;
  o.epoch = static_cast<std::int64_t>(epoch);
  o.kernel = kernel_of(kernel);
  bool interrupted = false;
  const selquant::Watch watch = [&](int done, int total) {
    if (!R_ToplevelExec(check_interrupt, nullptr)) {
      interrupted = true;
      return false;
    }
    if (progress != R_NilValue) {
      Progress p{progress, done, total};
      if (!R_ToplevelExec(call_progress, &p)) {
        interrupted = true;
        return false;
      }
    }
    return true;
  };
  std::string page;
  const selquant::Finish finish = [&](const selquant::Problem& p, const selquant::Model& m,
                                      const selquant::Evaluation& ev) {
    page = selquant::run_data(d, p, m, ev);
  };
  const selquant::Study s = selquant::study(d, o, watch, finish);
  // R signals the interrupt, as an interrupt condition.
  if (interrupted)
    return writable::list({"interrupted"_nm = true, "done"_nm = static_cast<int>(s.inputs.rows())});
  return study_list(d, s, page);
}

writable::raws raws_of(const std::string& bytes) {
  writable::raws out(static_cast<R_xlen_t>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), RAW(out));
  return out;
}

std::string bytes_of(SEXP raw) {
  if (TYPEOF(raw) != RAWSXP) cpp11::stop("a piece is a raw vector");
  return std::string(reinterpret_cast<const char*>(RAW(raw)),
                     static_cast<std::size_t>(XLENGTH(raw)));
}

// The passes first to last of a run, as bytes for evaluate_join_() (draws:
// the rows of these passes alone).
[[cpp11::register]] cpp11::raws evaluate_part_(std::string text, int first, int last, int threads,
                                               std::string kernel, double epoch, SEXP draws) {
  const selquant::Design d = design_of_text(text);
  const std::optional<selquant::Given> given = given_of(d, draws, first);
  selquant::StudyOptions o;
  o.given = given ? &*given : nullptr;
  o.threads = threads;
  o.epoch = static_cast<std::int64_t>(epoch);
  o.kernel = kernel_of(kernel);
  o.first = first;
  o.last = last;
  return raws_of(selquant::wire::bytes_of(selquant::study(d, o)));
}

// The whole run of its parts, in order: as evaluate_() gives it.
[[cpp11::register]] SEXP evaluate_join_(std::string text, cpp11::list parts, SEXP draws) {
  const selquant::Design d = design_of_text(text);
  const std::optional<selquant::Given> given = given_of(d, draws);
  std::vector<selquant::Study> studies;
  try {
    for (R_xlen_t i = 0; i < parts.size(); ++i)
      studies.push_back(selquant::wire::study_of(bytes_of(parts[i])));
  } catch (const std::invalid_argument& e) {
    cpp11::stop("%s", e.what());
  }
  std::string page;
  const selquant::Study s = selquant::join_studies(
      d, std::move(studies),
      [&](const selquant::Problem& p, const selquant::Model& m, const selquant::Evaluation& ev) {
        page = selquant::run_data(d, p, m, ev);
      },
      given ? &*given : nullptr);
  return study_list(d, s, page);
}

// A design with its [pareto] table, and the search's options.
struct Search {
  selquant::Design d;
  selquant::ParetoPlan plan;
  selquant::SearchOptions options;
};

Search search_of(const std::string& text, int threads, const std::string& kernel, double epoch) {
  Search s{design_of_text(text), {}, {}};
  if (const std::string bad = selquant::read_pareto(text, "", s.d, s.plan); !bad.empty())
    cpp11::stop("%s", bad.c_str());
  s.options.threads = threads;
  s.options.epoch = static_cast<std::int64_t>(epoch);
  s.options.kernel = kernel_of(kernel);
  return s;
}

// A piece of the search; a plan that does not fit the design stops.
template <class F>
auto searching(F&& f) {
  try {
    return f();
  } catch (const std::invalid_argument& e) {
    cpp11::stop("the front cannot be searched: %s", e.what());
  }
}

SEXP front_list(const Search& s, const selquant::Front& front);

[[cpp11::register]] SEXP pareto_(std::string text, int threads, std::string kernel, double epoch) {
  const Search s = search_of(text, threads, kernel, epoch);
  return front_list(s, searching([&] { return selquant::pareto(s.d, s.plan, s.options); }));
}

// The layouts of a search that go apart: its structures, or (0) its one.
[[cpp11::register]] int pareto_layouts_(std::string text) {
  return static_cast<int>(search_of(text, 1, "fast", 0).plan.structures.size());
}

// One layout's search (structure s, 0-based, or -1), as bytes for pareto_join_().
[[cpp11::register]] cpp11::raws pareto_part_(std::string text, int s, int threads,
                                             std::string kernel, double epoch) {
  const Search search = search_of(text, threads, kernel, epoch);
  return raws_of(searching([&] {
    return selquant::wire::bytes_of(
        selquant::search_layout(search.d, search.plan, search.options, s));
  }));
}

// The front of the layouts' searches, in the order of the structures.
[[cpp11::register]] SEXP pareto_join_(std::string text, cpp11::list parts, int threads,
                                      std::string kernel, double epoch) {
  const Search s = search_of(text, threads, kernel, epoch);
  std::vector<selquant::LayoutSearch> found;
  for (R_xlen_t i = 0; i < parts.size(); ++i)
    found.push_back(
        searching([&] { return selquant::wire::layout_search_of(bytes_of(parts[i])); }));
  return front_list(
      s, searching([&] { return selquant::join_found(s.d, s.plan, s.options, std::move(found)); }));
}

SEXP front_list(const Search& s, const selquant::Front& front) {
  const selquant::Design& d = s.d;
  const selquant::ParetoPlan& plan = s.plan;
  const selquant::SearchOptions& o = s.options;
  std::vector<double> design_weights;
  for (const auto& stage : front.design.weights)
    design_weights.insert(design_weights.end(), stage.begin(), stage.end());
  SEXP unmet = R_NilValue;
  if (front.unmet)
    unmet =
        writable::list({"constraint"_nm = front.unmet->first, "value"_nm = front.unmet->second});
  return writable::list({"front"_nm = r_table(selquant::front_table(d, plan, front)),
                         "design"_nm = doubles_of(front.design.objectives),
                         "design_weights"_nm = doubles_of(design_weights),
                         "evaluations"_nm = static_cast<double>(front.evaluations),
                         "unmet"_nm = unmet,
                         "page"_nm = selquant::front_data(d, plan, front, o.kernel)});
}

// The HTML page of a front's or a run's data.
[[cpp11::register]] std::string page_(std::string kind, std::string data, std::string command) {
  return selquant::page(kind == "front" ? selquant::PageKind::front : selquant::PageKind::run, data,
                        command);
}

// Decimal text to double by correct rounding (R's own reader is not always).
[[cpp11::register]] cpp11::doubles parse_doubles_(cpp11::strings text) {
  writable::doubles out(text.size());
  for (R_xlen_t i = 0; i < text.size(); ++i) {
    const std::string s = text[i];
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    out[i] = s.empty() || *end != '\0' ? NA_REAL : v;
  }
  return out;
}
