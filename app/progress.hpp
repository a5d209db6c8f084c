// Progress of a run on standard error: passes done of all, elapsed and
// estimated remaining time. On a terminal one line kept up to date in place;
// elsewhere a plain line now and then.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace selquant {

enum class ProgressMode { none, live, plain };

class Progress {
 public:
  using Clock = std::chrono::steady_clock;
  // unit names what is counted ("passes", "searches").
  Progress(ProgressMode mode, int total, std::FILE* to = stderr, std::string unit = "passes");
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // done passes of all are finished; writes when enough time has passed.
  void update(int done);
  // Ends the display (the live line gets its line end).
  void finish();

  // The text of one report: "selquant: 120/1000 passes, 0:12 elapsed, 1:28 left".
  static std::string line(int done, int total, double elapsed_seconds,
                          const std::string& unit = "passes");

 private:
  void write(int done, Clock::time_point now);

  ProgressMode mode_;
  int total_;
  std::FILE* to_;
  std::string unit_;
  Clock::time_point start_;
  Clock::time_point last_;
  bool shown_ = false;
};

}  // namespace selquant
