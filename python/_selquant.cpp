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
#include "formats/deck.hpp"
#include "formats/design_file.hpp"
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
    groups.append(py::dict("name"_a = g.name, "proportion"_a = g.proportion,
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

py::dict evaluate(const std::string& text, int threads, const std::string& kernel,
                  std::int64_t epoch) {
  const selquant::Design d = design_of_text(text);
  selquant::StudyOptions o;
  o.threads = threads;
  o.epoch = epoch;
  o.kernel = kernel_of(kernel);
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
  py::list not_found;
  for (std::size_t st = 1; st <= d.stages.size(); ++st)
    not_found.append(s.not_found[st]);
  return py::dict("results"_a = columns_of(s.results), "inputs"_a = columns_of(s.inputs),
                  "summary"_a = columns_of(s.summary), "counted"_a = s.counted,
                  "searched"_a = s.searched, "not_found"_a = not_found, "page"_a = page);
}

py::dict pareto(const std::string& text, int threads, const std::string& kernel,
                std::int64_t epoch) {
  const selquant::Design d = design_of_text(text);
  selquant::ParetoPlan plan;
  if (const std::string bad = selquant::read_pareto(text, "", d, plan); !bad.empty())
    throw py::value_error(bad);
  selquant::SearchOptions o;
  o.threads = threads;
  o.epoch = epoch;
  o.kernel = kernel_of(kernel);
  selquant::Front front;
  std::string bad, page;
  {
    py::gil_scoped_release nogil;
    try {
      front = selquant::pareto(d, plan, o);
      page = selquant::front_data(d, plan, front, o.kernel);
    } catch (const std::invalid_argument& e) {
      bad = e.what();
    }
  }
  if (!bad.empty()) throw py::value_error("the front cannot be searched: " + bad);
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
  m.def("evaluate", &evaluate, "text"_a, "threads"_a, "kernel"_a, "epoch"_a);
  m.def("pareto", &pareto, "text"_a, "threads"_a, "kernel"_a, "epoch"_a);
  m.def(
      "page",
      [](const std::string& kind, const std::string& data, const std::string& command) {
        return selquant::page(kind == "front" ? selquant::PageKind::front : selquant::PageKind::run,
                              data, command);
      },
      "kind"_a, "data"_a, "command"_a, "The HTML page of a front's or a run's data.");
}
