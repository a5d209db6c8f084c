// SELQUANT: analytical selection quality and adverse impact of multi-stage
// selection, with Monte Carlo propagation of uncertain inputs.
#include <fenv.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "app/options.hpp"
#include "selquant/driver.hpp"

namespace {

// Handlers use async-signal-safe calls only. Every report line is flushed as
// it is written, so nothing of the report is pending here.
void say(const char* text, std::size_t n) {
  ssize_t ignored = ::write(STDERR_FILENO, text, n);
  (void)ignored;
}

extern "C" void on_interrupt(int) {
  say("Interrupt\n", 10);
  ::_exit(1);
}
extern "C" void on_terminate(int) {
  say("Killed\n", 7);
  ::_exit(1);
}
extern "C" void on_fpe(int) {
  say("Floating Exception\n", 19);
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}
extern "C" void on_abort(int) {
  say("IOT Trap\n", 9);
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

void install_handlers() {
  // An interrupt ignored by whoever started us stays ignored.
  struct sigaction old {};
  sigaction(SIGINT, nullptr, &old);
  if (old.sa_handler != SIG_IGN) std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_terminate);
  std::signal(SIGFPE, on_fpe);
  std::signal(SIGABRT, on_abort);
  // Overflow and division by zero give infinities and NaN, not a signal.
  feclearexcept(FE_ALL_EXCEPT);
  fedisableexcept(FE_ALL_EXCEPT);
}

}  // namespace

int main(int argc, char** argv) {
  app::Options options;
  const std::string usage = app::parse_options(argc, argv, options);
  if (!usage.empty()) {
    std::fprintf(stderr, "selquant: %s\n", usage.c_str());
    return 2;
  }
  install_handlers();
  std::ios::sync_with_stdio(false);
  return selquant::run(std::cin, std::cout, options.run);
}
