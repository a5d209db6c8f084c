// The program's end on a fatal input error, apart from the reader: what a
// library embedding the reader never calls.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "textio/listin.hpp"
#include "textio/outfile.hpp"

namespace textio {

void abort_on(const InputError& error) {
  if (!error.located().empty()) std::fprintf(stderr, "selquant: %s\n", error.located().c_str());
  discard_outputs();
  std::fprintf(stderr, "%s\n", error.what());
  std::fputs("apparent state: unit 5 (unnamed)\n", stderr);
  std::fputs("last format: list io\n", stderr);
  std::fputs("lately reading sequential formatted external IO\n", stderr);
  std::fflush(stderr);
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

}  // namespace textio
