// End-to-end: the built program on decks, with the clock fixed, compared with
// whole expected reports.
//
// Expected reports under data/reference come from an independent reference
// model of the worked examples; those under data/e2e were recorded from this
// program (tools/record_expected.sh) after their key numbers were checked.
// Comparison rules: a line "@@ANY@@" matches any line; "@@PREFIX@@text" matches
// a line that starts with text; every other line must match, except that a
// number may differ by one unit in its last decimal and must end in the same
// column.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/scratch.hpp"

namespace {

const std::string kData = SELQUANT_TEST_DATA;

struct Outcome {
  int status = 0;
  std::string out;
  std::string err;
};

// Starts the program with the deck on standard input and the clock fixed (in
// the folder cwd, where one is given).
class Process {
 public:
  explicit Process(const std::string& deck_path, const std::vector<std::string>& args = {},
                   const std::string& epoch_setting = "SOURCE_DATE_EPOCH=1772874303",
                   const std::string& cwd = "") {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      int in = open(deck_path.c_str(), O_RDONLY);
      if (in < 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0)) _exit(127);
      dup2(in, 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]);
      close(err[0]);
      std::string epoch = epoch_setting;
      char tz[] = "TZ=UTC";
      char* env[] = {epoch.data(), tz, nullptr};
      std::vector<char*> argv{const_cast<char*>(SELQUANT_BINARY)};
      for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execve(SELQUANT_BINARY, argv.data(), env);
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  // Reads standard output until it holds the text (or ends).
  bool read_until(const std::string& text) {
    char buf[4096];
    while (run_.out.find(text) == std::string::npos) {
      ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      run_.out.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }
  void signal(int sig) { kill(pid_, sig); }
  Outcome finish() {
    char buf[4096];
    for (ssize_t n; (n = read(out_, buf, sizeof buf)) > 0;)
      run_.out.append(buf, static_cast<std::size_t>(n));
    for (ssize_t n; (n = read(err_, buf, sizeof buf)) > 0;)
      run_.err.append(buf, static_cast<std::size_t>(n));
    close(out_);
    close(err_);
    waitpid(pid_, &run_.status, 0);
    return run_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  Outcome run_;
};

Outcome run(const std::string& deck, const std::vector<std::string>& args = {}) {
  return Process(deck, args).finish();
}

// The report without its CPU-seconds line.
std::string without_cpu_time(const std::string& report) {
  const std::size_t at = report.rfind("CPU TIME IN SECONDS");
  return at == std::string::npos ? report : report.substr(0, at);
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);)
    v.push_back(l);
  return v;
}

// Splits a line into numbers (with their end columns) and the text between.
struct Token {
  bool number;
  std::string text;
  std::size_t end;
};

std::vector<Token> tokens(const std::string& line) {
  std::vector<Token> t;
  std::size_t i = 0;
  while (i < line.size()) {
    std::size_t j = i;
    bool num = false;
    if (line[j] == '-' || line[j] == '.' || std::isdigit(static_cast<unsigned char>(line[j]))) {
      std::size_t k = j + (line[j] == '-' ? 1 : 0);
      std::size_t digits = 0;
      while (k < line.size() &&
             (std::isdigit(static_cast<unsigned char>(line[k])) || line[k] == '.'))
        digits += std::isdigit(static_cast<unsigned char>(line[k++])) ? 1 : 0;
      if (digits > 0) {
        num = true;
        j = k;
      }
    }
    if (!num) j = i + 1;
    if (!num && !t.empty() && !t.back().number) {
      t.back().text += line.substr(i, j - i);
      t.back().end = j;
    } else {
      t.push_back({num, line.substr(i, j - i), j});
    }
    i = j;
  }
  return t;
}

// One unit in the last decimal of the expected number.
bool close_number(const std::string& want, const std::string& got) {
  const std::size_t dw = want.find('.');
  const std::size_t dg = got.find('.');
  const std::size_t decimals = dw == std::string::npos ? 0 : want.size() - dw - 1;
  if ((dg == std::string::npos ? 0 : got.size() - dg - 1) != decimals) return false;
  const double unit = std::pow(10.0, -static_cast<double>(decimals));
  return std::fabs(std::stod(want) - std::stod(got)) <= unit * 1.000001;
}

bool line_matches(const std::string& want, const std::string& got) {
  if (want == "@@ANY@@") return true;
  if (want.rfind("@@PREFIX@@", 0) == 0) return got.rfind(want.substr(10), 0) == 0;
  if (want == got) return true;
  const auto a = tokens(want);
  const auto b = tokens(got);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].number != b[i].number) return false;
    if (a[i].number && a[i].end != b[i].end) return false;
    if (a[i].number) {
      if (!close_number(a[i].text, b[i].text)) return false;
    } else if (i + 1 < a.size()) {
      // Blanks before a number may give way to its sign: its end column counts.
      auto rtrim = [](std::string t) { return t.erase(t.find_last_not_of(' ') + 1); };
      if (rtrim(a[i].text) != rtrim(b[i].text)) return false;
    } else if (a[i].text != b[i].text) {
      return false;
    }
  }
  return true;
}

void expect_report(const std::string& expected, const std::string& got) {
  const auto want = lines(expected);
  const auto have = lines(got);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), '\n');
  EXPECT_EQ(want.size(), have.size());
  for (std::size_t i = 0; i < std::min(want.size(), have.size()); ++i)
    EXPECT_TRUE(line_matches(want[i], have[i]))
        << "line " << i + 1 << "\n want: [" << want[i] << "]\n  got: [" << have[i] << "]";
}

TEST(ProgramTest, ComparisonRules) {
  EXPECT_TRUE(line_matches("  0.250   0.608", "  0.251   0.607"));
  EXPECT_FALSE(line_matches("  0.250   0.608", "  0.252   0.608"));
  EXPECT_FALSE(line_matches("  0.250", " 0.2500"));
  EXPECT_FALSE(line_matches("  0.250", "   0.25"));
  EXPECT_TRUE(line_matches("  -0.001", "   0.000"));
  EXPECT_FALSE(line_matches("Stage 1", "Stage 1 "));
  EXPECT_TRUE(line_matches("@@ANY@@", "whatever"));
  EXPECT_TRUE(line_matches("@@PREFIX@@CPU TIME IN SECONDS ", "CPU TIME IN SECONDS         0.01"));
  EXPECT_FALSE(line_matches("@@PREFIX@@CPU TIME IN SECONDS ", "CPU SECONDS 0.01"));
}

// What the deck checks say of a bundled deck.
std::string deck_findings_of(const std::string& deck) {
  if (deck.find("dfzero_error") != std::string::npos)
    return "selquant: read 2 (retention rates): the retention rate of stage 2 (0.6) is not "
           "below that of stage 1 (0.5): no cutoff can meet it\n";
  if (deck.find("invalid_samples") != std::string::npos)
    return "selquant: reads 9 and 11 (first-row correlations and validities): they do not "
           "form a positive definite matrix, so passes drawn near them will be skipped\n";
  if (deck.find("w24c_symmetric") != std::string::npos)
    return "selquant: read 4 (effect sizes, first row): the base group 2 has 2 nonzero effect "
           "sizes, the first dc(2,1) = -0.3; effect sizes are measured from the base group, "
           "whose own are 0\n";
  return "";
}

// What a run of a bundled deck says on standard error: the deck checks before
// the run, the failed cutoff searches after it.
std::string findings_of(const std::string& deck) {
  if (deck.find("dfzero_error") != std::string::npos)
    return deck_findings_of(deck) +
           "selquant: the cutoff of stage 2 was not found in 2 of 2 samples\n"
           "selquant: no sample had all its cutoffs found\n";
  return deck_findings_of(deck);
}

// The exit status of a run of a bundled deck: 4 where no sample has all its
// cutoffs found.
int status_of(const std::string& deck) {
  return deck.find("dfzero_error") != std::string::npos ? 4 : 0;
}

class ReferenceReport : public ::testing::TestWithParam<const char*> {};

TEST_P(ReferenceReport, MatchesTheIndependentModel) {
  const std::string base = kData + "/reference/" + GetParam();
  const Outcome r = run(base + ".deck");
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), status_of(base));
  EXPECT_EQ(r.err, findings_of(base));
  expect_report(slurp(base + ".expected"), r.out);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, ReferenceReport,
                         ::testing::Values("w22_composite", "w24a_one_group_rr50",
                                           "w24b_one_group_rr1587", "w24c_symmetric",
                                           "w25a_one_stage", "w25b_two_stage"));

class RecordedReport : public ::testing::TestWithParam<const char*> {};

TEST_P(RecordedReport, MatchesTheRecordedReport) {
  const std::string base = kData + "/e2e/" + GetParam();
  const Outcome r = run(base + ".deck");
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), status_of(base));
  EXPECT_EQ(r.err, findings_of(base));
  expect_report(slurp(base + ".expected"), r.out);
}

INSTANTIATE_TEST_SUITE_P(Decks, RecordedReport,
                         ::testing::Values("rectangular_150", "normal_100",
                                           "four_stage_five_group_3", "invalid_samples",
                                           "dfzero_error", "perfect_correlation"));

// A test name from a deck's path under the test data.
std::string deck_test_name(const ::testing::TestParamInfo<const char*>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// The report is the same, byte for byte, for every number of threads, more
// threads than cores included.
class ThreadCount : public ::testing::TestWithParam<const char*> {};

TEST_P(ThreadCount, LeavesTheReportUnchanged) {
  const std::string deck = kData + "/" + GetParam() + ".deck";
  const Outcome one = run(deck, {"--threads", "1"});
  ASSERT_TRUE(WIFEXITED(one.status));
  EXPECT_EQ(WEXITSTATUS(one.status), status_of(deck));
  EXPECT_NE(one.out.find("CPU TIME IN SECONDS"), std::string::npos);
  for (const char* threads : {"2", "7"}) {
    const Outcome many = run(deck, {"--threads", threads});
    EXPECT_EQ(many.status, one.status) << threads << " threads";
    EXPECT_EQ(many.err, one.err) << threads << " threads";
    EXPECT_EQ(without_cpu_time(many.out), without_cpu_time(one.out)) << threads << " threads";
  }
}

INSTANTIATE_TEST_SUITE_P(Decks, ThreadCount,
                         ::testing::Values("e2e/rectangular_150", "e2e/normal_100",
                                           "e2e/four_stage_five_group_3", "e2e/invalid_samples",
                                           "e2e/dfzero_error", "e2e/perfect_correlation",
                                           "reference/w22_composite",
                                           "reference/w24b_one_group_rr1587",
                                           "reference/w25b_two_stage"),
                         deck_test_name);

TEST(ProgramTest, ThreadCountUsageErrors) {
  const std::string deck = kData + "/reference/w25a_one_stage.deck";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--threads", "0"},
                                               {"--threads", "two"},
                                               {"--threads=-3"},
                                               {"--threads", "4x"},
                                               {"--threads"}}) {
    const Outcome r = run(deck, args);
    ASSERT_TRUE(WIFEXITED(r.status)) << args[0];
    EXPECT_EQ(WEXITSTATUS(r.status), 2) << args.back();
    EXPECT_EQ(r.out, "") << args.back();
    EXPECT_EQ(r.err.rfind("selquant: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(run(deck, {"--threads", "0"}).err,
            "selquant: --threads must be a whole number from 1 to 1024, not '0'\n");
  EXPECT_EQ(run(deck, {"--threads"}).err, "selquant: option --threads needs a value\n");
}

// The fast kernel: every report within one unit of the last printed decimal of
// the independent and the recorded reports.
class FastKernel : public ::testing::TestWithParam<const char*> {};

TEST_P(FastKernel, StaysWithinOneUnitOfTheReports) {
  const std::string base = kData + "/" + GetParam();
  const Outcome r = run(base + ".deck", {"--kernel", "fast"});
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), status_of(base));
  EXPECT_EQ(r.err, findings_of(base));
  expect_report(slurp(base + ".expected"), r.out);
}

INSTANTIATE_TEST_SUITE_P(
    Decks, FastKernel,
    ::testing::Values("reference/w22_composite", "reference/w24a_one_group_rr50",
                      "reference/w24b_one_group_rr1587", "reference/w24c_symmetric",
                      "reference/w25a_one_stage", "reference/w25b_two_stage", "e2e/rectangular_150",
                      "e2e/normal_100", "e2e/four_stage_five_group_3", "e2e/invalid_samples",
                      "e2e/dfzero_error", "e2e/perfect_correlation"),
    deck_test_name);

TEST(ProgramTest, WorkedExamplesReportTheirValues) {
  // One-stage example: P = (0.137144, 0.462856), AI 0.296299, qgrp (0.268467,
  // 0.831002), qall 0.702421, predictor means (0.600310, 0.858176).
  const std::string one = run(kData + "/reference/w25a_one_stage.deck").out;
  EXPECT_NE(one.find("       1       1     0.268     0.296      0.296\n"
                     "       1       2     0.831     1.000      1.000\n"
                     "   Quality all selected per stage:   0.702\n"),
            std::string::npos);
  EXPECT_NE(one.find("  Predictor 1    -0.258     0.000\n"), std::string::npos);
  // Two-stage example.
  const std::string two = run(kData + "/reference/w25b_two_stage.deck").out;
  EXPECT_NE(two.find("       2       1     0.585     0.488      0.729\n"
                     "       2       2     0.619     1.000      1.000\n"
                     "   Quality all selected per stage:   0.250   0.608\n"),
            std::string::npos);
  EXPECT_NE(two.find("       -0.240     0.000\n"), std::string::npos);  // 0.280703 - 0.520692
}

TEST(ProgramTest, SampledRunsAreReproducible) {
  const std::string deck = kData + "/e2e/rectangular_150.deck";
  auto strip = [](std::string s) { return s.substr(0, s.rfind("CPU TIME IN SECONDS")); };
  const Outcome a = run(deck);
  const Outcome b = run(deck);
  EXPECT_EQ(strip(a.out), strip(b.out));
  EXPECT_EQ(lines(a.out)[0], "Program execution starts on  7/ 3/2026 at  9: 5: 3");
}

TEST(ProgramTest, CountsOutOfRangeAreRejected) {
  const Scratch scratch;
  const std::string path = scratch / "stages.deck";
  std::ofstream(path) << "2 500 1 5 2 2 0.3 0.7\n0.5\n";
  const Outcome r = run(path);
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 2);
  EXPECT_EQ(r.err, "selquant: number of stages is 5; it must be 1 to 4\n");
  EXPECT_EQ(lines(r.out).size(), 1u);  // the start line only
}

TEST(ProgramTest, ShortDeckEndsAbnormally) {
  const Scratch scratch;
  const std::string path = scratch / "short.deck";
  std::ofstream(path) << "2 500 1 2 2 2 0.3 0.7\n0.5 0.2\n1 0\n";
  const Outcome r = run(path);
  ASSERT_TRUE(WIFSIGNALED(r.status));
  EXPECT_EQ(WTERMSIG(r.status), SIGABRT);
  EXPECT_EQ(r.err,
            "selquant: line 3: the deck ends before read 3 (predictor weights of stage 2)\n"
            "list in: end of file\napparent state: unit 5 (unnamed)\nlast format: list io\n"
            "lately reading sequential formatted external IO\n");
  EXPECT_EQ(lines(r.out).size(), 1u);
}

TEST(ProgramTest, ReadErrorEndsAbnormally) {
  // A directory on standard input: reading it fails with the system's text.
  const Outcome r = run("/");
  ASSERT_TRUE(WIFSIGNALED(r.status));
  EXPECT_EQ(WTERMSIG(r.status), SIGABRT);
  EXPECT_EQ(r.err,
            "selquant: line 1: the deck could not be read: Is a directory (read 1: counts and "
            "group proportions)\n"
            "list in: Is a directory\napparent state: unit 5 (unnamed)\nlast format: list io\n"
            "lately reading sequential formatted external IO\n");
}

TEST(ProgramTest, ReportThatCannotBeWrittenIsAFailure) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open((kData + "/reference/w25b_two_stage.deck").c_str(), O_RDONLY);
    const int full = open("/dev/full", O_WRONLY);
    const int null = open("/dev/null", O_WRONLY);
    if (in < 0 || full < 0 || null < 0) _exit(127);
    dup2(in, 0);
    dup2(full, 1);
    dup2(null, 2);
    char* argv[] = {const_cast<char*>(SELQUANT_BINARY), nullptr};
    char* env[] = {nullptr};
    execve(SELQUANT_BINARY, argv, env);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

// A long run: the four-stage deck with 100000 samples.
std::string long_deck(const Scratch& scratch) {
  const std::string path = scratch / "long.deck";
  std::string deck = slurp(kData + "/e2e/four_stage_five_group_3.deck");
  deck.replace(0, deck.find('\n'), "2 100000 3 4 10 5 0.1 0.15 0.15 0.2 0.4");
  std::ofstream(path) << deck;
  return path;
}

TEST(ProgramTest, InterruptKeepsTheLinesWritten) {
  const Scratch scratch;
  const std::string path = long_deck(scratch);
  for (auto [sig, text] : {std::pair{SIGINT, "Interrupt\n"}, std::pair{SIGTERM, "Killed\n"}}) {
    Process p(path);
    ASSERT_TRUE(p.read_until("Monte Carlo sample number      2\n"));
    p.signal(sig);
    const Outcome r = p.finish();
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 1);
    EXPECT_EQ(r.err, text);
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_NE(r.out.find("COMPUTATION RESULTS OVERVIEW\n"), std::string::npos);
    EXPECT_EQ(r.out.find("CPU TIME"), std::string::npos);
  }
}

TEST(ProgramTest, InterruptedThreadsKeepTheFirstLinesOfTheReport) {
  const Scratch scratch;
  // A deck long enough to be interrupted with many passes in flight.
  const std::string path = scratch / "medium.deck";
  std::string deck = slurp(kData + "/e2e/four_stage_five_group_3.deck");
  deck.replace(0, deck.find('\n'), "2 120 3 4 10 5 0.1 0.15 0.15 0.2 0.4");
  std::ofstream(path) << deck;
  const Outcome whole = run(path, {"--threads", "2"});
  ASSERT_TRUE(WIFEXITED(whole.status));
  ASSERT_EQ(WEXITSTATUS(whole.status), 0);
  Process p(path, {"--threads", "7"});
  ASSERT_TRUE(p.read_until("Monte Carlo sample number     10\n"));
  p.signal(SIGINT);
  const Outcome r = p.finish();
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 1);
  EXPECT_EQ(r.err, "Interrupt\n");
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out.back(), '\n');
  EXPECT_LT(r.out.size(), whole.out.size());
  EXPECT_EQ(whole.out.compare(0, r.out.size(), r.out), 0) << "not the report's first lines";
}

TEST(ProgramTest, FloatingPointAndAbortSignalsAbort) {
  const Scratch scratch;
  const std::string path = long_deck(scratch);
  for (auto [sig, text] :
       {std::pair{SIGFPE, "Floating Exception\n"}, std::pair{SIGABRT, "IOT Trap\n"}}) {
    Process p(path);
    ASSERT_TRUE(p.read_until("Monte Carlo sample number      1\n"));
    p.signal(sig);
    const Outcome r = p.finish();
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGABRT);
    EXPECT_EQ(r.err, text);
  }
}

// The command line around the plain program.

TEST(ProgramTest, DeckArgumentAndEpochOption) {
  const std::string deck = kData + "/e2e/normal_100.deck";
  const Outcome piped = run(deck);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{deck}, {"--", deck}, {"--epoch", "1772874303", deck}}) {
    const Outcome named = run("/dev/null", args);
    EXPECT_EQ(named.status, piped.status);
    EXPECT_EQ(without_cpu_time(named.out), without_cpu_time(piped.out)) << args[0];
  }
  EXPECT_EQ(without_cpu_time(run(deck, {"-"}).out), without_cpu_time(piped.out));
  // The option wins over the variable and seeds like it.
  const Outcome option = run(deck, {"--epoch=1765432109"});
  const Outcome variable = Process(deck, {}, "SOURCE_DATE_EPOCH=1765432109").finish();
  EXPECT_EQ(without_cpu_time(option.out), without_cpu_time(variable.out));
  EXPECT_NE(without_cpu_time(option.out), without_cpu_time(piped.out));
  EXPECT_EQ(lines(option.out)[0], "Program execution starts on 11/12/2025 at  5:48:29");
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : lines(text)) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');)
      fields.push_back(f);
    rows.push_back(fields);
  }
  return rows;
}

// A report's value and the CSV's unrounded one: the same to three decimals.
void expect_rounds_to(const std::string& csv, double printed, const std::string& where) {
  const double v = std::stod(csv);
  if (std::isnan(printed)) {
    EXPECT_EQ(csv, "NaN") << where;
  } else {
    EXPECT_NEAR(v, printed, 0.0005 + 1e-12) << where;
  }
}

// Runs the deck with both CSV files and checks every results row against the
// printed report; returns the inputs CSV.
std::vector<std::vector<std::string>> check_csv_against_report(const Scratch& scratch,
                                                               const std::string& deck) {
  const std::string csv = scratch / "results.csv";
  const std::string inputs = scratch / "inputs.csv";
  const Outcome r = run(deck, {"--csv", csv, "--inputs-csv", inputs, "--threads", "2"});
  EXPECT_EQ(WEXITSTATUS(r.status), 0);
  EXPECT_EQ(without_cpu_time(r.out), without_cpu_time(run(deck).out));
  const auto rows = csv_rows(slurp(csv));
  EXPECT_EQ(slurp(csv).substr(0, slurp(csv).find('\n')),
            "sample,stage,group,cutoff,passing,quality,cum_ai,stage_ai,quality_all,share");
  // The report's result rows in order, with their pass and the stage's quality
  // of all selected.
  std::size_t row = 1;
  int pass = 0;
  std::vector<std::array<double, 5>> table;  // stage, group, quality, cum AI, stage AI
  auto check_pass = [&](const std::string& all_line) {
    std::istringstream q(all_line.substr(all_line.find(':') + 1));
    std::vector<double> qall;
    for (std::string v; q >> v;)
      qall.push_back(std::stod(v));
    for (const auto& t : table) {
      EXPECT_LT(row, rows.size());
      if (row >= rows.size()) return;
      const auto& f = rows[row++];
      EXPECT_EQ(f.size(), 10u);
      const std::string where = "pass " + std::to_string(pass) + " row " + std::to_string(row);
      EXPECT_EQ(std::stoi(f[0]), pass) << where;
      EXPECT_EQ(std::stoi(f[1]), static_cast<int>(t[0])) << where;
      EXPECT_EQ(std::stoi(f[2]), static_cast<int>(t[1])) << where;
      expect_rounds_to(f[5], t[2], where + " quality");
      expect_rounds_to(f[6], t[3], where + " cum_ai");
      expect_rounds_to(f[7], t[4], where + " stage_ai");
      expect_rounds_to(f[8], qall[static_cast<std::size_t>(t[0]) - 1], where + " quality_all");
    }
    table.clear();
  };
  int exact_pass = 0;
  for (const std::string& line : lines(r.out)) {
    if (line.rfind("Monte Carlo sample number", 0) == 0 &&
        line.find("skipped") == std::string::npos)
      pass = std::stoi(line.substr(26));
    if (line == "   Stage   Group   Quality   Cum. AI   Stage AI" &&
        r.out.find("Exact computation") != std::string::npos)
      pass = ++exact_pass;
    if (line.size() == 47 && line.rfind("   ", 0) == 0 &&
        std::isdigit(static_cast<unsigned char>(line[7]))) {
      std::istringstream in(line);
      std::array<double, 5> t{};
      std::string v;
      for (double& x : t) {
        in >> v;
        x = std::stod(v);
      }
      table.push_back(t);
    }
    if (line.rfind("   Quality all selected per stage:", 0) == 0) check_pass(line);
  }
  EXPECT_EQ(row, rows.size()) << "rows beyond the report";
  // Each group's share of those passing a stage: its proportion (the inputs
  // row's) times its passing rate, over the sum of these; the shares of a
  // stage sum to 1.
  const auto in = csv_rows(slurp(inputs));
  std::map<std::pair<std::string, std::string>, std::vector<std::vector<std::string>>> stages;
  for (std::size_t i = 1; i < rows.size(); ++i)
    stages[{rows[i][0], rows[i][1]}].push_back(rows[i]);
  for (const auto& [key, groups] : stages) {
    const auto& inputs_row = in.at(static_cast<std::size_t>(std::stoi(key.first)));
    double total = 0, shares = 0;
    for (const auto& g : groups)
      total +=
          std::stod(inputs_row.at(1 + static_cast<std::size_t>(std::stoi(g[2])))) * std::stod(g[4]);
    for (const auto& g : groups) {
      const double prop = std::stod(inputs_row.at(1 + static_cast<std::size_t>(std::stoi(g[2]))));
      EXPECT_NEAR(std::stod(g[9]), prop * std::stod(g[4]) / total, 1e-15)
          << "pass " << key.first << " stage " << key.second << " group " << g[2];
      shares += std::stod(g[9]);
    }
    EXPECT_NEAR(shares, 1, 1e-14) << "pass " << key.first << " stage " << key.second;
  }
  return in;
}

TEST(ProgramTest, CsvAgreesWithTheReport) {
  const Scratch scratch;
  // Sampled, with skipped passes: every pass has an inputs row, valid or not.
  const auto sampled = check_csv_against_report(scratch, kData + "/e2e/invalid_samples.deck");
  const Outcome plain = run(kData + "/e2e/invalid_samples.deck");
  std::size_t skipped = 0;
  for (std::size_t i = 1; i < sampled.size(); ++i) {
    EXPECT_EQ(std::stoi(sampled[i][0]), static_cast<int>(i));
    skipped += sampled[i][1] == "0" ? 1 : 0;
  }
  std::size_t skip_lines = 0;
  for (const std::string& line : lines(plain.out))
    skip_lines += line.find("skipped: correlations not positive definite") != std::string::npos;
  EXPECT_GT(skipped, 0u);
  EXPECT_EQ(skipped, skip_lines);
  check_csv_against_report(scratch, kData + "/e2e/rectangular_150.deck");

  // Exact mode: every pass has its rows, and the inputs are the deck's values.
  const std::string three = scratch / "exact3.deck";
  std::string text = slurp(kData + "/reference/w25b_two_stage.deck");
  text.replace(0, 3, "0 3");  // three passes
  std::ofstream(three) << text;
  const auto exact = check_csv_against_report(scratch, three);
  ASSERT_EQ(exact.size(), 4u);
  const std::vector<std::string> names = {"sample",  "valid",   "prop_1", "prop_2", "dc_1_1",
                                          "dc_2_1",  "dp_1_1",  "dp_1_2", "dp_2_1", "dp_2_2",
                                          "rpp_1_2", "val_1_1", "val_1_2"};
  EXPECT_EQ(exact[0], names);
  // Every input is the deck's value, as read in single precision.
  const std::vector<float> deck = {1, 0.5f, 0.5f, -0.2f, 0, -0.5f, -0.3f, 0, 0, 0.3f, 0.3f, 0.4f};
  for (std::size_t p = 1; p < exact.size(); ++p)
    for (std::size_t c = 1; c < names.size(); ++c)
      EXPECT_EQ(std::stod(exact[p][c]), static_cast<double>(deck[c - 1])) << names[c];
}

TEST(ProgramTest, SummaryOfTheGroupsIsOfTheirResults) {
  // A group's summary rows: the mean and percentile points of its quality and
  // Stage AI over the counted samples where it has them, as the results hold
  // them in single precision (sorted; point p at rank p n / 100; none, and
  // the field empty, below 100).
  const Scratch scratch;
  const std::array<std::pair<const char*, int>, 9> points = {{{"p1", 1},
                                                              {"p5", 5},
                                                              {"p10", 10},
                                                              {"p25", 25},
                                                              {"p50", 50},
                                                              {"p75", 75},
                                                              {"p90", 90},
                                                              {"p95", 95},
                                                              {"p99", 99}}};
  auto check = [&](const std::string& problem, const std::string& tag) {
    const std::string csv = scratch / (tag + "results.csv");
    const std::string summary_csv = scratch / (tag + "summary.csv");
    const Outcome r =
        run("/dev/null", {"--csv", csv, "--summary-csv", summary_csv, "--threads", "2", problem});
    EXPECT_EQ(WEXITSTATUS(r.status), 0) << r.err;
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<std::string>> summary;
    for (const auto& row : csv_rows(slurp(summary_csv)))
      summary[{row[0], row[1], row[2]}] = row;
    std::map<std::pair<std::string, std::string>, std::array<std::vector<float>, 2>> series;
    for (const auto& row : csv_rows(slurp(csv))) {
      if (row[0] == "sample") continue;
      for (std::size_t m : {0u, 1u}) {
        const double v = std::stod(row[m == 0 ? 5 : 7]);
        if (std::isfinite(v)) series[{row[1], row[2]}][m].push_back(static_cast<float>(v));
      }
    }
    std::size_t checked = 0;
    for (auto& [key, both] : series) {
      for (std::size_t m : {0u, 1u}) {
        std::vector<float>& v = both[m];
        const std::size_t column = m == 0 ? 3 : 5;  // quality, stage_ai
        double total = 0;
        for (float x : v)
          total += x;
        const auto& mean = summary.at({key.first, key.second, "mean"});
        EXPECT_DOUBLE_EQ(std::stod(mean[column]), total / static_cast<double>(v.size()));
        std::sort(v.begin(), v.end());
        for (const auto& [name, p] : points) {
          const std::string field = summary.at({key.first, key.second, name})[column];
          if (v.size() < 100) {
            EXPECT_EQ(field, "") << key.first << " " << key.second << " " << name;
            continue;
          }
          EXPECT_EQ(std::stod(field),
                    static_cast<double>(v[static_cast<std::size_t>(p) * v.size() / 100 - 1]))
              << key.first << " " << key.second << " " << name << " column " << column;
          ++checked;
        }
      }
    }
    return checked;
  };
  EXPECT_EQ(check(kData + "/e2e/rectangular_150.deck", "r150_"),
            2 * 2 * 2 * 9u);  // stages, groups, measures, points
  // A group far below the base: in most samples none of it passes, and it
  // has no quality there; its Stage AI (0) it has.
  const std::string design = scratch / "far.toml";
  std::ofstream(design) << R"(sampling = "rectangular"
samples = 1000
predictors = ["p"]
criteria = ["c"]
criterion_weights = [1]
[[stage]]
retention = 0.4
weights = [1]
[[group]]
name = "far"
proportion = 0.5
predictor_d = [{ low = -40, high = 0 }]
[[group]]
name = "base"
proportion = 0.5
[correlations]
validities = [[0.5]]
)";
  const std::size_t far = check(design, "far_");
  EXPECT_EQ(far, 4 * 9u);  // both groups' Stage AI and quality, all points
  const auto rows = csv_rows(slurp(scratch / "far_results.csv"));
  const auto none =
      std::count_if(rows.begin(), rows.end(), [](const auto& row) { return row[5] == "NaN"; });
  EXPECT_GT(none, 500);  // most samples
}

TEST(ProgramTest, GivenDrawsAreComputedAsDrawnOnes) {
  // A sampled run's inputs fed back as given draws (with another clock and
  // thread count): the same results, inputs and summary, bit for bit, the
  // skipped samples skipped again; the report the same after its echo, which
  // says the samples are given.
  const Scratch scratch;
  const std::string deck = kData + "/e2e/invalid_samples.deck";
  auto files = [&](const std::string& tag) {
    return std::vector<std::string>{"--csv",         scratch / (tag + "results.csv"),
                                    "--inputs-csv",  scratch / (tag + "inputs.csv"),
                                    "--summary-csv", scratch / (tag + "summary.csv")};
  };
  const Outcome drawn = run(deck, files("drawn_"));
  ASSERT_EQ(WEXITSTATUS(drawn.status), 0) << drawn.err;
  std::vector<std::string> args = files("given_");
  for (const char* a : {"--draws", "", "--epoch", "12345", "--threads", "2"})
    args.push_back(a);
  args[7] = scratch / "drawn_inputs.csv";
  const Outcome given = run(deck, args);
  ASSERT_EQ(WEXITSTATUS(given.status), 0) << given.err;
  for (const char* f : {"results.csv", "inputs.csv", "summary.csv"})
    EXPECT_EQ(slurp(scratch / (std::string("given_") + f)),
              slurp(scratch / (std::string("drawn_") + f)))
        << f;
  auto results = [](const std::string& report) {
    return without_cpu_time(report.substr(report.find("COMPUTATION RESULTS OVERVIEW")));
  };
  EXPECT_EQ(results(given.out), results(drawn.out));
  EXPECT_NE(given.out.find("The samples are given, one per row of the draws file;\n"
                           "the values below stand for the inputs it leaves out\n"),
            std::string::npos);
  EXPECT_EQ(drawn.out.find("The samples are given"), std::string::npos);

  // Every kind of input (three criteria, five groups): the same results.
  const std::string large = kData + "/e2e/four_stage_five_group_3.deck";
  const Outcome large_drawn =
      run(large, {"--csv", scratch / "large_drawn.csv", "--inputs-csv", scratch / "large_in.csv"});
  ASSERT_EQ(WEXITSTATUS(large_drawn.status), 0) << large_drawn.err;
  const Outcome large_given = run(large, {"--csv", scratch / "large_given.csv", "--draws",
                                          scratch / "large_in.csv", "--epoch", "12345"});
  ASSERT_EQ(WEXITSTATUS(large_given.status), 0) << large_given.err;
  EXPECT_EQ(slurp(scratch / "large_given.csv"), slurp(scratch / "large_drawn.csv"));

  // The same file as a spreadsheet may save it (a byte-order mark, CRLF line
  // ends, quoted names, a space after each comma, explicit plus signs, a
  // blank last line) gives the same.
  std::string saved = "\xEF\xBB\xBF";
  std::istringstream lines_in(slurp(scratch / "drawn_inputs.csv"));
  for (std::string line; std::getline(lines_in, line);) {
    std::string fields;
    for (std::size_t at = 0, comma; at <= line.size(); at = comma + 1) {
      comma = std::min(line.find(',', at), line.size());
      std::string field = line.substr(at, comma - at);
      if (saved.size() == 3)
        field = "\"" + field + "\"";
      else if (field[0] != '-')
        field = "+" + field;
      fields += (at > 0 ? ", " : "") + field;
    }
    saved += fields + "\r\n";
  }
  std::ofstream(scratch / "saved.csv") << saved << "\r\n";
  args[7] = scratch / "saved.csv";
  args[1] = scratch / "saved_results.csv";
  const Outcome spreadsheet = run(deck, args);
  ASSERT_EQ(WEXITSTATUS(spreadsheet.status), 0) << spreadsheet.err;
  EXPECT_EQ(slurp(scratch / "saved_results.csv"), slurp(scratch / "drawn_results.csv"));

  // What the draws leave out keeps the design's value: one column given.
  const std::string one = scratch / "one.csv";
  std::ofstream(one) << "val_1_1\n0.25\n0.5\n";
  const std::string inputs = scratch / "one_inputs.csv";
  const Outcome partial =
      run(kData + "/reference/w25b_two_stage.deck", {"--draws", one, "--inputs-csv", inputs});
  ASSERT_EQ(WEXITSTATUS(partial.status), 0) << partial.err;
  const auto rows = csv_rows(slurp(inputs));
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t k : {1u, 2u}) {
    for (std::size_t c = 2; c < rows[0].size(); ++c) {
      if (rows[0][c] == "val_1_1") {
        EXPECT_EQ(std::stod(rows[k][c]), k == 1 ? 0.25 : 0.5);
      } else if (rows[0][c] == "rpp_1_2") {
        EXPECT_EQ(std::stod(rows[k][c]), static_cast<double>(0.3f));  // the deck's
      }
    }
  }
}

TEST(ProgramTest, BadDrawsAreRefusedWhereTheyAre) {
  // Each fault: its file, line and column, status 2, nothing written.
  const Scratch scratch;
  const std::string deck = kData + "/reference/w25b_two_stage.deck";
  std::string too_many = "val_1_1\n";
  for (int k = 0; k <= 100000; ++k)
    too_many += "0.3\n";
  struct Case {
    std::string text;
    std::string message;
    std::string problem = "";  // the deck, where not the two-stage one
  };
  const std::vector<Case> cases = {
      {"prop_1,val_1_7\n0.5,0.3\n",
       "line 1, column val_1_7: names no input of the design (its inputs are prop_1 to val_1_2, "
       "correlations by their upper triangle)"},
      {"val_1_1,val_1_2\n0.3,0.4\n0.3,x\n", "line 3, column val_1_2: 'x' is not a number"},
      {"val_1_1\n0.3\nNaN\n", "line 3, column val_1_1: not a finite number"},
      {"rpp_1_2\n0.3\n-1.5\n", "line 3, column rpp_1_2: the correlation -1.5 is outside [-1, 1]"},
      {"val_1_1\n1.01\n", "line 2, column val_1_1: the validity 1.01 is outside [-1, 1]"},
      {"prop_1,prop_2\n0.4,0.6\n0.4,0.61\n",
       "line 3, columns prop_1, prop_2: the proportions sum to 1.01, not 1 (within 1e-6)"},
      {"prop_1\n0.4\n1.2\n", "line 3, column prop_1: the proportion 1.2 is outside [0, 1]"},
      {"val_1_1,val_1_1\n0.3,0.3\n", "line 1, column val_1_1: the column is named twice"},
      {"val_1_1,val_1_2\n0.3\n", "line 2: 1 field where the names are 2"},
      {"val_1_1\n", "line 1: the draws have no rows"},
      {too_many, "line 1: 100001 rows; a run has at most 100000"},
      {"\nval_1_1\n0.3\n", "line 1: the first line must name the columns"},
      {"val_1_1,\n0.3,0.2\n", "line 1: a column has no name"},
      // Within 1e-6 of 1 is 1; beyond, not.
      {"prop_1,prop_2\n0.4,0.6000009\n0.4,0.600002\n",
       "line 3, columns prop_1, prop_2: the proportions sum to 1.000002, not 1 (within 1e-6)"},
      // Without the base group's column, the others must leave it 0 or more.
      {"prop_1,prop_2\n0.6,0.5\n",
       "line 2, columns prop_1, prop_2: the proportions sum to 1.45 without the base group's, "
       "more than 1 (within 1e-6)",
       kData + "/e2e/four_stage_five_group_3.deck"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [text, message, problem] = cases[i];
    const std::string draws = scratch / ("bad" + std::to_string(i) + ".csv");
    const std::string csv = scratch / ("out" + std::to_string(i) + ".csv");
    std::ofstream(draws) << text;
    const Outcome r = run(problem.empty() ? deck : problem, {"--draws", draws, "--csv", csv});
    EXPECT_EQ(WEXITSTATUS(r.status), 2) << message;
    EXPECT_EQ(r.err.substr(r.err.find("selquant: the draws file")),
              "selquant: the draws file '" + draws + "', " + message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(csv));
  }
}

TEST(ProgramTest, CsvWritesNotANumber) {
  const Scratch scratch;
  // Nobody of group 1 passes: its quality is not a number, its Cum. AI 0.
  const std::string deck = scratch / "nobody.deck";
  std::ofstream(deck) << "0 1 1 1 1 2 0.5 0.5\n0.4\n1\n0 -40\n0 0\n1\n0.5\n";
  const std::string csv = scratch / "nobody.csv";
  const Outcome r = run(deck, {"--csv", csv});
  ASSERT_EQ(WEXITSTATUS(r.status), 0) << r.err;
  const auto rows = csv_rows(slurp(csv));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1][5], "NaN");
  EXPECT_EQ(rows[1][4], "0");
  EXPECT_EQ(rows[1][6], "0");
  EXPECT_EQ(csv_rows(slurp(csv))[2][6], "1");
}

TEST(ProgramTest, UsageErrorsWriteNothingOnStandardOutput) {
  const Scratch scratch;
  const std::string deck = kData + "/reference/w25a_one_stage.deck";
  const std::string dir = scratch.dir();
  for (auto [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--bogus"}, "selquant: unknown option '--bogus' (see selquant --help)\n"},
           {{"--csv"}, "selquant: option --csv needs a value\n"},
           {{"--epoch", "soon"},
            "selquant: --epoch must be a whole number of seconds since 1970, not 'soon'\n"},
           {{"--quiet=yes"}, "selquant: option --quiet takes no value\n"},
           {{"--kernel", "quick"},
            "selquant: --kernel must be 'specified' or 'fast', not 'quick'\n"},
           {{dir + "/no such deck"},
            "selquant: cannot open the deck '" + dir +
                "/no such deck': No such file or directory\n"},
           {{"--inputs-csv", dir + "/no/such/dir.csv"},
            "selquant: cannot create '" + dir + "/no/such/dir.csv': No such file or directory\n"},
           {{deck, deck}, "selquant: more than one deck: '" + deck + "' and '" + deck + "'\n"}}) {
    const Outcome r = run(deck, args);
    ASSERT_TRUE(WIFEXITED(r.status)) << args[0];
    EXPECT_EQ(WEXITSTATUS(r.status), 2) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err, message);
  }
  const Outcome help = run("/dev/null", {"-h"});
  EXPECT_EQ(WEXITSTATUS(help.status), 0);
  for (const char* option : {"--threads", "--epoch", "--kernel", "--csv", "--inputs-csv",
                             "--progress", "--quiet", "--help", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  const Outcome version = run("/dev/null", {"--version"});
  EXPECT_EQ(WEXITSTATUS(version.status), 0);
  EXPECT_EQ(version.out.rfind("selquant ", 0), 0u);
  EXPECT_EQ(lines(version.out).size(), 1u);
}

TEST(ProgramTest, CsvThatCannotBeWrittenIsAFailure) {
  const Outcome r = run(kData + "/e2e/rectangular_150.deck", {"--csv", "/dev/full"});
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 3);
  EXPECT_EQ(r.err,
            "selquant: the CSV file '/dev/full' could not be written: No space left on device\n");
}

TEST(ProgramTest, ProgressGoesToStandardErrorOnly) {
  const std::string deck = kData + "/e2e/rectangular_150.deck";
  const Outcome quiet = run(deck, {"--quiet"});
  const Outcome shown = run(deck, {"--progress"});
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(without_cpu_time(shown.out), without_cpu_time(quiet.out));
  // Not a terminal: plain lines, ending with the whole run.
  ASSERT_FALSE(shown.err.empty());
  const std::string last = lines(shown.err).back();
  EXPECT_EQ(last.rfind("selquant: 150/150 passes, ", 0), 0u) << last;
  EXPECT_EQ(shown.err.find('\r'), std::string::npos);
}

TEST(ProgramTest, CheckReadsTheDeckAndComputesNothing) {
  const Scratch scratch;
  const Outcome sound = run(kData + "/e2e/rectangular_150.deck", {"--check"});
  EXPECT_EQ(WEXITSTATUS(sound.status), 0);
  EXPECT_EQ(sound.out, "");
  EXPECT_EQ(sound.err, "");
  const std::string doubtful = kData + "/e2e/dfzero_error.deck";
  const Outcome found = run("/dev/null", {"--check", doubtful});
  EXPECT_EQ(WEXITSTATUS(found.status), 1);
  EXPECT_EQ(found.out, "");
  EXPECT_EQ(found.err, deck_findings_of(doubtful));
  const std::string counts = scratch / "refused.deck";
  std::ofstream(counts) << "2 500 1 5 2 2 0.3 0.7\n0.5\n";
  const Outcome refused = run(counts, {"--check"});
  EXPECT_EQ(WEXITSTATUS(refused.status), 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "selquant: number of stages is 5; it must be 1 to 4\n");
  // Reader errors: the located line alone, status 2.
  const std::string shortdeck = scratch / "short2.deck";
  std::ofstream(shortdeck) << "2 500 1 2 2 2 0.3 0.7\n0.5 0.2\n";
  const Outcome broken = run(shortdeck, {"--check"});
  ASSERT_TRUE(WIFEXITED(broken.status));
  EXPECT_EQ(WEXITSTATUS(broken.status), 2);
  EXPECT_EQ(broken.out, "");
  EXPECT_EQ(broken.err,
            "selquant: line 2: the deck ends before read 3 (predictor weights of stage 1)\n");
}

TEST(ProgramTest, ValuesBeyondTheirRangeAreRefused) {
  const Scratch scratch;
  const std::string deck = scratch / "huge.deck";
  std::ofstream(deck) << "0 1 1 1 1 2 0.5 0.5\n0.5\n1\n0 1e39\n0 0\n1\n0.5\n";
  const Outcome r = run(deck);
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 2);
  EXPECT_EQ(r.err,
            "selquant: line 4: read 4 (effect sizes, first row): the value 1e39 is beyond the "
            "range of single precision\n");
  EXPECT_EQ(lines(r.out).size(), 1u);  // the start line only
  // A value that underflows to zero fits.
  std::ofstream(deck) << "0 1 1 1 1 2 0.5 0.5\n0.5\n1\n0 1e-50\n0 0\n1\n0.5\n";
  EXPECT_EQ(WEXITSTATUS(run(deck).status), 0);
  std::ofstream(deck) << "0 1 1 1 1 2 0.5 0.5\n0.5\n1\n0 0\n0 0\n-2e400\n";
  const Outcome d = run(deck, {"--check"});
  EXPECT_EQ(WEXITSTATUS(d.status), 2);
  EXPECT_EQ(d.err,
            "selquant: line 6: read 6 (criterion weights): the value -2e400 is beyond the range "
            "of double precision\n");
}

// Well-formed XML: one root element, tags nested and closed, attributes
// quoted, text without a bare '<' or '&'. Returns an empty string or the fault.
std::string xml_fault(const std::string& x) {
  std::vector<std::string> open;
  std::size_t i = 0;
  int roots = 0;
  auto name_at = [&](std::size_t& j) {
    const std::size_t b = j;
    while (j < x.size() && (std::isalnum(static_cast<unsigned char>(x[j])) || x[j] == '-' ||
                            x[j] == ':' || x[j] == '_'))
      ++j;
    return x.substr(b, j - b);
  };
  while (i < x.size()) {
    if (x[i] == '&') {
      const std::size_t semi = x.find(';', i);
      const std::string ent = x.substr(i, semi == std::string::npos ? 1 : semi - i + 1);
      if (ent != "&amp;" && ent != "&lt;" && ent != "&gt;" && ent != "&quot;")
        return "bad entity at " + std::to_string(i);
      i += ent.size();
      continue;
    }
    if (x[i] != '<') {
      if (open.empty() && !std::isspace(static_cast<unsigned char>(x[i])))
        return "text outside the root at " + std::to_string(i);
      ++i;
      continue;
    }
    if (x.compare(i, 2, "<?") == 0) {
      const std::size_t e = x.find("?>", i);
      if (e == std::string::npos) return "unclosed declaration";
      i = e + 2;
      continue;
    }
    if (x.compare(i, 2, "</") == 0) {
      std::size_t j = i + 2;
      const std::string n = name_at(j);
      if (open.empty() || open.back() != n || j >= x.size() || x[j] != '>')
        return "mismatched </" + n + "> at " + std::to_string(i);
      open.pop_back();
      i = j + 1;
      continue;
    }
    std::size_t j = i + 1;
    const std::string n = name_at(j);
    if (n.empty()) return "bad tag at " + std::to_string(i);
    for (;;) {
      while (j < x.size() && std::isspace(static_cast<unsigned char>(x[j])))
        ++j;
      if (j >= x.size()) return "unclosed tag " + n;
      if (x[j] == '>' || x.compare(j, 2, "/>") == 0) break;
      const std::string attr = name_at(j);
      if (attr.empty() || j + 1 >= x.size() || x[j] != '=' || x[j + 1] != '"')
        return "bad attribute in " + n + " at " + std::to_string(j);
      const std::size_t e = x.find('"', j + 2);
      if (e == std::string::npos || x.substr(j + 2, e - j - 2).find('<') != std::string::npos)
        return "bad attribute value in " + n;
      j = e + 1;
    }
    if (open.empty()) ++roots;
    if (x[j] == '>') {
      open.push_back(n);
      i = j + 1;
    } else {
      i = j + 2;
    }
  }
  if (!open.empty()) return "unclosed <" + open.back() + ">";
  return roots == 1 ? "" : "not one root element";
}

// The value of attribute name in the first element that contains `with`.
std::string attribute(const std::string& svg, const std::string& with, const std::string& name) {
  const std::size_t at = svg.find(with);
  if (at == std::string::npos) return "";
  const std::size_t b = svg.rfind('<', at);
  const std::size_t e = svg.find('>', at);
  const std::string el = svg.substr(b, e - b);
  const std::size_t a = el.find(" " + name + "=\"");
  if (a == std::string::npos) return "";
  const std::size_t v = a + name.size() + 3;
  return el.substr(v, el.find('"', v) - v);
}

TEST(ProgramTest, PlotOfAnExactRun) {
  const Scratch scratch;
  const std::string svg_path = scratch / "exact.svg";
  const std::string deck = kData + "/reference/w25b_two_stage.deck";
  const Outcome r = run(deck, {"--plot", svg_path});
  ASSERT_EQ(WEXITSTATUS(r.status), 0);
  EXPECT_EQ(without_cpu_time(r.out), without_cpu_time(run(deck).out));
  const std::string svg = slurp(svg_path);
  EXPECT_EQ(xml_fault(svg), "");
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  for (const char* label : {">Stage 1<", ">Stage 2<", ">Group 1<", ">Group 2 (base)<", ">0.8<",
                            "2 stages, 2 groups, 1 sample, exact computation"})
    EXPECT_NE(svg.find(label), std::string::npos) << label;
  // Stage 2, group 1: quality 0.585 and Cum. AI 0.488 in the report; each mark
  // stands at its value on its panel's axis.
  for (auto [kind, axis, printed] :
       {std::tuple{"quality", "quality-axis-2", 0.585}, std::tuple{"cum_ai", "ai-axis-2", 0.488}}) {
    const std::string mark =
        std::string("data-kind=\"") + kind + "\" data-stage=\"2\" data-group=\"1\"";
    const double v = std::stod(attribute(svg, mark, "data-value"));
    EXPECT_NEAR(v, printed, 0.0005) << kind;
    const std::string id = std::string("id=\"") + axis + "\"";
    const double lo = std::stod(attribute(svg, id, "data-lo"));
    const double hi = std::stod(attribute(svg, id, "data-hi"));
    const double x0 = std::stod(attribute(svg, id, "data-x0"));
    const double x1 = std::stod(attribute(svg, id, "data-x1"));
    const double want = x0 + (printed - lo) / (hi - lo) * (x1 - x0);
    const double tol = 0.0005 / (hi - lo) * (x1 - x0) + 0.01;
    if (std::string(kind) == "quality") {
      EXPECT_NEAR(std::stod(attribute(svg, mark, "cx")), want, tol);
    } else {
      // The diamond's path starts at its top vertex, straight above the value.
      const std::string d = attribute(svg, mark, "d");
      EXPECT_NEAR(std::stod(d.substr(1)), want, tol) << d;
    }
  }
}

TEST(ProgramTest, PlotOfASampledRunShowsTheSummary) {
  const Scratch scratch;
  const std::string svg_path = scratch / "sampled.svg";
  const std::string deck = kData + "/e2e/rectangular_150.deck";
  const Outcome r = run(deck, {"--plot", svg_path, "--threads", "2"});
  ASSERT_EQ(WEXITSTATUS(r.status), 0);
  const std::string svg = slurp(svg_path);
  EXPECT_EQ(xml_fault(svg), "");
  for (const char* label :
       {">Stage 1<", ">Stage 2<", ">Group 2 (base)<", ">0.8<", "150 samples, rectangular sampling"})
    EXPECT_NE(svg.find(label), std::string::npos) << label;
  // The marked means are the summary's averages.
  const auto report = lines(r.out);
  int stages = 0;
  for (std::size_t i = 0; i < report.size(); ++i) {
    if (report[i].rfind("after stage", 0) != 0) continue;
    ++stages;
    const int s = std::stoi(report[i].substr(11, 2));
    const double avq = std::stod(report[i].substr(report[i].rfind("is") + 2));
    const std::string mark = "data-kind=\"quality_mean\" data-stage=\"" + std::to_string(s) + "\"";
    EXPECT_NEAR(std::stod(attribute(svg, mark, "data-value")), avq, 0.00005) << "stage " << s;
    std::istringstream ai(report[i + 2]);
    for (int g = 1; g <= 2; ++g) {
      double avai = 0;
      ai >> avai;
      const std::string m = "data-kind=\"cum_ai_mean\" data-stage=\"" + std::to_string(s) +
                            "\" data-group=\"" + std::to_string(g) + "\"";
      EXPECT_NEAR(std::stod(attribute(svg, m, "data-value")), avai, 0.0005) << s << " " << g;
      // The box and whiskers: the report's 5th, 25th, 50th, 75th and 95th
      // percentiles, the box from the 25th to the 75th on the stage's axis.
      std::istringstream printed(report[i + 13 + 3 * static_cast<std::size_t>(g - 1)]);
      std::vector<double> points(9);
      for (double& v : points)
        printed >> v;
      const std::string box = "data-kind=\"cum_ai_box\" data-stage=\"" + std::to_string(s) +
                              "\" data-group=\"" + std::to_string(g) + "\"";
      for (auto [name, at] :
           {std::pair{"data-p5", 1}, std::pair{"data-p25", 3}, std::pair{"data-p50", 4},
            std::pair{"data-p75", 5}, std::pair{"data-p95", 7}})
        EXPECT_NEAR(std::stod(attribute(svg, box, name)), points[static_cast<std::size_t>(at)],
                    0.0005)
            << s << " " << g << " " << name;
      const std::string axis = "id=\"ai-axis-" + std::to_string(s) + "\"";
      const double lo = std::stod(attribute(svg, axis, "data-lo"));
      const double hi = std::stod(attribute(svg, axis, "data-hi"));
      const double x0 = std::stod(attribute(svg, axis, "data-x0"));
      const double x1 = std::stod(attribute(svg, axis, "data-x1"));
      auto px = [&](const char* name) {
        return x0 + (std::stod(attribute(svg, box, name)) - lo) / (hi - lo) * (x1 - x0);
      };
      EXPECT_NEAR(std::stod(attribute(svg, box, "x")), px("data-p25"), 0.01);
      EXPECT_NEAR(std::stod(attribute(svg, box, "width")),
                  std::max(1.0, px("data-p75") - px("data-p25")), 0.02);
    }
  }
  EXPECT_EQ(stages, 2);
  const Outcome full = run(deck, {"--plot", "/dev/full"});
  EXPECT_EQ(WEXITSTATUS(full.status), 3);
  EXPECT_EQ(full.err,
            "selquant: the figure '/dev/full' could not be written: No space left on device\n");
  EXPECT_EQ(xml_fault("<a><b></a></b>"), "mismatched </a> at 6");  // the checker checks
}

// The names in a folder.
std::vector<std::string> folder(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ProgramTest, OutputsNeverHarmTheDeck) {
  const Scratch scratch;
  const std::string dir = scratch / "misuse";
  std::filesystem::create_directory(dir);
  const std::string deck = dir + "/my.deck";
  const std::string text = slurp(kData + "/reference/w25b_two_stage.deck");
  std::ofstream(deck) << text;
  const std::string same = dir + "/same.csv";
  for (auto [in, args, message] :
       std::vector<std::tuple<std::string, std::vector<std::string>, std::string>>{
           {deck, {"--csv", deck}, "selquant: --csv names the deck; it would be overwritten\n"},
           {"/dev/null",
            {"--plot", deck, deck},
            "selquant: --plot names the deck '" + deck + "'; it would be overwritten\n"},
           {"/dev/null",
            {"--summary-csv", dir + "/../misuse/my.deck", deck},
            "selquant: --summary-csv names the deck '" + deck + "'; it would be overwritten\n"},
           {deck,
            {"--csv", same, "--inputs-csv", dir + "/./same.csv"},
            "selquant: --csv and --inputs-csv name the same file '" + dir + "/./same.csv'\n"},
           {deck, {"--csv", dir}, "selquant: cannot create '" + dir + "': Is a directory\n"}}) {
    const Outcome r = run(in, args);
    ASSERT_TRUE(WIFEXITED(r.status)) << args[0];
    EXPECT_EQ(WEXITSTATUS(r.status), 2) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, message);
    EXPECT_EQ(slurp(deck), text);
    EXPECT_EQ(folder(dir), std::vector<std::string>{"my.deck"});
  }
  // Two spellings of one file yet to be made, relative to the folder.
  const Outcome relative = Process(deck, {"--csv", "same.csv", "--summary-csv", "./same.csv"},
                                   "SOURCE_DATE_EPOCH=1772874303", dir)
                               .finish();
  EXPECT_EQ(WEXITSTATUS(relative.status), 2);
  EXPECT_EQ(relative.err, "selquant: --csv and --summary-csv name the same file './same.csv'\n");
  EXPECT_EQ(folder(dir), std::vector<std::string>{"my.deck"});
  // The deck expected on standard input, which is empty: the deck file taken
  // for the CSV file stays as it was, and nothing is left beside it.
  const Outcome r = run("/dev/null", {"--csv", deck});
  ASSERT_TRUE(WIFSIGNALED(r.status));
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "selquant: the deck is empty");
  EXPECT_EQ(slurp(deck), text);
  EXPECT_EQ(folder(dir), std::vector<std::string>{"my.deck"});
}

TEST(ProgramTest, InterruptLeavesWholeRowsAndNoFigure) {
  const Scratch scratch;
  const std::string dir = scratch / "interrupted";
  std::filesystem::create_directory(dir);
  Process p(long_deck(scratch),
            {"--csv", dir + "/r.csv", "--inputs-csv", dir + "/i.csv", "--plot", dir + "/f.svg",
             "--summary-csv", dir + "/s.csv", "--threads", "2"});
  ASSERT_TRUE(p.read_until("Monte Carlo sample number      5\n"));
  p.signal(SIGINT);
  const Outcome r = p.finish();
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 1);
  std::size_t passes = 0;
  for (const std::string& line : lines(r.out))
    passes += line.rfind("Monte Carlo sample number", 0) == 0;
  EXPECT_EQ(folder(dir), (std::vector<std::string>{"i.csv", "r.csv"}));
  const auto results = csv_rows(slurp(dir + "/r.csv"));
  const auto inputs = csv_rows(slurp(dir + "/i.csv"));
  ASSERT_EQ(results.size(), 1 + 20 * passes);  // 4 stages, 5 groups
  ASSERT_EQ(inputs.size(), 1 + passes);
  for (const auto& row : results)
    EXPECT_EQ(row.size(), results[0].size());
  for (const auto& row : inputs)
    EXPECT_EQ(row.size(), inputs[0].size());
  EXPECT_EQ(results.back()[0], std::to_string(passes));
  EXPECT_EQ(inputs.back()[0], std::to_string(passes));
}

TEST(ProgramTest, AnOutputThroughALinkReplacesWhatTheLinkNames) {
  // The link stays a link; the file it names, not yet there, is made, and
  // its temporary file is beside it, not beside the link.
  const Scratch scratch;
  std::filesystem::create_directory(scratch / "a");
  std::filesystem::create_directory(scratch / "b");
  std::filesystem::create_symlink("../a/t.csv", scratch / "b/l.csv");
  Process p(long_deck(scratch), {"--csv", scratch / "b/l.csv"});
  ASSERT_TRUE(p.read_until("Monte Carlo sample number      2\n"));
  const std::vector<std::string> beside = folder(scratch / "a");
  ASSERT_EQ(beside.size(), 1u);
  EXPECT_EQ(beside[0].rfind(".t.csv.selquant-", 0), 0u) << beside[0];
  EXPECT_EQ(folder(scratch / "b"), std::vector<std::string>{"l.csv"});
  p.signal(SIGINT);
  EXPECT_EQ(WEXITSTATUS(p.finish().status), 1);
  EXPECT_TRUE(std::filesystem::is_symlink(scratch / "b/l.csv"));
  EXPECT_EQ(folder(scratch / "a"), std::vector<std::string>{"t.csv"});
  EXPECT_EQ(slurp(scratch / "a/t.csv").rfind("sample,stage,group,cutoff,", 0), 0u);
}

TEST(ProgramTest, StatusSaysWhetherThereAreResults) {
  const Scratch scratch;
  // Exact mode, correlations that are no correlation matrix: every pass skipped.
  const std::string deck = scratch / "none.deck";
  std::ofstream(deck) << "0 3 1 1 2 2 0.5 0.5\n0.5\n1 1\n0 0 0\n0 0 0\n1\n-0.9\n0.6 0.6\n";
  const Outcome r = run(deck);
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 4);
  EXPECT_NE(r.out.find("No pass could be counted in the summary."), std::string::npos);
  EXPECT_EQ(r.err.substr(r.err.rfind("selquant:")), "selquant: no sample could be computed\n");
}

TEST(ProgramTest, SummaryWithoutTheSamples) {
  const Scratch scratch;
  const std::string deck = kData + "/e2e/rectangular_150.deck";
  const std::string csv = scratch / "summary.csv";
  const Outcome full = run(deck);
  const Outcome brief = run(deck, {"--summary-only", "--summary-csv", csv, "--threads", "2"});
  ASSERT_EQ(WEXITSTATUS(brief.status), 0);
  // The full report without the blocks of the samples: from each sample line
  // up to the blank line that follows its quality of all selected.
  std::string expected;
  bool in_block = false;
  for (const std::string& line : lines(full.out)) {
    if (line.rfind("Monte Carlo sample number", 0) == 0 &&
        line.find("skipped") == std::string::npos) {
      in_block = true;
      if (!expected.empty() && expected.size() >= 2 &&
          expected.substr(expected.size() - 2) == "\n\n")
        expected.pop_back();  // the blank line before the block belongs to it
      continue;
    }
    if (in_block) {
      if (line.rfind("   Quality all selected per stage:", 0) == 0) in_block = false;
      continue;
    }
    expected += line + "\n";
  }
  EXPECT_EQ(without_cpu_time(brief.out), without_cpu_time(expected));
  // The summary CSV: every printed average and percentile, to its decimals.
  const auto rows = csv_rows(slurp(csv));
  EXPECT_EQ(rows[0], (std::vector<std::string>{"stage", "group", "statistic", "quality", "cum_ai",
                                               "stage_ai"}));
  ASSERT_EQ(rows.size(), 1 + 2 * 3 * 10u);  // 2 stages, all and 2 groups, mean and 9 points
  const auto report = lines(full.out);
  std::size_t checked = 0;
  for (std::size_t i = 0; i < report.size(); ++i) {
    if (report[i].rfind("after stage", 0) != 0) continue;
    const int s = std::stoi(report[i].substr(11, 2));
    auto field = [&](int g, const std::string& statistic) {
      for (const auto& row : rows)
        if (row[0] == std::to_string(s) && row[1] == (g == 0 ? "" : std::to_string(g)) &&
            row[2] == statistic)
          return std::stod(row[g == 0 ? 3 : 4]);
      ADD_FAILURE() << "no row " << s << " " << g << " " << statistic;
      return 0.0;
    };
    EXPECT_NEAR(field(0, "mean"), std::stod(report[i].substr(report[i].rfind("is") + 2)), 0.00005);
    std::istringstream ai(report[i + 2]);
    for (int g = 1; g <= 2; ++g) {
      double v = 0;
      ai >> v;
      EXPECT_NEAR(field(g, "mean"), v, 0.0005);
    }
    // The percentile rows: quality, then each group's Cum. AI.
    const std::vector<std::string> points = {"p1",  "p5",  "p10", "p25", "p50",
                                             "p75", "p90", "p95", "p99"};
    for (int g = 0; g <= 2; ++g) {
      std::istringstream values(report[i + (g == 0 ? 7 : 13 + 3 * (g - 1))]);
      for (const std::string& point : points) {
        double v = 0;
        values >> v;
        EXPECT_NEAR(field(g, point), v, 0.0005) << s << " " << g << " " << point;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 2 * 3 * 9u);
  // Skipped samples: one line that counts them, before the summary.
  const Outcome skipping = run(kData + "/e2e/invalid_samples.deck", {"--summary-only"});
  const std::string out = without_cpu_time(skipping.out);
  EXPECT_EQ(out.find("Monte Carlo sample number"), std::string::npos);
  EXPECT_NE(out.find("\nMonte Carlo samples skipped: correlations not positive definite:      1\n"
                     "\nPasses not counted in the summary:      1\n"),
            std::string::npos);
}

// The summary from its heading on, without the CPU line.
std::string summary_part(const std::string& report) {
  const std::size_t at = report.find("\nAverage expected quality");
  if (at == std::string::npos) return "";
  std::string s = without_cpu_time(report.substr(at));
  return s.erase(s.find_last_not_of('\n') + 1);
}

TEST(ProgramTest, AnInterruptedSummaryIsThatOfTheSamplesDone) {
  const Scratch scratch;
  Process p(long_deck(scratch), {"--summary-only", "--threads", "2"});
  ASSERT_TRUE(p.read_until("COMPUTATION RESULTS OVERVIEW\n"));
  usleep(500000);  // a hundred samples or more, for the percentiles
  p.signal(SIGINT);
  const Outcome r = p.finish();
  ASSERT_TRUE(WIFEXITED(r.status));
  EXPECT_EQ(WEXITSTATUS(r.status), 1);
  EXPECT_EQ(r.err, "Interrupt\n");
  const std::string heading = "\n\nInterrupted: the summary of the first";
  const std::size_t at = r.out.find(heading);
  ASSERT_NE(at, std::string::npos) << r.out.substr(r.out.size() - 200);
  const int done = std::stoi(r.out.substr(at + heading.size()));
  EXPECT_EQ(r.out.substr(at + heading.size() + 7, 15), " of 100000 samp");
  // The same as a run of that many samples: the same draws, in sample order.
  std::string deck = slurp(scratch / "long.deck");
  deck.replace(0, deck.find('\n'), "2 " + std::to_string(done) + " 3 4 10 5 0.1 0.15 0.15 0.2 0.4");
  std::ofstream(scratch / "done.deck") << deck;
  const Outcome whole = run(scratch / "done.deck", {"--summary-only"});
  EXPECT_NE(summary_part(whole.out), "");
  EXPECT_EQ(summary_part(r.out), summary_part(whole.out));
  EXPECT_EQ(r.out.find("CPU TIME"), std::string::npos);
  // While the deck is still being read, an interrupt ends the run at once.
  const std::string fifo = scratch / "deck.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Process reading(fifo, {"--summary-only"});
  const int writer = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "2 10 1 2 2 2 0.3 0.7\n", 21), 21);
  usleep(200000);
  reading.signal(SIGINT);
  usleep(200000);
  close(writer);  // were it still reading, the deck would end here, too soon
  const Outcome stopped = reading.finish();
  ASSERT_TRUE(WIFEXITED(stopped.status));
  EXPECT_EQ(WEXITSTATUS(stopped.status), 1);
  EXPECT_EQ(stopped.err, "Interrupt\n");
}

TEST(ProgramTest, TheFrontFigureDrawsTheWeightsWithTheirSigns) {
  // Signs free in stage 2; stage 1 has one predictor and no bars.
  const Scratch scratch;
  std::string text = slurp(kData + "/../../examples/bobko_two_stage.toml");
  text.replace(text.find("weights = { CA = 1, B = 1 }"), 27, "weights = { CA = 1 }");
  // Stage 1 searched on B alone, where the design weighs CA: B weighs 1.
  text += "signs = \"any\"\nfree = [[\"B\"], [\"CA\", \"SI\", \"C\", \"B\"]]\n";
  std::ofstream(scratch / "any.toml") << text;
  const Outcome r =
      run("/dev/null", {"--pareto", scratch / "any.toml", "--plot", scratch / "f.svg"});
  ASSERT_EQ(WEXITSTATUS(r.status), 0) << r.err;
  const std::string svg = slurp(scratch / "f.svg");
  EXPECT_EQ(xml_fault(svg), "");
  EXPECT_EQ(svg.find("data-kind=\"weight\" data-stage=\"1\""), std::string::npos);
  EXPECT_NE(svg.find(">Weights of stage 1 (fixed): B 1<"), std::string::npos);
  const double zero = std::stod(attribute(svg, "id=\"weights-2\"", "data-zero"));
  const double unit = std::stod(attribute(svg, "id=\"weights-2\"", "data-unit"));
  int negative = 0;
  for (std::size_t at = svg.find("data-kind=\"weight\""); at != std::string::npos;
       at = svg.find("data-kind=\"weight\"", at + 1)) {
    const std::string el = svg.substr(svg.rfind('<', at), svg.find('>', at) - svg.rfind('<', at));
    const double w = std::stod(attribute(el, "data-value", "data-value"));
    const double y = std::stod(attribute(el, "data-value", "y"));
    const double h = std::stod(attribute(el, "data-value", "height"));
    EXPECT_NEAR(h, std::fabs(w) * unit, 0.01) << el;
    if (w < 0) {
      ++negative;
      EXPECT_GE(y, zero - 0.01) << el;  // below the zero line
    } else {
      EXPECT_LE(y + h, zero + 0.01) << el;
    }
  }
  EXPECT_GT(negative, 0);
  // The four-fifths label within the panel, below its heading.
  const std::size_t label = svg.find(">0.8<", svg.find("class=\"reference\""));
  const std::size_t heading = svg.find(">Quality of all selected against");
  ASSERT_NE(label, std::string::npos);
  ASSERT_NE(heading, std::string::npos);
  EXPECT_GT(std::stod(attribute(svg.substr(svg.rfind('<', label)), ">0.8<", "y")),
            std::stod(attribute(svg.substr(svg.rfind('<', heading)), ">Quality", "y")) + 16);
}

// Every bundled deck through its design file and back: the same report, byte
// for byte but for the CPU seconds, and the same messages.
class Conversion : public ::testing::TestWithParam<const char*> {};

TEST_P(Conversion, KeepsTheReport) {
  const Scratch scratch;
  const std::string deck = kData + "/" + GetParam() + ".deck";
  const std::string dir = scratch.dir();
  const Outcome plain = run(deck);
  const Outcome design = run(deck, {"--to-design"});
  ASSERT_EQ(WEXITSTATUS(design.status), 0) << design.err;
  // Test processes run side by side: files of their own.
  std::string name = GetParam();
  for (char& c : name)
    if (c == '/' || c == '.') c = '_';
  const std::string toml = dir + "/" + name + ".toml";
  std::ofstream(toml) << design.out;
  const Outcome from_design = run("/dev/null", {toml});
  EXPECT_EQ(from_design.status, plain.status);
  // The same findings, naming the design's keys and names instead of reads.
  EXPECT_EQ(lines(from_design.err).size(), lines(plain.err).size()) << from_design.err;
  EXPECT_EQ(without_cpu_time(from_design.out), without_cpu_time(plain.out));
  const Outcome back = run("/dev/null", {"--to-deck", toml});
  ASSERT_EQ(WEXITSTATUS(back.status), 0) << back.err;
  const std::string again = dir + "/" + name + ".deck";
  std::ofstream(again) << back.out;
  const Outcome from_deck = run(again);
  EXPECT_EQ(from_deck.err, plain.err);
  EXPECT_EQ(without_cpu_time(from_deck.out), without_cpu_time(plain.out));
}

INSTANTIATE_TEST_SUITE_P(
    Decks, Conversion,
    ::testing::Values("../../examples/two_stage_rectangular", "../../examples/exact_two_stage",
                      "../../examples/normal_three_stage", "../../examples/four_stage_five_group",
                      "e2e/rectangular_150", "e2e/normal_100", "e2e/invalid_samples",
                      "e2e/dfzero_error", "e2e/perfect_correlation", "reference/w22_composite",
                      "reference/w24c_symmetric", "reference/w25b_two_stage"),
    deck_test_name);

TEST(ProgramTest, DesignFilesRunAndRefuseWhatIsWrong) {
  const Scratch scratch;
  const std::string design = kData + "/../../examples/two_stage_design.toml";
  const Outcome named = run("/dev/null", {design, "--threads", "2"});
  const Outcome deck = run(kData + "/../../examples/two_stage_rectangular.deck");
  ASSERT_EQ(WEXITSTATUS(named.status), 0) << named.err;
  EXPECT_EQ(without_cpu_time(named.out), without_cpu_time(deck.out));
  EXPECT_EQ(WEXITSTATUS(run("/dev/null", {"--check", design}).status), 0);
  const std::string bad = scratch / "bad.toml";
  std::ofstream(bad) << "samples = 5\npredictors = [\"a\"]\ncriteria = [\"c\"]\n"
                        "criterion_weights = [1]\n[[stage]]\nretention = 1.5\n";
  const Outcome refused = run("/dev/null", {bad});
  ASSERT_TRUE(WIFEXITED(refused.status));
  EXPECT_EQ(WEXITSTATUS(refused.status), 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "selquant: " + bad +
                             ", line 6, column 13: stage[1].retention: must be above 0 and at "
                             "most 1\n");
  // A deck has no epoch: the conversion says how to keep the numbers.
  std::ofstream(bad) << "epoch = 1765432109\n" << slurp(design) << "\n[costs]\ncognitive = 3\n";
  const Outcome to_deck = run("/dev/null", {"--to-deck", bad});
  EXPECT_EQ(WEXITSTATUS(to_deck.status), 0);
  EXPECT_EQ(to_deck.err,
            "selquant: the deck has no place for the design's epoch 1765432109: run it with "
            "--epoch 1765432109 for the same numbers\n"
            "selquant: the deck has no place for the design's [costs] and [utility]; they are "
            "left out\n");
  std::ofstream(scratch / "epoch.deck") << to_deck.out;
  EXPECT_EQ(without_cpu_time(run(scratch / "epoch.deck", {"--epoch", "1765432109"}).out),
            without_cpu_time(run("/dev/null", {bad}).out));
  // A .toml file is a design file, even one that holds no key.
  for (auto [text, why] :
       {std::pair{"", "is empty"}, std::pair{"# to do\n\n", "holds no key, only remarks"}}) {
    std::ofstream(bad) << text;
    const Outcome empty = run("/dev/null", {bad});
    ASSERT_TRUE(WIFEXITED(empty.status));
    EXPECT_EQ(WEXITSTATUS(empty.status), 2);
    EXPECT_EQ(empty.err, "selquant: " + bad + ": the design file " + why + "\n");
  }
}

TEST(ProgramTest, AFrontOfStructuresNamesThemInTheTableTheCsvAndTheFigure) {
  const Scratch scratch;
  const std::string dir = scratch.dir();
  // Biodata renamed with a comma: the CSV quotes the structures that name it.
  std::string text = slurp(kData + "/../../examples/bobko_two_stage.toml");
  for (auto [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"\"B\"]", "\"B, bio\"]"},
           {"B = 1 }", "\"B, bio\" = 1 }"},
           {"[pareto]\n", "[costs]\nSI = 150\n\"B, bio\" = 12\n[pareto]\n"},
           {"points = 11\n",
            "points = 5\nconstraints = [\"quality >= 0.3\"]\nstructures = [[[\"CA\", \"B, bio\"], "
            "[\"SI\"]], [[\"C\"], [\"SI\", \"B, bio\"]]]\n"}}) {
    ASSERT_NE(text.find(from), std::string::npos) << from;
    text.replace(text.find(from), from.size(), to);
  }
  std::ofstream(dir + "/s.toml") << text;
  const Outcome r = run("/dev/null", {"--pareto", dir + "/s.toml", "--csv", dir + "/s.csv",
                                      "--plot", dir + "/s.svg", "--html", dir + "/s.html"});
  ASSERT_EQ(WEXITSTATUS(r.status), 0) << r.err;
  const std::vector<std::string> table = lines(r.out);
  const std::vector<std::string> csv = lines(slurp(dir + "/s.csv"));
  ASSERT_EQ(csv.size(), table.size());
  EXPECT_EQ(csv[0].rfind("point,structure,quality,ai_minority,cost,", 0), 0u) << csv[0];
  std::size_t screened = 0;  // points of each structure, in table and CSV alike
  for (std::size_t i = 1; i < csv.size(); ++i) {
    const bool first = csv[i].find(",\"CA+B, bio|SI\",") != std::string::npos;
    EXPECT_TRUE(first || csv[i].find(",\"C|SI+B, bio\",") != std::string::npos) << csv[i];
    EXPECT_EQ(table[i].find(first ? " CA+B, bio|SI " : " C|SI+B, bio "), 10u) << table[i];
    // Each pays for what enters: SI after a screen keeping half, B at the
    // first stage or the second.
    const std::vector<std::string> after = csv_rows(csv[i].substr(csv[i].rfind("\",") + 2))[0];
    const double cost = std::stod(after[2]);  // after quality and the Cum. AI
    EXPECT_DOUBLE_EQ(cost, first ? 12 + 150 * 0.5 : (150 + 12) * 0.5) << csv[i];
    screened += first;
  }
  EXPECT_GT(screened, 0u);
  EXPECT_LT(screened, csv.size() - 1);
  // The figure: a point per row coloured by its structure, a legend line per
  // structure, the bound where it maps on the quality axis.
  const std::string svg = slurp(dir + "/s.svg");
  EXPECT_EQ(xml_fault(svg), "");
  std::size_t marks = 0;
  for (std::size_t at = 0; (at = svg.find("data-structure=\"", at)) != std::string::npos; ++at)
    ++marks;
  EXPECT_EQ(marks, csv.size() - 1);
  EXPECT_NE(svg.find(">CA+B, bio|SI</text>"), std::string::npos);
  EXPECT_NE(svg.find(">C|SI+B, bio</text>"), std::string::npos);
  const std::string bound = "data-constraint=\"quality &gt;= 0.3\"";
  const std::string id = "id=\"front-y-1\"";
  const double lo = std::stod(attribute(svg, id, "data-lo"));
  const double hi = std::stod(attribute(svg, id, "data-hi"));
  const double y0 = std::stod(attribute(svg, id, "data-y0"));
  const double y1 = std::stod(attribute(svg, id, "data-y1"));
  EXPECT_NEAR(std::stod(attribute(svg, bound, "y1")), y0 + (0.3 - lo) / (hi - lo) * (y1 - y0),
              0.01);
  // The page: nothing may be fetched, nothing is linked, every row is in its
  // data as the CSV has it.
  const std::string page = slurp(dir + "/s.html");
  EXPECT_NE(page.find("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none';"),
            std::string::npos);
  for (const char* outside : {"<script src", "<link", "src=\"http", "href=\"http", "@import"})
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  const std::size_t data = page.find("<script type=\"application/json\" id=\"page-data\">");
  ASSERT_NE(data, std::string::npos);
  const std::string json = page.substr(data, page.find("</script>", data) - data);
  for (std::size_t i = 1; i < csv.size(); ++i) {
    const std::size_t from = csv[i].find(",\"") + 2;
    const std::string structure = csv[i].substr(from, csv[i].find("\",") - from);
    EXPECT_NE(json.find("[" + std::to_string(i) + ",\"" + structure + "\","), std::string::npos)
        << i;
  }
  EXPECT_NE(page.find("Made by <code>selquant --pareto "), std::string::npos);
}

TEST(ProgramTest, ParetoWritesTheFrontAndRefusesWhatIsWrong) {
  const Scratch scratch;
  const std::string design = kData + "/../../examples/bobko_two_stage.toml";
  const std::string dir = scratch.dir();
  const Outcome r = run("/dev/null", {"--pareto", design, "--csv", dir + "/front.csv", "--plot",
                                      dir + "/front.svg", "--threads", "2"});
  ASSERT_EQ(WEXITSTATUS(r.status), 0) << r.err;
  const auto rows = csv_rows(slurp(dir + "/front.csv"));
  ASSERT_EQ(rows[0], (std::vector<std::string>{"point", "quality", "ai_minority", "w1_CA", "w1_SI",
                                               "w1_C", "w1_B", "w2_CA", "w2_SI", "w2_C", "w2_B"}));
  ASSERT_EQ(lines(r.out).size(), rows.size());  // a heading and a line per point
  for (std::size_t i = 1; i < rows.size(); ++i) {
    // Not free in the first stage: SI and C; quality falls, Cum. AI rises.
    EXPECT_EQ(rows[i][4], "0");
    EXPECT_EQ(rows[i][5], "0");
    if (i > 1) {
      EXPECT_LT(std::stod(rows[i][1]), std::stod(rows[i - 1][1]));
      EXPECT_GT(std::stod(rows[i][2]), std::stod(rows[i - 1][2]));
    }
  }
  const std::string svg = slurp(dir + "/front.svg");
  EXPECT_EQ(xml_fault(svg), "");
  EXPECT_NE(svg.find("data-kind=\"design\""), std::string::npos);
  for (std::size_t i = 1; i < rows.size(); ++i)
    EXPECT_EQ(rows[i][0], std::to_string(i));
  // The design's diamond stands where its values, those of an ordinary run,
  // map on the axes.
  const std::string plain = run("/dev/null", {design}).out;
  const std::string after = plain.substr(plain.rfind("after stage 2 over the"));
  const double quality = std::stod(after.substr(after.find(" is ") + 4));
  const double ai = std::stod(after.substr(after.find("are\n") + 4));
  const std::string mark = "data-kind=\"design\"";
  EXPECT_NEAR(std::stod(attribute(svg, mark, "data-x")), ai, 0.0005);
  EXPECT_NEAR(std::stod(attribute(svg, mark, "data-y")), quality, 0.00005);
  auto at = [&](const std::string& axis, const char* from, const char* to, double v) {
    const std::string id = "id=\"" + axis + "\"";
    const double lo = std::stod(attribute(svg, id, "data-lo"));
    const double hi = std::stod(attribute(svg, id, "data-hi"));
    const double p0 = std::stod(attribute(svg, id, from));
    return p0 + (v - lo) / (hi - lo) * (std::stod(attribute(svg, id, to)) - p0);
  };
  std::istringstream path(attribute(svg, mark, "d").substr(1));
  double top_x = 0, top_y = 0;
  path >> top_x >> top_y;  // the top vertex, 6 above the value
  EXPECT_NEAR(top_x,
              at("front-x-1", "data-x0", "data-x1", std::stod(attribute(svg, mark, "data-x"))),
              0.01);
  EXPECT_NEAR(top_y + 6,
              at("front-y-1", "data-y0", "data-y1", std::stod(attribute(svg, mark, "data-y"))),
              0.01);
  // The same front with one thread, showing progress.
  const Outcome one = run("/dev/null", {"--pareto", design, "--threads", "1", "--progress"});
  EXPECT_EQ(one.out, r.out);
  const std::string shown = lines(one.err).back();
  const std::size_t slash = shown.find('/');
  EXPECT_EQ(shown.rfind("selquant: ", 0), 0u);
  EXPECT_EQ(shown.substr(10, slash - 10) + " searches",
            shown.substr(slash + 1, shown.find(',') - slash - 1))
      << shown;
  // Constraints that leave no design: the table's heading, and where they fail.
  std::string none = slurp(design);
  none.replace(none.find("objectives = [\"quality\", \"ai:minority\"]"), 39,
               "objectives = [\"quality\"]\nconstraints = [\"ai:* >= 0.99\"]");
  std::ofstream(dir + "/none.toml") << none;
  const Outcome unmet = run("/dev/null", {"--pareto", dir + "/none.toml"});
  EXPECT_EQ(WEXITSTATUS(unmet.status), 0);
  EXPECT_EQ(lines(unmet.out).size(), 1u);
  EXPECT_EQ(unmet.err.rfind("selquant: no design meets the constraints; the nearest is "
                            "'ai:minority >= 0.99', where the nearest design reaches 0.",
                            0),
            0u)
      << unmet.err;
  const Outcome full = run("/dev/null", {"--pareto", design, "--csv", "/dev/full"});
  EXPECT_EQ(WEXITSTATUS(full.status), 3);
  EXPECT_EQ(full.err,
            "selquant: the CSV file '/dev/full' could not be written: No space left on device\n");
  for (auto [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--pareto", kData + "/../../examples/two_stage_design.toml"},
            "selquant: " + kData +
                "/../../examples/two_stage_design.toml: no [pareto] table: its objectives are "
                "needed\n"},
           {{"--pareto", kData + "/e2e/normal_100.deck"},
            "selquant: --pareto needs a design file with a [pareto] table\n"},
           {{"--pareto", design, "--inputs-csv", dir + "/x.csv"},
            "selquant: --pareto writes the front: --csv, --plot and --html carry it\n"}}) {
    const Outcome bad = run("/dev/null", args);
    EXPECT_EQ(WEXITSTATUS(bad.status), 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, message);
  }
}

}  // namespace
