// Checks of a deck before a run: what a careful user would want to know before
// many passes are spent on it (a retention rate no cutoff can meet, bounds
// written upper first, a stage with no weight, correlations that will make
// passes be skipped, proportions that will be clamped or rescaled).
#pragma once

#include <string>
#include <vector>

#include "engine/blocks.hpp"
#include "engine/design.hpp"
#include "formats/deck.hpp"

namespace selquant {

// One line per finding, naming the read and the element; none for a sound deck.
std::vector<std::string> deck_findings(const Problem& p, const Model& m);
// The same checks of a design, naming its keys and names: 'group "minority"
// predictor_d.cognitive', 'stage weights: stage 2 has no nonzero weight'.
std::vector<std::string> design_findings(const Design& d);

}  // namespace selquant
