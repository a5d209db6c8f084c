#include "app/progress.hpp"

#include <cmath>

namespace selquant {
namespace {

// How often each kind of display is brought up to date.
constexpr std::chrono::milliseconds kLiveEvery{250};
constexpr std::chrono::seconds kPlainEvery{10};

// h:mm:ss, or m:ss under an hour.
std::string clock_text(double seconds) {
  const long s = std::lround(seconds < 0 ? 0 : seconds);
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  }
  return buf;
}

}  // namespace

Progress::Progress(ProgressMode mode, int total, std::FILE* to, std::string unit)
    : mode_(mode),
      total_(total),
      to_(to),
      unit_(std::move(unit)),
      start_(Clock::now()),
      last_(start_) {}

std::string Progress::line(int done, int total, double elapsed_seconds, const std::string& unit) {
  std::string s = "selquant: " + std::to_string(done) + "/" + std::to_string(total) + " " + unit +
                  ", " + clock_text(elapsed_seconds) + " elapsed";
  if (done > 0 && done < total)
    s += ", " + clock_text(elapsed_seconds / done * (total - done)) + " left";
  return s;
}

void Progress::update(int done) {
  if (mode_ == ProgressMode::none) return;
  const Clock::time_point now = Clock::now();
  const auto every = mode_ == ProgressMode::live
                         ? std::chrono::duration_cast<Clock::duration>(kLiveEvery)
                         : std::chrono::duration_cast<Clock::duration>(kPlainEvery);
  if (now - last_ < every) return;
  last_ = now;
  write(done, now);
}

void Progress::write(int done, Clock::time_point now) {
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const std::string text = line(done, total_, elapsed, unit_);
  if (mode_ == ProgressMode::live) {
    std::fprintf(to_, "\r%s\033[K", text.c_str());  // overwrite, then clear the rest
  } else {
    std::fprintf(to_, "%s\n", text.c_str());
  }
  std::fflush(to_);
  shown_ = true;
}

void Progress::finish() {
  // A live line is closed only if it was shown; a plain display always ends
  // with the line of the whole run.
  if (mode_ == ProgressMode::none || (mode_ == ProgressMode::live && !shown_)) return;
  write(total_, Clock::now());
  if (mode_ == ProgressMode::live) std::fputc('\n', to_);
  std::fflush(to_);
}

}  // namespace selquant
