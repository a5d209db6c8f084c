// The values saved of every counted pass, and the summary over them:
// averages and percentiles of the quality of all selected and of every
// group's Cum. AI.
#pragma once

#include <array>
#include <memory>

#include "engine/blocks.hpp"

namespace selquant {

// Saved per-pass results of the counted passes, in single precision.
struct Saved {
  int count = 0;        // passes counted
  int not_counted = 0;  // passes skipped or with a value that is not finite
  // (stage, pass) and (stage, pass, group), pass 1..kMaxSamples. Left
  // uninitialized: only the slots of counted passes are ever written and read,
  // and untouched pages cost nothing.
  std::unique_ptr<float[]> savs{new float[static_cast<std::size_t>(kMaxStages) * kMaxSamples]};
  std::unique_ptr<float[]> sais{
      new float[static_cast<std::size_t>(kMaxStages) * kMaxSamples * kMaxGroups]};
  // Every group's quality and Stage AI, as sais.
  std::unique_ptr<float[]> sqgs{
      new float[static_cast<std::size_t>(kMaxStages) * kMaxSamples * kMaxGroups]};
  std::unique_ptr<float[]> ssts{
      new float[static_cast<std::size_t>(kMaxStages) * kMaxSamples * kMaxGroups]};
  std::unique_ptr<float[]> hsais{new float[kMaxSamples]};  // sort buffer
  Vec<double, kMaxStages> avq;                             // sums, then averages
  Mat<double, kMaxStages, kMaxGroups> avai;                // sums, then averages
  float& q(int s, int k) { return savs[static_cast<std::size_t>(s - 1) + kMaxStages * (k - 1)]; }
  static std::size_t at(int s, int k, int g) {
    return static_cast<std::size_t>(s - 1) +
           kMaxStages *
               (static_cast<std::size_t>(k - 1) + static_cast<std::size_t>(kMaxSamples) * (g - 1));
  }
  float& ai(int s, int k, int g) { return sais[at(s, k, g)]; }
  float& qg(int s, int k, int g) { return sqgs[at(s, k, g)]; }
  float& st(int s, int k, int g) { return ssts[at(s, k, g)]; }
};

// Saves the pass's qall and Cum. AI when all are finite (with every group's
// quality and Stage AI, which may not be); counts it otherwise.
void save_pass(Saved& saved, const Model& m);

// Percentile points of the summary.
inline constexpr std::array<int, 9> kPercentiles = {1, 5, 10, 25, 50, 75, 90, 95, 99};

// The summary over the counted passes: averages of the quality of all selected
// and of every group's Cum. AI per stage and, with at least 100 counted passes
// of a sampled problem, their percentiles (values of the sorted series, in
// single precision as saved). Beside them, every group's quality and Stage
// AI, over the counted passes where they are finite (a group none of which
// passes has no quality; a stage nobody enters, no Stage AI): not a number
// where there is none, percentiles only of 100 or more.
struct Summary {
  int count = 0;
  int not_counted = 0;
  Vec<double, kMaxStages> avq;
  Mat<double, kMaxStages, kMaxGroups> avai;
  bool percentiles = false;
  std::array<std::array<float, kPercentiles.size()>, kMaxStages> q{};  // (stage)(point)
  using GroupPoints =
      std::array<std::array<std::array<float, kPercentiles.size()>, kMaxGroups>, kMaxStages>;
  GroupPoints ai{};                          // (stage)(group)(point)
  Mat<double, kMaxStages, kMaxGroups> avqg;  // groups' quality
  Mat<double, kMaxStages, kMaxGroups> avst;  // groups' Stage AI
  GroupPoints qg{};
  GroupPoints st{};
};
// Sorts the saved series (in the sort buffer) into the summary.
Summary summarize(int smode, const Model& m, Saved& saved);

}  // namespace selquant
