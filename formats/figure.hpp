// A figure of the results as one self-contained SVG document: per stage, in
// sampled modes the distribution of the quality of all selected (a histogram,
// its mean marked) and of every group's Cum. AI (box plots, the means marked);
// in exact mode each group's quality and Cum. AI as points. Cum. AI panels
// carry a reference line at 0.8.
#pragma once

#include <string>
#include <vector>

#include "engine/blocks.hpp"
#include "engine/pareto.hpp"
#include "formats/deck.hpp"
#include "formats/report.hpp"

namespace selquant {

// The title of a run's figure and page: its stages, groups, samples and mode.
std::string design_title(const Problem& p, const Model& m);
// The value of a sorted series at percentile point q, as the report takes it:
// the value at rank q n / 100, within 1 ... n.
double percentile_point(const std::vector<double>& sorted, int q);

// The figure of a sampled run from its saved values (the counted passes).
std::string sampled_figure(const Problem& p, const Model& m, const Saved& saved);
// The figure of an exact run from its computed pass.
std::string exact_figure(const Problem& p, const Model& m);
// The figure of a Pareto front: for every pair of objectives a panel of the
// front (the first against the second: quality against a Cum. AI), the design's
// own point marked, the 0.8 line on a Cum. AI axis and, for uncertain inputs,
// the 5th to 95th percentile bands; beside them, per stage, the weights along
// the front as stacked bars.
std::string front_figure(const Design& d, const ParetoPlan& plan, const Front& front);

}  // namespace selquant
