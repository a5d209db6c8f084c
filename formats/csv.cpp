#include "formats/csv.hpp"

#include <cmath>
#include <cstdio>

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

void write_results_header(std::ostream& out) {
  write_header(out, kResultColumns);
}

void write_results(std::ostream& out, int k, const Model& m) {
  for (const ResultRow& row : result_rows(k, m))
    write_row(out, row);
}

void write_inputs_header(std::ostream& out, const Model& m) {
  write_header(out, input_columns(m));
}

void write_inputs(std::ostream& out, int k, bool valid, const Model& m) {
  write_row(out, input_row(k, valid, m));
}

void write_summary(std::ostream& out, const Model& m, const Summary& summary) {
  write_header(out, kSummaryColumns);
  // What does not apply to a row (the group of all selected, the quality of a
  // group, the Cum. AI of all selected) is left empty.
  auto field = [](double v) { return std::isnan(v) ? std::string() : number(v); };
  for (const SummaryRow& r : summary_rows(m, summary))
    out << r.stage << ',' << (r.group > 0 ? std::to_string(r.group) : "") << ',' << r.statistic
        << ',' << field(r.quality) << ',' << field(r.cum_ai) << '\n';
}

}  // namespace selquant::csv
