// Checks of a deck before a run: what a careful user would want to know before
// many passes are spent on it (a retention rate no cutoff can meet, bounds
// written upper first, a stage with no weight, correlations that will make
// passes be skipped, proportions that will be clamped or rescaled).
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "selquant/blocks.hpp"
#include "selquant/deck.hpp"

namespace selquant {

// One line per finding, naming the read and the element; none for a sound deck.
std::vector<std::string> deck_findings(const Problem& p, const Model& m);

// Reads the deck and checks it: an empty string and the findings (what the
// reader noticed: numbers it dropped, lines after the last read; then
// deck_findings), or the message of a refused deck. With read_to_end the input
// is read to its end. A malformed deck throws textio::InputError.
std::string read_and_check(std::istream& in, Problem& p, Model& m, bool read_to_end,
                           std::vector<std::string>& findings);

}  // namespace selquant
