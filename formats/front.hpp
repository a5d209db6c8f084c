// A Pareto front as the user sees it: a table (the one place naming its
// columns), its text on standard output and its CSV file. The figure is in
// figure.hpp.
#pragma once

#include <ostream>
#include <string>

#include "engine/pareto.hpp"
#include "engine/tables.hpp"

namespace selquant {

// point, the structure where several are searched ("CA+B|SI": the
// predictors entering at each stage, "-" for none), the objectives (quality, ai_GROUP), for a
// design with uncertain inputs their bands (quality_mean, quality_p5, quality_p95, ...), then the
// weight of every stage S and predictor P (wS_P, 0 where not free).
Table front_table(const Design& d, const ParetoPlan& plan, const Front& front);
// A column's name for an objective: quality, ai_GROUP.
std::string objective_column(const Objective& o, const Design& d);
// The same without its statistic: "ai_minority".
std::string measure_column(const Objective& o, const Design& d);

// A structure as its column shows it.
std::string structure_text(const Structure& s, const Design& d);

// The table as aligned text, a heading line and a row per point.
void write_front(std::ostream& out, const Table& table);
// The table as CSV.
void write_front_csv(std::ostream& out, const Table& table);

}  // namespace selquant
