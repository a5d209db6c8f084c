// SELQUANT: analytical selection quality and adverse impact of multi-stage
// selection, with Monte Carlo propagation of uncertain inputs.
#include <fcntl.h>
#include <fenv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/options.hpp"
#include "app/run.hpp"
#include "formats/deck.hpp"
#include "formats/design_file.hpp"
#include "formats/draws.hpp"
#include "formats/findings.hpp"
#include "textio/outfile.hpp"

namespace {

// Handlers use async-signal-safe calls only. Every report line is flushed as
// it is written, so nothing of the report is pending here.
void say(const char* text, std::size_t n) {
  ssize_t ignored = ::write(STDERR_FILENO, text, n);
  (void)ignored;
}

// Set by the first interrupt of a run that ends with the summary of the
// passes done (--summary-only, once the passes have begun); a second one
// ends it at once.
volatile std::sig_atomic_t interrupt_flag = 0;
volatile std::sig_atomic_t interrupt_gently = 0;

// The CSV files go into place with the rows written so far; the others, not
// whole, are removed.
extern "C" void on_interrupt(int) {
  say("Interrupt\n", 10);
  if (interrupt_gently != 0 && interrupt_flag == 0) {
    interrupt_flag = 1;
    return;
  }
  textio::settle_outputs_on_interrupt();
  ::_exit(1);
}
extern "C" void on_terminate(int) {
  say("Killed\n", 7);
  textio::settle_outputs_on_interrupt();
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

// A path the run reads or writes, and how a message names it.
struct NamedPath {
  const std::string* path;
  const char* option;
};

// The identity of an existing file, or nothing.
std::optional<std::pair<dev_t, ino_t>> identity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::pair{st.st_dev, st.st_ino};
}

// The same file: the same device and inode where both exist, else the same
// file to be made.
bool same_file(const std::string& a, const std::string& b) {
  const auto ia = identity(a);
  const auto ib = identity(b);
  if (ia || ib) return ia == ib;
  return textio::output_target(a) == textio::output_target(b);
}

// An output that would overwrite the deck or another output: the message of
// the usage error, or an empty string. deck_fd is the open deck.
std::string clashing_outputs(const std::vector<NamedPath>& outputs, int deck_fd,
                             const std::string& deck_name) {
  struct stat deck {};
  const bool deck_known = ::fstat(deck_fd, &deck) == 0 && S_ISREG(deck.st_mode);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string& path = *outputs[i].path;
    const auto id = identity(path);
    if (deck_known && id && *id == std::pair{deck.st_dev, deck.st_ino})
      return std::string(outputs[i].option) + " names the deck" +
             (deck_name.empty() ? "" : " '" + deck_name + "'") + "; it would be overwritten";
    for (std::size_t j = 0; j < i; ++j)
      if (same_file(*outputs[j].path, path))
        return std::string(outputs[j].option) + " and " + outputs[i].option +
               " name the same file '" + path + "'";
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  app::Options options;
  if (const std::string usage = app::parse_options(argc, argv, options); !usage.empty())
    return usage_error(usage);
  // The command as a page shows it: the words quoted where a shell would
  // split them.
  options.run.command = "selquant";
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const bool plain = !word.empty() && word.find_first_not_of(
                                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789-_./=:@,+") == std::string::npos;
    options.run.command += " " + (plain ? word : "'" + word + "'");
  }
  if (!options.draws.empty() &&
      (options.pareto || options.check || options.to_design || options.to_deck))
    return usage_error(
        "--draws is for a run: not with --pareto, --check, --to-design or --to-deck");
  if (options.help) {
    std::fputs(app::usage_text().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(app::version_text().c_str(), stdout);
    return 0;
  }

  // Every file is opened before anything is written. A named file is a deck
  // or a design file, by its content; standard input is a deck.
  const bool from_file = !options.deck.empty() && options.deck != "-";
  std::string text;
  if (from_file) {
    std::ifstream file(options.deck, std::ios::binary);
    if (!file) return usage_error("cannot open the deck '" + options.deck + "': " + system_error());
    struct stat st {};
    if (::stat(options.deck.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      return usage_error("cannot read the deck '" + options.deck + "': Is a directory");
    std::ostringstream all;
    all << file.rdbuf();
    if (file.bad()) return usage_error("cannot read the deck '" + options.deck + "'");
    text = std::move(all).str();
  } else if (options.to_deck) {
    std::ostringstream all;
    all << std::cin.rdbuf();
    text = std::move(all).str();
  }
  std::optional<selquant::Design> design;
  if (from_file || options.to_deck) {
    // A file named .toml is a design file, whatever it holds.
    if (selquant::is_design_text(text) || (from_file && options.deck.ends_with(".toml"))) {
      design.emplace();
      const std::string name = from_file ? options.deck : "standard input";
      if (const std::string bad = selquant::read_design(text, name, *design); !bad.empty())
        return usage_error(bad);
    } else if (options.to_deck) {
      return usage_error("--to-deck needs a design file; this is a deck");
    }
  }
  std::istringstream named(text);
  std::istream& deck = from_file ? static_cast<std::istream&>(named) : std::cin;
  // A deck typed at a terminal ends where its reads end.
  const bool terminal = !from_file && ::isatty(STDIN_FILENO) == 1;
  options.run.read_to_end = !terminal;
  if (options.to_deck) {
    // A deck has no place for the clock reading: its runs need --epoch.
    if (design->epoch)
      std::fprintf(stderr,
                   "selquant: the deck has no place for the design's epoch %lld: run it with "
                   "--epoch %lld for the same numbers\n",
                   static_cast<long long>(*design->epoch), static_cast<long long>(*design->epoch));
    if (!design->costs.empty() || design->utility)
      std::fprintf(stderr,
                   "selquant: the deck has no place for the design's [costs] and "
                   "[utility]; they are left out\n");
    for (const selquant::Design::Group& g : design->groups)
      if (g.uncertain_proportion)
        return usage_error("the deck has no place for the uncertain proportion of group '" +
                           g.name + "'");
    std::fputs(selquant::write_deck(*design).c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : selquant::kOutputLost;
  }
  if (options.to_design) {
    if (design) return usage_error("--to-design needs a deck; this is a design file");
    return selquant::convert_to_design(deck, options.run.read_to_end, std::cout);
  }
  selquant::ParetoPlan plan;
  if (options.pareto) {
    if (!design) return usage_error("--pareto needs a design file with a [pareto] table");
    if (const std::string bad = selquant::read_pareto(text, options.deck, *design, plan);
        !bad.empty())
      return usage_error(bad);
    if (!options.inputs_csv.empty() || !options.summary_csv.empty() || options.run.summary_only)
      return usage_error("--pareto writes the front: --csv, --plot and --html carry it");
  }
  if (options.check)
    return design ? selquant::check_design(*design)
                  : selquant::check(deck, options.run.read_to_end);

  // Given draws: read and checked against the design (a deck's, read now)
  // before any output is opened.
  std::optional<selquant::Given> given;
  std::vector<std::string> findings;
  if (!options.draws.empty()) {
    if (design) {
      findings = selquant::design_findings(*design);
    } else {
      design = selquant::read_deck_design(deck, options.run.read_to_end, findings);
      if (!design) return 2;
    }
    std::ifstream file(options.draws, std::ios::binary);
    struct stat st {};
    if (!file || (::stat(options.draws.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      return usage_error("cannot read the draws file '" + options.draws +
                         "': " + (file ? std::string("Is a directory") : system_error()));
    // Read in one piece (a file of 100000 samples is a few hundred MB) and
    // let go once its numbers are taken; a pipe (<(...)) as it comes.
    std::string text;
    if (S_ISREG(st.st_mode)) {
      text.resize(static_cast<std::size_t>(st.st_size));
      file.read(text.data(), static_cast<std::streamsize>(text.size()));
      if (file.gcount() != static_cast<std::streamsize>(text.size()))
        file.setstate(std::ios::badbit);
    } else {
      std::ostringstream all;
      all << file.rdbuf();
      text = std::move(all).str();
    }
    if (file.bad()) return usage_error("cannot read the draws file '" + options.draws + "'");
    try {
      given.emplace(*design, selquant::read_draws(text));
    } catch (const selquant::DrawsError& e) {
      return usage_error(selquant::draws_error_text(options.draws, e));
    }
    std::string().swap(text);
  }
  const int deck_fd = STDIN_FILENO;

  std::vector<NamedPath> outputs;
  for (auto [name, option] :
       {std::pair{&options.csv, "--csv"}, std::pair{&options.inputs_csv, "--inputs-csv"},
        std::pair{&options.summary_csv, "--summary-csv"}, std::pair{&options.plot, "--plot"},
        std::pair{&options.html, "--html"}})
    if (!name->empty()) outputs.push_back({name, option});
  {
    // The deck's identity: the named file, or what standard input is.
    int fd = deck_fd;
    if (from_file) fd = ::open(options.deck.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string clash = clashing_outputs(outputs, fd, from_file ? options.deck : "");
    if (from_file && fd >= 0) ::close(fd);
    if (!clash.empty()) return usage_error(clash);
    for (const NamedPath& o : outputs)
      if (given && same_file(*o.path, options.draws))
        return usage_error(std::string(o.option) + " names the draws file '" + options.draws +
                           "'; it would be overwritten");
  }
  std::array<std::unique_ptr<textio::OutputFile>, 5> files;
  std::size_t opened = 0;
  for (auto [name, target, kind] :
       {std::tuple{&options.csv, &options.run.csv, "CSV file"},
        std::tuple{&options.inputs_csv, &options.run.inputs_csv, "CSV file"},
        std::tuple{&options.summary_csv, &options.run.summary_csv, "CSV file"},
        std::tuple{&options.plot, &options.run.plot, "figure"},
        std::tuple{&options.html, &options.run.html, "page"}}) {
    if (name->empty()) continue;
    auto& file = files[opened++];
    file = std::make_unique<textio::OutputFile>(*name);
    if (!file->ok()) return usage_error("cannot create '" + *name + "': " + file->error());
    target->file = file.get();
    target->label = std::string("the ") + kind + " '" + *name + "'";
  }
  options.run.progress = app::progress_mode(options.progress, ::isatty(STDERR_FILENO) == 1);

  if (options.run.summary_only) {
    options.run.interrupted = &interrupt_flag;
    options.run.passes_begun = &interrupt_gently;
  }
  install_handlers();
  std::ios::sync_with_stdio(false);
  if (options.pareto) {
    // A search evaluates designs thousands of times: the fast kernel unless asked.
    if (!options.kernel_given) options.run.kernel = mvn::Kernel::fast;
    return selquant::run_pareto(*design, plan, std::cout, options.run);
  }
  if (given) return selquant::run_given(*design, findings, &*given, std::cout, options.run);
  if (design) return selquant::run_design(*design, std::cout, options.run);
  return selquant::run(deck, std::cout, options.run);
}
