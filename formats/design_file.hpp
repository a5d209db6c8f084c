// Design files: a design in TOML, with named predictors, criteria, groups and
// stages, every uncertain input a number, { low = , high = } or
// { mean = , sd = }. The keys, by example:
//
//   sampling = "rectangular"   # "exact", "normal" or "rectangular"; else the value forms decide
//   samples = 500              # 1 to 100000 (default 1)
//   epoch = 1772874303         # optional: the clock reading for the seed and start line
//   predictors = ["cognitive", "interview"]
//   criteria = ["task"]
//   criterion_weights = [1.0]  # or a table by name
//   [[stage]]
//   retention = 0.5
//   weights = { cognitive = 1 }  # by name (unnamed: 0) or an array
//   [[group]]
//   name = "minority"
//   proportion = 0.3
//   criterion_d = [{ low = -0.5, high = -0.3 }]
//   predictor_d = { cognitive = { low = -0.8, high = -0.6 } }
//   [correlations]
//   predictors = [[{ low = 0.2, high = 0.4 }]]  # strict lower triangle or full matrix
//   criteria = []
//   validities = [[0.4, 0.3]]                   # one row per criterion
#pragma once

#include <string>
#include <string_view>

#include "engine/design.hpp"
#include "engine/pareto.hpp"

namespace selquant {

// The name of a sampling mode (kExact, kNormal, kRectangular) in a design file.
std::string_view sampling_name(int sampling);

// Whether a text is a design file rather than a deck: its first line that is
// neither blank nor a comment does not start like a number.
bool is_design_text(std::string_view text);

// Reads a design file's text (`file` names it in messages). Returns an empty
// string, or the first error: "FILE, line L, column C: KEY.PATH: what". A
// text a program wrote from the user's values (file empty) gets
// "KEY.PATH: what".
std::string read_design(std::string_view text, const std::string& file, Design& d);

// The [pareto] table of a design file already read into d:
//
//   [pareto]
//   objectives = ["quality", "ai:minority"]  # 2 to 5: "quality", "ai:GROUP"
//   points = 21                              # along the front (more objectives: lattice divisions)
//   free = [["cognitive"], ["cognitive", "interview"]]  # per stage; default: non-zero weights
//   signs = "nonnegative"                    # or "any"
//   uncertainty = "expected"                 # or "mean": over `samples` draws
//   samples = 20
//
// Returns an empty string or the first error, as read_design does.
std::string read_pareto(std::string_view text, const std::string& file, const Design& d,
                        ParetoPlan& plan);

// The design file of a design: every value in its shortest decimal that
// reads back to the same number.
std::string write_design(const Design& d);

// A string as TOML's basic strings and JSON both read it: quotes,
// backslashes and control characters escaped.
std::string quoted(std::string_view s);

}  // namespace selquant
