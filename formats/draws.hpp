// A file of given draws: CSV with a line of column names (the inputs CSV's:
// prop_2, dc_1_3, ...) and one line of numbers per sample.
#pragma once

#include <string_view>

#include "engine/given.hpp"

namespace selquant {

// The draws of a CSV text. Throws DrawsError at a line that is not a row of
// numbers (row: the line's sample, 1 for the line after the names; column:
// the field's name, or empty for the line).
GivenDraws read_draws(std::string_view text);

// How a message places a fault in a draws file: "'draws.csv', line 5,
// column val_1_2: ..." (a row's line: the row plus the names' line).
std::string draws_error_text(const std::string& file, const DrawsError& e);
// Draws given as a table (a data frame) checked against the design, their
// rows of the passes first, ...: a fault is std::invalid_argument with the
// table's message ("draws row 4, column val_1_2: ...").
Given given_table(const Design& d, GivenDraws draws, int first = 1);

}  // namespace selquant
