// The engine from Python: designs in and out (a design travels as the text of
// its design file, which the engine's own reader checks), a run into tables,
// and the search of the front. The computation runs without the GIL; between
// passes this thread takes it back to look for a signal (Ctrl-C).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/design.hpp"
#include "engine/pareto.hpp"
#include "engine/study.hpp"
#include "engine/wire.hpp"
#include "formats/deck.hpp"
#include "formats/design_file.hpp"
#include "formats/draws.hpp"
#include "formats/findings.hpp"
#include "formats/front.hpp"
#include "formats/page.hpp"
#include "formats/source.hpp"
#include "textio/shortest.hpp"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// An uncertain value as the design file writes it: a number, or
// {"low", "high"} / {"mean", "sd"}.
py::object uncertain_of(const selquant::Uncertain& u, int sampling) {
  if (sampling == selquant::kExact) return py::float_(textio::shortest_double(u.first));
  const bool range = sampling == selquant::kRectangular;
  py::dict d;
  d[range ? "low" : "mean"] = textio::shortest_double(u.first);
  d[range ? "high" : "sd"] = textio::shortest_double(u.second);
  return d;
}

// One value per name, by name.
template <class V, class F>
py::dict by_name(const std::vector<std::string>& names, const std::vector<V>& values, F&& f) {
  py::dict d;
  for (std::size_t i = 0; i < names.size(); ++i)
    d[py::str(names[i])] = f(values[i]);
  return d;
}

// A matrix row by row; a correlation matrix's diagonal is the number 1.
py::list matrix_of(const std::vector<std::vector<selquant::Uncertain>>& m, int sampling,
                   bool correlation) {
  py::list rows;
  for (std::size_t i = 0; i < m.size(); ++i) {
    py::list r;
    for (std::size_t j = 0; j < m[i].size(); ++j)
      r.append(correlation && i == j ? py::float_(1.0) : uncertain_of(m[i][j], sampling));
    rows.append(r);
  }
  return rows;
}

// A design as the dictionary of its design file, every value by name and
// every matrix in full.
py::dict dict_of(const selquant::Design& d) {
  const int s = d.sampling;
  auto plain = [](double v) { return py::float_(v); };
  auto uncertain = [s](const selquant::Uncertain& u) { return uncertain_of(u, s); };
  py::dict out;
  out["sampling"] = std::string(selquant::sampling_name(s));
  out["samples"] = d.samples;
  if (d.epoch) out["epoch"] = *d.epoch;
  out["predictors"] = d.predictors;
  out["criteria"] = d.criteria;
  out["criterion_weights"] = by_name(d.criteria, d.criterion_weights, plain);
  py::list stages;
  for (const selquant::Design::Stage& st : d.stages)
    stages.append(py::dict("retention"_a = st.retention,
                           "weights"_a = by_name(d.predictors, st.weights, plain)));
  out["stage"] = stages;
  py::list groups;
  for (const selquant::Design::Group& g : d.groups)
    groups.append(py::dict("name"_a = g.name,
                           "proportion"_a = g.uncertain_proportion
                                                ? uncertain_of(*g.uncertain_proportion, s)
                                                : py::object(py::float_(g.proportion)),
                           "criterion_d"_a = by_name(d.criteria, g.criterion_d, uncertain),
                           "predictor_d"_a = by_name(d.predictors, g.predictor_d, uncertain)));
  out["group"] = groups;
  out["correlations"] = py::dict("predictors"_a = matrix_of(d.predictor_r, s, true),
                                 "criteria"_a = matrix_of(d.criterion_r, s, true),
                                 "validities"_a = matrix_of(d.validities, s, false));
  if (!d.costs.empty()) out["costs"] = by_name(d.predictors, d.costs, plain);
  if (d.utility)
    out["utility"] = py::dict("applicants"_a = d.utility->applicants, "sdy"_a = d.utility->sdy);
  return out;
}

selquant::Design design_of_text(const std::string& text) {
  selquant::Design d;
  if (const std::string bad = selquant::read_design(text, "", d); !bad.empty())
    throw py::value_error(bad);
  return d;
}

// A table as a dictionary of columns: numpy arrays, or lists of text.
py::dict columns_of(const selquant::Table& t) {
  py::dict out;
  for (const selquant::Column& c : t.columns) {
    if (c.is_text)
      out[py::str(c.name)] = c.text;
    else
      out[py::str(c.name)] =
          py::array_t<double>(static_cast<py::ssize_t>(c.values.size()), c.values.data());
  }
  return out;
}

mvn::Kernel kernel_of(const std::string& name) {
  if (name == "fast") return mvn::Kernel::fast;
  if (name == "specified") return mvn::Kernel::specified;
  throw py::value_error("kernel must be \"fast\" or \"specified\", not \"" + name + "\"");
}

// A run's tables and counts, and its page's data.
py::dict study_dict(const selquant::Design& d, const selquant::Study& s, const std::string& page) {
  py::list not_found;
  for (std::size_t st = 1; st <= d.stages.size(); ++st)
    not_found.append(s.not_found[st]);
  return py::dict("results"_a = columns_of(s.results), "inputs"_a = columns_of(s.inputs),
                  "summary"_a = columns_of(s.summary), "counted"_a = s.counted,
                  "searched"_a = s.searched, "not_found"_a = not_found, "page"_a = page);
}

// Draws given as (name, values) columns, or none.
using Draws = std::optional<std::vector<
    std::pair<std::string, py::array_t<double, py::array::c_style | py::array::forcecast>>>>;

// The draws checked against the design; a fault is a ValueError that says
// where it is.
std::optional<selquant::Given> given_of(const selquant::Design& d, const Draws& draws,
                                        int first = 1) {
  if (!draws) return std::nullopt;
  selquant::GivenDraws g;
  for (const auto& [name, values] : *draws) {
    g.names.push_back(name);
    g.columns.emplace_back(values.data(), values.data() + values.size());
  }
  try {
    return selquant::given_table(d, std::move(g), first);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }
}

py::dict evaluate(const std::string& text, int threads, const std::string& kernel,
                  std::int64_t epoch, const Draws& draws) {
  const selquant::Design d = design_of_text(text);
  const std::optional<selquant::Given> given = given_of(d, draws);
  selquant::StudyOptions o;
  o.threads = threads;
  o.epoch = epoch;
  o.kernel = kernel_of(kernel);
  o.given = given ? &*given : nullptr;
  bool interrupted = false;
  const selquant::Watch watch = [&interrupted](int, int) {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) interrupted = true;
    return !interrupted;
  };
  std::string page;
  const selquant::Finish finish = [&](const selquant::Problem& p, const selquant::Model& m,
                                      const selquant::Evaluation& ev) {
    page = selquant::run_data(d, p, m, ev);
  };
  selquant::Study s;
  {
    py::gil_scoped_release nogil;
    s = selquant::study(d, o, watch, finish);
  }
  // The signal's exception (KeyboardInterrupt) is still set.
  if (interrupted) throw py::error_already_set();
  return study_dict(d, s, page);
}

// The passes first to last of a run, as bytes for evaluate_join (draws:
// the rows of these passes alone).
py::bytes evaluate_part(const std::string& text, int first, int last, int threads,
                        const std::string& kernel, std::int64_t epoch, const Draws& draws) {
  const selquant::Design d = design_of_text(text);
  const std::optional<selquant::Given> given = given_of(d, draws, first);
  selquant::StudyOptions o;
  o.given = given ? &*given : nullptr;
  o.threads = threads;
  o.epoch = epoch;
  o.kernel = kernel_of(kernel);
  o.first = first;
  o.last = last;
  std::string bytes;
  {
    py::gil_scoped_release nogil;
    bytes = selquant::wire::bytes_of(selquant::study(d, o));
  }
  return py::bytes(bytes);
}

// The whole run of its parts, in order: as evaluate gives it.
py::dict evaluate_join(const std::string& text, const std::vector<py::bytes>& parts,
                       const Draws& draws) {
  const selquant::Design d = design_of_text(text);
  const std::optional<selquant::Given> given = given_of(d, draws);
  std::vector<selquant::Study> studies;
  for (const py::bytes& b : parts)
    studies.push_back(selquant::wire::study_of(std::string_view(b)));
  std::string page;
  const selquant::Study s = selquant::join_studies(
      d, std::move(studies),
      [&](const selquant::Problem& p, const selquant::Model& m, const selquant::Evaluation& ev) {
        page = selquant::run_data(d, p, m, ev);
      },
      given ? &*given : nullptr);
  return study_dict(d, s, page);
}

// A design with its [pareto] table, and the search's options.
struct Search {
  selquant::Design d;
  selquant::ParetoPlan plan;
  selquant::SearchOptions options;
};

Search search_of(const std::string& text, int threads, const std::string& kernel,
                 std::int64_t epoch) {
  Search s{design_of_text(text), {}, {}};
  if (const std::string bad = selquant::read_pareto(text, "", s.d, s.plan); !bad.empty())
    throw py::value_error(bad);
  s.options.threads = threads;
  s.options.epoch = epoch;
  s.options.kernel = kernel_of(kernel);
  return s;
}

// Runs a piece of the search without the GIL; a plan that does not fit the
// design is a ValueError.
template <class F>
auto searching(F&& f) {
  std::string bad;
  decltype(f()) out{};
  {
    py::gil_scoped_release nogil;
    try {
      out = f();
    } catch (const std::invalid_argument& e) {
      bad = e.what();
    }
  }
  if (!bad.empty()) throw py::value_error("the front cannot be searched: " + bad);
  return out;
}

py::dict front_dict(const Search& s, const selquant::Front& front);

py::dict pareto(const std::string& text, int threads, const std::string& kernel,
                std::int64_t epoch) {
  const Search s = search_of(text, threads, kernel, epoch);
  return front_dict(s, searching([&] { return selquant::pareto(s.d, s.plan, s.options); }));
}

// The layouts of a search that go apart: its structures, or (0) its one.
std::size_t pareto_layouts(const std::string& text) {
  return search_of(text, 1, "fast", 0).plan.structures.size();
}

// One layout's search (structure s, or -1), as bytes for pareto_join.
py::bytes pareto_part(const std::string& text, int s, int threads, const std::string& kernel,
                      std::int64_t epoch) {
  const Search search = search_of(text, threads, kernel, epoch);
  return py::bytes(searching([&] {
    return selquant::wire::bytes_of(
        selquant::search_layout(search.d, search.plan, search.options, s));
  }));
}

// The front of the layouts' searches, in the order of the structures.
py::dict pareto_join(const std::string& text, const std::vector<py::bytes>& parts, int threads,
                     const std::string& kernel, std::int64_t epoch) {
  const Search s = search_of(text, threads, kernel, epoch);
  std::vector<selquant::LayoutSearch> found;
  for (const py::bytes& b : parts)
    found.push_back(selquant::wire::layout_search_of(std::string_view(b)));
  return front_dict(
      s, searching([&] { return selquant::join_found(s.d, s.plan, s.options, std::move(found)); }));
}

py::dict front_dict(const Search& s, const selquant::Front& front) {
  const selquant::Design& d = s.d;
  const selquant::ParetoPlan& plan = s.plan;
  std::string page;
  {
    py::gil_scoped_release nogil;
    page = selquant::front_data(d, plan, front, s.options.kernel);
  }
  py::object unmet = py::none();
  if (front.unmet) unmet = py::make_tuple(front.unmet->first, front.unmet->second);
  return py::dict("front"_a = columns_of(selquant::front_table(d, plan, front)),
                  "design"_a = front.design.objectives, "evaluations"_a = front.evaluations,
                  "unmet"_a = unmet, "page"_a = page);
}

}  // namespace

PYBIND11_MODULE(_selquant, m) {
  m.doc() = "The SELQUANT engine; use the selquant package.";
  m.def(
      "read_text", [](const std::string& text) { return dict_of(design_of_text(text)); },
      "The design of a design file's text made from a dictionary.");
  m.def(
      "read_file",
      [](const std::string& path) {
        selquant::Design d;
        std::vector<std::string> findings;
        if (const std::string bad = selquant::design_from_file(path, d, findings); !bad.empty())
          throw py::value_error(bad);
        return py::make_tuple(dict_of(d), findings);
      },
      "The design of a design file or a deck, and its findings.");
  m.def("design_file",
        [](const std::string& text) { return selquant::write_design(design_of_text(text)); });
  m.def("deck", [](const std::string& text) { return selquant::write_deck(design_of_text(text)); });
  m.def("findings",
        [](const std::string& text) { return selquant::design_findings(design_of_text(text)); });
  m.def("evaluate", &evaluate, "text"_a, "threads"_a, "kernel"_a, "epoch"_a,
        "draws"_a = py::none());
  m.def("pareto", &pareto, "text"_a, "threads"_a, "kernel"_a, "epoch"_a);
  m.def("evaluate_part", &evaluate_part, "text"_a, "first"_a, "last"_a, "threads"_a, "kernel"_a,
        "epoch"_a, "draws"_a = py::none());
  m.def("evaluate_join", &evaluate_join, "text"_a, "parts"_a, "draws"_a = py::none());
  m.def("pareto_layouts", &pareto_layouts, "text"_a);
  m.def("pareto_part", &pareto_part, "text"_a, "structure"_a, "threads"_a, "kernel"_a, "epoch"_a);
  m.def("pareto_join", &pareto_join, "text"_a, "parts"_a, "threads"_a, "kernel"_a, "epoch"_a);
  m.def(
      "page",
      [](const std::string& kind, const std::string& data, const std::string& command) {
        return selquant::page(kind == "front" ? selquant::PageKind::front : selquant::PageKind::run,
                              data, command);
      },
      "kind"_a, "data"_a, "command"_a, "The HTML page of a front's or a run's data.");
}
