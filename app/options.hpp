// The command line: selquant [OPTIONS] [DECK]. With no option and the deck on
// standard input the program is the plain one.
#pragma once

#include <string>

#include "app/run.hpp"

namespace app {

// --progress / --quiet, or neither.
enum class ProgressChoice { automatic, on, off };

struct Options {
  selquant::RunOptions run;  // threads and epoch; the streams are opened later
  std::string deck;          // empty or "-": standard input
  std::string csv;           // results CSV file, if any
  std::string inputs_csv;    // drawn inputs CSV file, if any
  std::string plot;          // SVG figure file, if any
  std::string summary_csv;   // summary CSV file, if any
  std::string html;          // the front's page, if any
  std::string draws;         // given draws (CSV), if any
  ProgressChoice progress = ProgressChoice::automatic;
  bool check = false;         // --check: findings only
  bool to_design = false;     // --to-design: the design file of a deck
  bool to_deck = false;       // --to-deck: the deck of a design file
  bool pareto = false;        // --pareto: the front of a design file
  bool kernel_given = false;  // --kernel was given (a search defaults to the fast one)
  bool help = false;
  bool version = false;
};

// Parses the arguments into options; returns an empty string, or the message
// of a usage error.
std::string parse_options(int argc, const char* const* argv, Options& options);

// The progress display for the choice, given whether standard error is a terminal.
selquant::ProgressMode progress_mode(ProgressChoice choice, bool terminal);

// The text of --help and of --version.
std::string usage_text();
std::string version_text();

}  // namespace app
