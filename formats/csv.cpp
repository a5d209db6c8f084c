#include "formats/csv.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace selquant::csv {
namespace {

// The result columns, in the order of every row.
constexpr std::array<std::string_view, 9> kResultColumns = {
    "sample", "stage", "group", "cutoff", "passing", "quality", "cum_ai", "stage_ai", "quality_all",
};

// The summary columns.
constexpr std::array<std::string_view, 5> kSummaryColumns = {"stage", "group", "statistic",
                                                             "quality", "cum_ai"};

// The statistics of the summary beside the mean: the report's percentile points.
constexpr std::array<std::string_view, kPercentiles.size()> kPercentileNames = {
    "p1", "p5", "p10", "p25", "p50", "p75", "p90", "p95", "p99"};

template <std::size_t N>
void write_header(std::ostream& out, const std::array<std::string_view, N>& columns) {
  for (std::size_t i = 0; i < N; ++i)
    out << (i > 0 ? "," : "") << columns[i];
  out << '\n';
}

void write_row_end(std::ostream& out) {
  out << '\n';
}

// Calls f(name, value) for every drawn input of the model's shape, in column
// order: the one place that names and orders the input columns.
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

}  // namespace

std::string number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

void write_results_header(std::ostream& out) {
  write_header(out, kResultColumns);
}

void write_results(std::ostream& out, int k, const Model& m) {
  const Wdca& a = m.wdca;
  for (int s = 1; s <= a.nstage; ++s) {
    for (int g = 1; g <= a.ngroup; ++g) {
      out << k << ',' << s << ',' << g << ',' << number(m.wdcb.cut(s)) << ','
          << number(m.wdcf.ppass(g, s)) << ',' << number(m.wdcf.qgrp(g, s)) << ','
          << number(m.wdcc.aicum(s, g)) << ',' << number(m.wdcc.aistg(s, g)) << ','
          << number(m.wdcf.qall(s));
      write_row_end(out);
    }
  }
}

void write_inputs_header(std::ostream& out, const Model& m) {
  out << "sample,valid";
  for_each_input(m, [&out](const std::string& name, double) { out << ',' << name; });
  write_row_end(out);
}

void write_inputs(std::ostream& out, int k, bool valid, const Model& m) {
  out << k << ',' << (valid ? 1 : 0);
  for_each_input(m, [&out](const std::string&, double v) { out << ',' << number(v); });
  write_row_end(out);
}

}  // namespace selquant::csv

namespace selquant::csv {

void write_summary(std::ostream& out, const Model& m, const Summary& summary) {
  write_header(out, kSummaryColumns);
  if (summary.count == 0) return;
  const Wdca& a = m.wdca;
  // One row: group 0 stands for all selected, whose column is the quality.
  auto row = [&out](int s, int g, std::string_view statistic, double v) {
    out << s << ',';
    if (g > 0) out << g;
    out << ',' << statistic << ',';
    if (g == 0) out << number(v) << ',';
    if (g > 0) out << ',' << number(v);
    write_row_end(out);
  };
  for (int s = 1; s <= a.nstage; ++s) {
    const auto S = static_cast<std::size_t>(s - 1);
    for (int g = 0; g <= a.ngroup; ++g) {
      row(s, g, "mean", g == 0 ? summary.avq(s) : summary.avai(s, g));
      if (!summary.percentiles) continue;
      for (std::size_t j = 0; j < kPercentiles.size(); ++j)
        row(s, g, kPercentileNames[j],
            g == 0 ? summary.q[S][j] : summary.ai[S][static_cast<std::size_t>(g - 1)][j]);
    }
  }
}

}  // namespace selquant::csv
