#include "formats/csv.hpp"

#include <cmath>
#include <cstdio>
#include <span>

#include "engine/tables.hpp"

namespace selquant::csv {
namespace {

template <class Names>
void write_header(std::ostream& out, const Names& columns) {
  bool first = true;
  for (const auto& name : columns) {
    out << (first ? "" : ",") << name;
    first = false;
  }
  out << '\n';
}

template <class Row>
void write_row(std::ostream& out, const Row& row) {
  bool first = true;
  for (double v : row) {
    out << (first ? "" : ",") << number(v);
    first = false;
  }
  out << '\n';
}

}  // namespace

std::string number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::string text(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string quoted = "\"";
  for (char c : v)
    quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

void write_results_header(std::ostream& out, double applicants) {
  write_header(out, result_columns(applicants));
}

void write_results(std::ostream& out, int k, const Model& m, double applicants) {
  const std::size_t columns = result_columns(applicants).size();
  for (const ResultRow& row : result_rows(k, m, applicants))
    write_row(out, std::span(row.data(), columns));
}

void write_inputs_header(std::ostream& out, const Model& m) {
  write_header(out, input_columns(m));
}

void write_inputs(std::ostream& out, int k, bool valid, const Model& m) {
  write_row(out, input_row(k, valid, m));
}

void write_summary(std::ostream& out, const Model& m, const Summary& summary) {
  write_header(out, kSummaryColumns);
  // What does not apply to a row (the group of all selected, their AI) and
  // what there is none of (a group's quality where none passed) is empty.
  auto field = [](double v) { return std::isnan(v) ? std::string() : number(v); };
  for (const SummaryRow& r : summary_rows(m, summary))
    out << r.stage << ',' << (r.group > 0 ? std::to_string(r.group) : "") << ',' << r.statistic
        << ',' << field(r.quality) << ',' << field(r.cum_ai) << ',' << field(r.stage_ai) << '\n';
}

}  // namespace selquant::csv
