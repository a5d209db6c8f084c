// The command line: selquant [OPTIONS]. With no option the program is the
// plain one, reading its deck on standard input.
#pragma once

#include <string>

#include "selquant/driver.hpp"

namespace app {

struct Options {
  selquant::RunOptions run;
};

// Parses the arguments into options; returns an empty string, or the message
// of a usage error.
std::string parse_options(int argc, const char* const* argv, Options& options);

}  // namespace app
