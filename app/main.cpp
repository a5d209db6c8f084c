// SELQUANT: analytical selection quality and adverse impact of multi-stage
// selection, with Monte Carlo propagation of uncertain inputs.
#include <fenv.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <tuple>

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

// A usage error: one line on standard error, nothing on standard output.
int usage_error(const std::string& message) {
  std::fprintf(stderr, "selquant: %s\n", message.c_str());
  return 2;
}

std::string system_error() {
  return std::strerror(errno);
}

}  // namespace

int main(int argc, char** argv) {
  app::Options options;
  if (const std::string usage = app::parse_options(argc, argv, options); !usage.empty())
    return usage_error(usage);
  if (options.help) {
    std::fputs(app::usage_text().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(app::version_text().c_str(), stdout);
    return 0;
  }

  // Every file is opened before anything is written.
  std::ifstream deck_file;
  const bool from_file = !options.deck.empty() && options.deck != "-";
  if (from_file) {
    deck_file.open(options.deck);
    if (!deck_file)
      return usage_error("cannot open the deck '" + options.deck + "': " + system_error());
  }
  std::istream& deck = from_file ? static_cast<std::istream&>(deck_file) : std::cin;
  if (options.check) return selquant::check(deck);
  std::ofstream csv_file;
  std::ofstream inputs_file;
  std::ofstream plot_file;
  for (auto [name, file, target, label, kind] :
       {std::tuple{&options.csv, &csv_file, &options.run.csv, &options.run.csv_name, "CSV file"},
        std::tuple{&options.inputs_csv, &inputs_file, &options.run.inputs_csv,
                   &options.run.inputs_csv_name, "CSV file"},
        std::tuple{&options.plot, &plot_file, &options.run.plot, &options.run.plot_name,
                   "figure"}}) {
    if (name->empty()) continue;
    file->open(*name, std::ios::out | std::ios::trunc);
    if (!*file) return usage_error("cannot create '" + *name + "': " + system_error());
    *target = file;
    *label = std::string("the ") + kind + " '" + *name + "'";
  }
  options.run.progress = app::progress_mode(options.progress, ::isatty(STDERR_FILENO) == 1);

  install_handlers();
  std::ios::sync_with_stdio(false);
  return selquant::run(deck, std::cout, options.run);
}
