// Machine-readable results: one row per computed pass, stage and group, and
// one row of drawn inputs per pass. Numbers round-trip (17 significant
// digits); values that are not finite are written NaN, Inf and -Inf.
#pragma once

#include <ostream>
#include <string>

#include "engine/blocks.hpp"
#include "engine/summary.hpp"

namespace selquant::csv {

// A number as it goes into a CSV field.
std::string number(double v);
// A text as it goes into a CSV field: quoted where it holds a comma, a quote
// or a line end, its quotes doubled.
std::string text(const std::string& v);

// The results: the header line, then the rows of pass k from its model
// (with the expected counts passing of a pool of applicants, where not 0).
void write_results_header(std::ostream& out, double applicants = 0);
void write_results(std::ostream& out, int k, const Model& m, double applicants = 0);

// The drawn inputs: sample, valid, then every drawn element of the problem's
// shape, named by its indices (prop_2, dc_1_3, dp_4_10, rcc_1_2, rpp_2_7,
// val_3_10; correlations by their upper triangle).
void write_inputs_header(std::ostream& out, const Model& m);
void write_inputs(std::ostream& out, int k, bool valid, const Model& m);

// The summary: per stage, the rows of the quality of all selected (group,
// cum_ai and stage_ai empty), then those of every group's quality, Cum. AI
// and Stage AI, each for the statistics mean and, where the report has them,
// p1 to p99.
void write_summary(std::ostream& out, const Model& m, const Summary& summary);

}  // namespace selquant::csv
