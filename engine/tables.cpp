#include "engine/tables.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace selquant {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Calls f(name, value) for every drawn input of the model's shape, in column
// order.
template <class F>
void for_each_input(const Model& m, F&& f) {
  const Wdca& a = m.wdca;
  const Wdcd& d = m.wdcd;
  auto name = [](std::string_view base, int i, int j = 0) {
    std::string s(base);
    s += '_' + std::to_string(i);
    if (j > 0) s += '_' + std::to_string(j);
    return s;
  };
  for (int g = 1; g <= a.ngroup; ++g)
    f(name("prop", g), a.prop(g));
  for (int g = 1; g <= a.ngroup; ++g)
    for (int c = 1; c <= a.ncrit; ++c)
      f(name("dc", g, c), a.dc(g, c));
  for (int g = 1; g <= a.ngroup; ++g)
    for (int p = 1; p <= a.npred; ++p)
      f(name("dp", g, p), d.dp(g, p));
  for (int i = 1; i <= a.ncrit; ++i)
    for (int j = i + 1; j <= a.ncrit; ++j)
      f(name("rcc", i, j), a.rcc(i, j));
  for (int i = 1; i <= a.npred; ++i)
    for (int j = i + 1; j <= a.npred; ++j)
      f(name("rpp", i, j), d.rpp(i, j));
  for (int c = 1; c <= a.ncrit; ++c)
    for (int p = 1; p <= a.npred; ++p)
      f(name("val", c, p), d.val(c, p));
}

Table table_of(const std::vector<std::string>& names) {
  Table t;
  for (const std::string& n : names)
    t.columns.push_back(Column{n, {}, {}, false});
  return t;
}

template <class Names>
Table table_of(const Names& names) {
  return table_of(std::vector<std::string>(names.begin(), names.end()));
}

template <class Row>
void append(Table& t, const Row& row) {
  for (std::size_t i = 0; i < t.columns.size(); ++i)
    t.columns[i].values.push_back(row[i]);
}

}  // namespace

std::size_t Table::rows() const {
  if (columns.empty()) return 0;
  return columns[0].is_text ? columns[0].text.size() : columns[0].values.size();
}

const Column& Table::operator[](std::string_view name) const {
  for (const Column& c : columns)
    if (c.name == name) return c;
  throw std::out_of_range("no column " + std::string(name));
}

std::span<const std::string_view> result_columns(double applicants) {
  return {kResultColumns.begin(), kResultColumns.size() - (applicants > 0 ? 0 : 1)};
}

std::vector<ResultRow> result_rows(int k, const Model& m, double applicants) {
  const Wdca& a = m.wdca;
  std::vector<ResultRow> rows;
  for (int s = 1; s <= a.nstage; ++s) {
    // The pool's share passing stage s: the groups' shares of the pool times
    // their passing rates.
    double passing = 0;
    for (int g = 1; g <= a.ngroup; ++g)
      passing += a.prop(g) * m.wdcf.ppass(g, s);
    for (int g = 1; g <= a.ngroup; ++g) {
      const double through = a.prop(g) * m.wdcf.ppass(g, s);
      rows.push_back({static_cast<double>(k), static_cast<double>(s), static_cast<double>(g),
                      m.wdcb.cut(s), m.wdcf.ppass(g, s), m.wdcf.qgrp(g, s), m.wdcc.aicum(s, g),
                      m.wdcc.aistg(s, g), m.wdcf.qall(s), passing > 0 ? through / passing : kNaN,
                      applicants > 0 ? applicants * through : kNaN});
    }
  }
  return rows;
}

std::vector<std::string> input_columns(const Model& m) {
  std::vector<std::string> names = {"sample", "valid"};
  for_each_input(m, [&names](std::string name, double) { names.push_back(std::move(name)); });
  return names;
}

std::vector<double> input_row(int k, bool valid, const Model& m) {
  std::vector<double> row = {static_cast<double>(k), valid ? 1.0 : 0.0};
  for_each_input(m, [&row](const std::string&, double v) { row.push_back(v); });
  return row;
}

std::vector<SummaryRow> summary_rows(const Model& m, const Summary& summary) {
  std::vector<SummaryRow> rows;
  if (summary.count == 0) return rows;
  const Wdca& a = m.wdca;
  for (int s = 1; s <= a.nstage; ++s) {
    const auto S = static_cast<std::size_t>(s - 1);
    for (int g = 0; g <= a.ngroup; ++g) {
      const auto G = static_cast<std::size_t>(std::max(g - 1, 0));
      if (g == 0) {
        rows.push_back({s, g, "mean", summary.avq(s), kNaN, kNaN});
      } else {
        rows.push_back({s, g, "mean", summary.avqg(s, g), summary.avai(s, g), summary.avst(s, g)});
      }
      if (!summary.percentiles) continue;
      for (std::size_t j = 0; j < kPercentiles.size(); ++j) {
        if (g == 0) {
          rows.push_back({s, g, kPercentileNames[j], summary.q[S][j], kNaN, kNaN});
        } else {
          rows.push_back({s, g, kPercentileNames[j], summary.qg[S][G][j], summary.ai[S][G][j],
                          summary.st[S][G][j]});
        }
      }
    }
  }
  return rows;
}

Collector::Collector(const Model& deck, double applicants)
    : shape_(deck),
      applicants_(applicants),
      results_(table_of(result_columns(applicants))),
      inputs_(table_of(input_columns(deck))) {}

namespace {
Model shape_of(const Design& d) {
  Problem p;
  Model m;
  problem_of(d, p, m);
  return m;
}
}  // namespace

Collector::Collector(const Design& d)
    : Collector(shape_of(d), d.utility ? d.utility->applicants : 0) {}

bool Collector::pass(const PassResult& r) {
  append(inputs_, input_row(r.k, !r.skipped, *r.model));
  if (!r.skipped)
    for (const ResultRow& row : result_rows(r.k, *r.model, applicants_))
      append(results_, row);
  return true;
}

Table Collector::summary_table(const Model& m, const Summary& summary) {
  Table t = table_of(kSummaryColumns);
  Column& statistic = t.columns[2];
  statistic.is_text = true;
  for (const SummaryRow& r : summary_rows(m, summary)) {
    t.columns[0].values.push_back(r.stage);
    t.columns[1].values.push_back(r.group);
    statistic.text.emplace_back(r.statistic);
    t.columns[3].values.push_back(r.quality);
    t.columns[4].values.push_back(r.cum_ai);
    t.columns[5].values.push_back(r.stage_ai);
  }
  return t;
}

}  // namespace selquant
