// The problem deck: twelve free-format reads into the problem record (mode,
// sample count and the two rows of every uncertain input, in single precision)
// and into the fixed parameters of the model blocks.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "engine/blocks.hpp"
#include "engine/design.hpp"
#include "engine/problem.hpp"
#include "textio/listin.hpp"

namespace selquant {

// Reads the whole deck; a malformed or missing value throws textio::InputError.
// Returns an empty string, or, when the mode or a count read at the start is
// outside its range or a value does not fit its kind, a message naming it and
// its record; nothing further is then read.
std::string read_deck(textio::ListReader& in, Problem& p, Model& m);

// Reads the deck and checks it: an empty string and the findings (what the
// reader noticed: numbers it dropped, lines after the last read; then
// deck_findings), or the message of a refused deck. With read_to_end the input
// is read to its end. A malformed deck throws textio::InputError.
std::string read_and_check(std::istream& in, Problem& p, Model& m, bool read_to_end,
                           std::vector<std::string>& findings);

// read_and_check, a malformed deck's error returned as the message (its
// located line where it has one) rather than thrown: for whoever reads a
// deck outside a run.
std::string check_deck(std::istream& in, Problem& p, Model& m, bool read_to_end,
                       std::vector<std::string>& findings);

// The deck of a design: one line per read, values in their shortest decimal
// that reads back to the same number, each line with a remark naming its read.
std::string write_deck(const Design& d);

// What read `record` (1 to 12) holds.
const char* record_name(int record);

}  // namespace selquant
