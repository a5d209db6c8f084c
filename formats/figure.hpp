// A figure of the results as one self-contained SVG document: per stage, in
// sampled modes the distribution of the quality of all selected (a histogram,
// its mean marked) and of every group's Cum. AI (box plots, the means marked);
// in exact mode each group's quality and Cum. AI as points. Cum. AI panels
// carry a reference line at 0.8.
#pragma once

#include <string>

#include "engine/blocks.hpp"
#include "formats/deck.hpp"
#include "formats/report.hpp"

namespace selquant {

// The figure of a sampled run from its saved values (the counted passes).
std::string sampled_figure(const Problem& p, const Model& m, const Saved& saved);
// The figure of an exact run from its computed pass.
std::string exact_figure(const Problem& p, const Model& m);

}  // namespace selquant
