#include "formats/findings.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>

#include "engine/model.hpp"

namespace selquant {
namespace {

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// The keys of a design file that hold what each read of a deck holds.
constexpr std::array<const char*, 12> kDesignKeys = {
    "group proportion",
    "stage retention",
    "stage weights",
    "effect sizes",
    "effect sizes",
    "criterion_weights",
    "correlations.criteria",
    "correlations.criteria",
    "correlations.predictors",
    "correlations.predictors",
    "correlations.validities",
    "correlations.validities",
};

class Findings {
 public:
  // With a design, the findings name its keys and names instead of the reads.
  Findings(const Problem& p, const Model& m, const Design* names)
      : p_(p), m_(m), a_(m.wdca), names_(names) {}

  std::vector<std::string> all() {
    retention();
    weights();
    proportions();
    uncertain_values();
    base_group();
    signs();
    first_row_structure();
    return std::move(out_);
  }

 private:
  void add(std::string s) { out_.push_back(std::move(s)); }

  // Where a value is: the read of a deck, the key of a design.
  std::string in_record(int record) const {
    if (names_) return std::string(kDesignKeys[static_cast<std::size_t>(record - 1)]) + ": ";
    return "read " + std::to_string(record) + " (" + record_name(record) + "): ";
  }
  std::string group(int g) const {
    if (names_) return "group \"" + names_->groups[static_cast<std::size_t>(g - 1)].name + "\"";
    return "group " + std::to_string(g);
  }
  // An element: dp(1,2) in a deck; group "minority" predictor_d.cognitive, or
  // correlations.predictors (cognitive, interview), in a design.
  std::string element(const char* name, int i, int j) const {
    if (!names_) return std::string(name) + "(" + std::to_string(i) + "," + std::to_string(j) + ")";
    auto at = [](const std::vector<std::string>& v, int k) {
      return v[static_cast<std::size_t>(k - 1)];
    };
    const std::string n = name;
    if (n == "dc") return group(i) + " criterion_d." + at(names_->criteria, j);
    if (n == "dp") return group(i) + " predictor_d." + at(names_->predictors, j);
    const auto& rows = n == "rcc"   ? names_->criteria
                       : n == "val" ? names_->criteria
                                    : names_->predictors;
    const auto& cols = n == "rcc" ? names_->criteria : names_->predictors;
    return "(" + at(rows, i) + ", " + at(cols, j) + ")";
  }

  void retention() {
    for (int s = 1; s <= a_.nstage; ++s) {
      const double rr = a_.rr(s);
      if (!(rr > 0 && rr <= 1)) {
        add(in_record(2) + "the retention rate of stage " + std::to_string(s) + " is " + num(rr) +
            "; it must be above 0 and at most 1");
      } else if (rr == 1) {
        add(in_record(2) + "the retention rate of stage " + std::to_string(s) +
            " is 1: no cutoff within [-8, 8] keeps everyone");
      } else if (s > 1 && a_.rr(s - 1) > 0 && rr >= a_.rr(s - 1)) {
        add(in_record(2) + "the retention rate of stage " + std::to_string(s) + " (" + num(rr) +
            ") is not below that of stage " + std::to_string(s - 1) + " (" + num(a_.rr(s - 1)) +
            "): no cutoff can meet it");
      }
    }
  }

  void weights() {
    for (int s = 1; s <= a_.nstage; ++s) {
      bool any = false;
      for (int j = 1; j <= a_.npred; ++j)
        any = any || m_.wdcc.b(s, j) != 0;
      if (!any) add(in_record(3) + "stage " + std::to_string(s) + " has no nonzero weight");
    }
    if (!(criterion_variance() > 0))
      add(in_record(6) + "the criterion weights give a composite criterion of zero variance" +
          (p_.smode == kExact ? "" : " (with the first-row criterion correlations)"));
  }

  double criterion_variance() const {
    double v = 0;
    for (int c = 1; c <= a_.ncrit; ++c)
      for (int c2 = 1; c2 <= a_.ncrit; ++c2)
        v += a_.cw(c) * a_.cw(c2) * static_cast<double>(p_.rc1(c, c2));
    return v;
  }

  void proportions() {
    const int base = a_.ngroup;
    double sum = 0;
    for (int g = 1; g < base; ++g) {
      const double v = p_.prop1(g);
      if (v < 0) {
        add(in_record(1) + "the proportion of " + group(g) + " is " + num(v) + "; it counts as 0");
      } else {
        sum += v;
      }
    }
    // The base group takes the rest; a proportion given for it that says
    // otherwise is shown in the echo but not used. Single precision holds
    // each proportion to 6e-8, so their sum is sure to 1e-6.
    constexpr double kSumTolerance = 1e-6;
    if (base > 1 && sum < 1 && std::fabs(p_.prop1(base) - (1 - sum)) > kSumTolerance)
      add(in_record(1) + "the proportion of the base " + group(base) + " is " +
          num(p_.prop1(base)) + ", but " + others() + " leave it " + num(1 - sum) + ": " +
          num(1 - sum) + " is used");
    if (base > 1 && sum > 1) {
      add(in_record(1) + "the proportions of " + others() + " sum to " + num(sum) +
          ", above 1: they are scaled to sum to 1 and the base " + group(base) + " gets none");
    } else if (base > 1 && sum == 1) {
      add(in_record(1) + "the proportions of " + others() + " sum to 1: the base " + group(base) +
          " gets none");
    }
  }

  // The groups other than the base group.
  std::string others() const {
    if (names_) return "the groups before \"" + names_->groups.back().name + "\"";
    return "groups 1 to " + std::to_string(a_.ngroup - 1);
  }

  // One uncertain element: its two rows (records `first` and first + 1).
  void check(int first, const std::string& name, float one, float two, bool correlation) {
    const bool bounded = correlation && p_.smode != kNormal;
    if (bounded && !(std::fabs(one) <= 1))
      add(in_record(first) + name + " is " + num(one) + ", outside [-1, 1]");
    if (p_.smode == kExact) return;
    if (bounded && !(std::fabs(two) <= 1))
      add(in_record(first + 1) + name + " is " + num(two) + ", outside [-1, 1]");
    if (p_.smode == kRectangular && one > two)
      add("reads " + std::to_string(first) + " and " + std::to_string(first + 1) + " (" +
          record_name(first) + ", " + record_name(first + 1) + "): the lower bound of " + name +
          ", " + num(one) + ", is above its upper bound, " + num(two));
    if (p_.smode == kNormal && two < 0)
      add(in_record(first + 1) + "the standard deviation of " + name + " is " + num(two) +
          "; it must not be negative");
  }

  void uncertain_values() {
    for (int g = 1; g <= a_.ngroup; ++g) {
      for (int c = 1; c <= a_.ncrit; ++c)
        check(4, element("dc", g, c), p_.dc1(g, c), p_.dc2(g, c), false);
      for (int j = 1; j <= a_.npred; ++j)
        check(4, element("dp", g, j), p_.dp1(g, j), p_.dp2(g, j), false);
    }
    for (int i = 1; i <= a_.ncrit; ++i)
      for (int j = i + 1; j <= a_.ncrit; ++j)
        check(7, element("rcc", i, j), p_.rc1(i, j), p_.rc2(i, j), true);
    for (int i = 1; i <= a_.npred; ++i)
      for (int j = i + 1; j <= a_.npred; ++j)
        check(9, element("rpp", i, j), p_.rp1(i, j), p_.rp2(i, j), true);
    for (int c = 1; c <= a_.ncrit; ++c)
      for (int j = 1; j <= a_.npred; ++j)
        check(11, element("val", c, j), p_.val1(c, j), p_.val2(c, j), true);
  }

  // Effect sizes are measured from the base group: its own are 0 (in normal
  // mode also their standard deviations).
  void base_group() {
    const int base = a_.ngroup;
    if (base == 1) return;
    for (int record : {4, 5}) {
      if (record == 5 && p_.smode == kExact) break;
      const bool first = record == 4;
      std::string which;
      int nonzero = 0;
      auto look = [&](const char* name, int j, float v) {
        if (v == 0) return;
        if (nonzero++ == 0) which = element(name, base, j) + " = " + num(v);
      };
      for (int c = 1; c <= a_.ncrit; ++c)
        look("dc", c, first ? p_.dc1(base, c) : p_.dc2(base, c));
      for (int j = 1; j <= a_.npred; ++j)
        look("dp", j, first ? p_.dp1(base, j) : p_.dp2(base, j));
      if (nonzero == 0) continue;
      add(in_record(record) + "the base " + group(base) + " has " +
          (nonzero == 1 ? "a nonzero effect size, "
                        : std::to_string(nonzero) + " nonzero effect sizes, the first ") +
          which + "; effect sizes are measured from the base group, whose own are 0");
      return;  // one is enough to say it
    }
  }

  // A group above the base group on every predictor: most likely effect
  // sizes written as the base group's mean minus the group's, as papers often
  // give them. The centre of each value counts: the exact value, the mean, or
  // the middle of the bounds. Where the base group's own are not 0 that is
  // said already, and nothing is measured from it.
  void signs() {
    const int base = a_.ngroup;
    for (int j = 1; j <= a_.npred; ++j)
      if (p_.dp1(base, j) != 0 || p_.dp2(base, j) != 0) return;
    for (int g = 1; g < base; ++g) {
      bool above = true;
      for (int j = 1; j <= a_.npred && above; ++j) {
        const double centre = p_.smode == kRectangular
                                  ? (static_cast<double>(p_.dp1(g, j)) + p_.dp2(g, j)) / 2
                                  : p_.dp1(g, j);
        above = centre > 0;
      }
      if (above)
        add(in_record(4) + group(g) + " scores above the base " + group(base) +
            " on every predictor; effect sizes are the group's mean minus the base group's; if "
            "these are base-minus-group values, change their signs");
    }
  }

  // The correlations and validities of the first rows (in exact mode the only
  // ones) as one joint matrix.
  void first_row_structure() {
    if (!(criterion_variance() > 0)) return;  // said already
    Model first = m_;
    Wdca& a = first.wdca;
    a.vcrit = criterion_variance();
    for (int i = 1; i <= a.ncrit; ++i)
      for (int j = 1; j <= a.ncrit; ++j)
        a.rcc(i, j) = p_.rc1(i, j);
    for (int i = 1; i <= a.npred; ++i)
      for (int j = 1; j <= a.npred; ++j)
        first.wdcd.rpp(i, j) = p_.rp1(i, j);
    for (int c = 1; c <= a.ncrit; ++c)
      for (int j = 1; j <= a.npred; ++j)
        first.wdcd.val(c, j) = p_.val1(c, j);
    if (sample_is_valid(first)) return;
    // The reads that hold them: criterion and predictor correlations only
    // where there are two or more of each.
    std::string reads;
    if (a.ncrit > 1) reads = "7";
    if (a.npred > 1) reads += reads.empty() ? "9" : ", 9";
    reads = reads.empty() ? "read 11" : "reads " + reads + " and 11";
    const std::string so = p_.smode == kExact ? "every pass will be skipped"
                                              : "passes drawn near them will be skipped";
    if (names_) {
      const char* which = p_.smode == kExact    ? ""
                          : p_.smode == kNormal ? "the means of "
                                                : "the lower bounds of ";
      add(std::string("correlations: ") + which +
          "the correlations and validities do not form a positive definite matrix, so " + so);
    } else {
      add(reads +
          " (first-row correlations and validities): they do not form a positive definite "
          "matrix, so " +
          so);
    }
  }

  const Problem& p_;
  const Model& m_;
  const Wdca& a_;
  const Design* names_;
  std::vector<std::string> out_;
};

}  // namespace

std::vector<std::string> deck_findings(const Problem& p, const Model& m) {
  return Findings(p, m, nullptr).all();
}

std::vector<std::string> design_findings(const Design& d) {
  auto p = std::make_unique<Problem>();
  auto m = std::make_unique<Model>();
  problem_of(d, *p, *m);
  // An uncertain proportion is judged by its expected value.
  for (std::size_t g = 0; g < d.groups.size(); ++g)
    if (d.groups[g].uncertain_proportion)
      p->prop1(static_cast<int>(g + 1)) = static_cast<float>(d.groups[g].proportion);
  return Findings(*p, *m, &d).all();
}

}  // namespace selquant
