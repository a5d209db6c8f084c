#include "formats/front.hpp"

#include <algorithm>
#include <cstdio>

#include "formats/csv.hpp"

namespace selquant {

std::string objective_column(const Objective& o, const Design& d) {
  const std::size_t at = o.name.find('@');
  return measure_column(o, d) + (at == std::string::npos ? "" : o.name.substr(at));
}

std::string measure_column(const Objective& o, const Design& d) {
  switch (o.measure) {
    case Objective::Measure::quality:
      return "quality";
    case Objective::Measure::cost:
      return "cost";
    case Objective::Measure::utility:
      return "utility";
    default:
      return "ai_" + d.groups[static_cast<std::size_t>(o.group - 1)].name;
  }
}

std::string structure_text(const Structure& s, const Design& d) {
  std::string text;
  for (std::size_t g = 0; g < s.size(); ++g) {
    text += g > 0 ? "|" : "";
    for (std::size_t j = 0; j < s[g].size(); ++j)
      text += (j > 0 ? "+" : "") + d.predictors[static_cast<std::size_t>(s[g][j] - 1)];
    if (s[g].empty()) text += "-";
  }
  return text;
}

Table front_table(const Design& d, const ParetoPlan& plan, const Front& front) {
  Table t;
  auto column = [&t](std::string name) -> Column& {
    t.columns.push_back(Column{std::move(name), {}, {}, false});
    return t.columns.back();
  };
  Column& point = column("point");
  for (std::size_t i = 0; i < front.points.size(); ++i)
    point.values.push_back(static_cast<double>(i + 1));
  if (!plan.structures.empty()) {
    Column& c = column("structure");
    c.is_text = true;
    for (const FrontPoint& p : front.points)
      c.text.push_back(structure_text(plan.structures[static_cast<std::size_t>(p.structure)], d));
  }
  for (std::size_t o = 0; o < plan.objectives.size(); ++o) {
    Column& c = column(objective_column(plan.objectives[o], d));
    for (const FrontPoint& p : front.points)
      c.values.push_back(p.objectives[o]);
  }
  if (front.bands) {
    for (std::size_t o = 0; o < plan.objectives.size(); ++o) {
      const std::string name = objective_column(plan.objectives[o], d);
      for (auto [suffix, of] :
           {std::pair{"_mean", &FrontPoint::mean}, std::pair{"_p5", &FrontPoint::p5},
            std::pair{"_p95", &FrontPoint::p95}}) {
        Column& c = column(name + suffix);
        for (const FrontPoint& p : front.points)
          c.values.push_back((p.*of)[o]);
      }
    }
  }
  // Whether a column of that name is there.
  auto shown = [&](const std::string& name) {
    return std::any_of(t.columns.begin(), t.columns.end(),
                       [&](const Column& col) { return col.name == name; });
  };
  // The measures of the constraints that no column shows yet.
  for (std::size_t c = 0; c < plan.constraints.size(); ++c) {
    const std::string name = objective_column(plan.constraints[c].measure, d);
    if (shown(name)) continue;
    Column& col = column(name);
    for (const FrontPoint& p : front.points)
      col.values.push_back(p.constrained[c]);
  }
  if (plan.searches_retention())
    for (std::size_t s = 0; s < d.stages.size(); ++s) {
      Column& c = column("r" + std::to_string(s + 1));
      for (const FrontPoint& p : front.points)
        c.values.push_back(p.retention[s]);
    }
  // The cost and utility of every point, where the design has them and no
  // column shows them yet.
  if (!d.costs.empty() && !shown("cost")) {
    Column& c = column("cost");
    for (const FrontPoint& p : front.points)
      c.values.push_back(p.cost);
  }
  if (d.utility && !shown("utility")) {
    Column& c = column("utility");
    for (const FrontPoint& p : front.points)
      c.values.push_back(p.utility);
  }
  for (std::size_t s = 0; s < d.stages.size(); ++s)
    for (std::size_t j = 0; j < d.predictors.size(); ++j) {
      Column& c = column("w" + std::to_string(s + 1) + "_" + d.predictors[j]);
      for (const FrontPoint& p : front.points)
        c.values.push_back(p.weights[s][j]);
    }
  return t;
}

void write_front(std::ostream& out, const Table& table) {
  // Each column as wide as its name and its widest value, at least ten
  // characters; four decimals; text to the left.
  std::vector<std::size_t> width;
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    std::size_t w = std::max<std::size_t>(10, table.columns[c].name.size());
    for (const std::string& v : table.columns[c].text)
      w = std::max(w, v.size());
    for (double v : table.columns[c].values) {
      char buf[64];
      w = std::max<std::size_t>(
          w, static_cast<std::size_t>(std::snprintf(buf, sizeof buf, c == 0 ? "%.0f" : "%.4f", v)));
    }
    width.push_back(w);
  }
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    const Column& col = table.columns[c];
    const std::string pad(width[c] - col.name.size(), ' ');
    out << (c > 0 ? " " : "") << (col.is_text ? col.name + pad : pad + col.name);
  }
  out << '\n';
  for (std::size_t r = 0; r < table.rows(); ++r) {
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      if (table.columns[c].is_text) {
        const std::string& v = table.columns[c].text[r];
        out << (c > 0 ? " " : "") << v << std::string(width[c] - v.size(), ' ');
        continue;
      }
      char buf[64];
      const double v = table.columns[c].values[r];
      std::snprintf(buf, sizeof buf, c == 0 ? "%*.0f" : "%*.4f", static_cast<int>(width[c]), v);
      out << (c > 0 ? " " : "") << buf;
    }
    out << '\n';
  }
}

void write_front_csv(std::ostream& out, const Table& table) {
  for (std::size_t c = 0; c < table.columns.size(); ++c)
    out << (c > 0 ? "," : "") << table.columns[c].name;
  out << '\n';
  for (std::size_t r = 0; r < table.rows(); ++r) {
    for (std::size_t c = 0; c < table.columns.size(); ++c)
      out << (c > 0 ? "," : "")
          << (table.columns[c].is_text ? csv::text(table.columns[c].text[r])
                                       : csv::number(table.columns[c].values[r]));
    out << '\n';
  }
}

}  // namespace selquant
