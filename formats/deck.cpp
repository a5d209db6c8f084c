#include "formats/deck.hpp"

#include <array>
#include <sstream>

#include "formats/findings.hpp"
#include "textio/shortest.hpp"

namespace selquant {
namespace {

// A full symmetric matrix from its read upper triangle; unit diagonal.
template <class M>
void mirror(M& r, int n) {
  for (int i = 2; i <= n; ++i)
    for (int j = 1; j < i; ++j)
      r(i, j) = r(j, i);
}

// What each of the twelve reads holds, for messages that name one.
constexpr std::array<const char*, 12> kRecords = {
    "counts and group proportions",
    "retention rates",
    "stage weights",
    "effect sizes, first row",
    "effect sizes, second row",
    "criterion weights",
    "criterion correlations, first matrix",
    "criterion correlations, second matrix",
    "predictor correlations, first matrix",
    "predictor correlations, second matrix",
    "validities, first matrix",
    "validities, second matrix",
};

// What one read statement fills, with its stage, group, criterion or
// predictor: "effect sizes of group 2, first row".
std::string read_label(int record, int index) {
  const std::string i = std::to_string(index);
  switch (record) {
    case 3:
      return "predictor weights of stage " + i;
    case 4:
    case 5:
      return "effect sizes of group " + i + (record == 4 ? ", first row" : ", second row");
    case 7:
    case 8:
      return "correlations of criterion " + i +
             (record == 7 ? ", first matrix" : ", second matrix");
    case 9:
    case 10:
      return "correlations of predictor " + i +
             (record == 9 ? ", first matrix" : ", second matrix");
    case 11:
    case 12:
      return "validities for criterion " + i +
             (record == 11 ? ", first matrix" : ", second matrix");
    default:
      return kRecords[static_cast<std::size_t>(record - 1)];
  }
}

// The message for a value of read `record` that did not fit its kind, or an
// empty string. Uncertain values are single precision, the others double.
std::string overflow(textio::ListReader& in, int record) {
  const std::string value = in.take_overflow();
  if (value.empty()) return {};
  const bool single = record >= 4 && record != 6;
  return "line " + std::to_string(in.overflow_line()) + ": read " + std::to_string(record) + " (" +
         kRecords[static_cast<std::size_t>(record - 1)] + "): the value " + value +
         " is beyond the range of " + (single ? "single" : "double") + " precision";
}

}  // namespace

const char* record_name(int record) {
  return kRecords[static_cast<std::size_t>(record - 1)];
}

std::string read_deck(textio::ListReader& in, Problem& p, Model& m) {
  Wdca& a = m.wdca;
  Wdcd& d = m.wdcd;
  a.pi = 3.141592653589793;

  // Record 1: mode, counts, group proportions.
  in.begin(1, kRecords[0]);
  in.read(&p.smode, 1);
  in.read(&p.nsamp, 1);
  in.read(&a.ncrit, 1);
  in.read(&a.nstage, 1);
  in.read(&a.npred, 1);
  in.read(&a.ngroup, 1);
  std::string bad = check_counts(p.smode, p.nsamp, a.ncrit, a.nstage, a.npred, a.ngroup);
  if (!bad.empty()) return bad;
  in.read(a.prop.data(), a.ngroup);
  in.end();
  if (bad = overflow(in, 1); !bad.empty()) return bad;
  const bool exact = p.smode == kExact;
  for (int g = 1; g <= a.ngroup; ++g) {
    p.prop1(g) = static_cast<float>(a.prop(g));
    p.prop2(g) = p.smode == kNormal ? 0.0f : p.prop1(g);
  }
  a.zinf = 7.5;

  // Record 2: cumulative retention rates.
  in.begin(2, kRecords[1]);
  in.read(a.rr.data(), a.nstage);
  in.end();
  if (bad = overflow(in, 2); !bad.empty()) return bad;

  // Record 3: the predictor weights of each stage.
  for (int s = 1; s <= a.nstage; ++s) {
    d.np(s) = a.npred;
    in.begin(3, read_label(3, s));
    for (int j = 1; j <= a.npred; ++j)
      in.read(&m.wdcc.b(s, j), 1);
    in.end();
  }
  if (bad = overflow(in, 3); !bad.empty()) return bad;

  // Records 4 and 5: criterion, then predictor effect sizes of each group.
  auto read_effects = [&](Mat<float, kMaxGroups, kMaxCrit>& dc,
                          Mat<float, kMaxGroups, kMaxPred>& dp, int record) {
    for (int g = 1; g <= a.ngroup; ++g) {
      in.begin(record, read_label(record, g));
      for (int c = 1; c <= a.ncrit; ++c)
        in.read(&dc(g, c), 1);
      for (int j = 1; j <= a.npred; ++j)
        in.read(&dp(g, j), 1);
      in.end();
    }
  };
  read_effects(p.dc1, p.dp1, 4);
  if (bad = overflow(in, 4); !bad.empty()) return bad;
  if (exact) {
    p.dc2 = p.dc1;
    p.dp2 = p.dp1;
  } else {
    read_effects(p.dc2, p.dp2, 5);
    if (bad = overflow(in, 5); !bad.empty()) return bad;
  }

  // Record 6: criterion weights.
  in.begin(6, kRecords[5]);
  in.read(a.cw.data(), a.ncrit);
  in.end();
  if (bad = overflow(in, 6); !bad.empty()) return bad;

  // Records 7 to 10: upper triangles of the criterion and predictor correlations.
  auto read_triangle = [&](auto& r, int n, int record) {
    for (int i = 1; i < n; ++i) {
      in.begin(record, read_label(record, i));
      for (int j = i + 1; j <= n; ++j)
        in.read(&r(i, j), 1);
      in.end();
    }
  };
  // Both rows of a correlation matrix with unit diagonals (also in the sample
  // matrix), the second row a copy of the first in exact mode; mirrored.
  auto read_correlations = [&](auto& sample, auto& first, auto& second, int n,
                               int record) -> std::string {
    for (int i = 1; i <= n; ++i) {
      sample(i, i) = 1.0;
      first(i, i) = 1.0f;
      second(i, i) = 1.0f;
    }
    read_triangle(first, n, record);
    if (std::string o = overflow(in, record); !o.empty()) return o;
    if (exact) {
      second = first;
    } else {
      read_triangle(second, n, record + 1);
      if (std::string o = overflow(in, record + 1); !o.empty()) return o;
    }
    mirror(first, n);
    mirror(second, n);
    return {};
  };
  if (bad = read_correlations(a.rcc, p.rc1, p.rc2, a.ncrit, 7); !bad.empty()) return bad;
  if (bad = read_correlations(d.rpp, p.rp1, p.rp2, a.npred, 9); !bad.empty()) return bad;

  // Records 11 and 12: validities, one row per criterion dimension.
  auto read_validities = [&](Mat<float, kMaxCrit, kMaxPred>& val, int record) {
    for (int c = 1; c <= a.ncrit; ++c) {
      in.begin(record, read_label(record, c));
      for (int j = 1; j <= a.npred; ++j)
        in.read(&val(c, j), 1);
      in.end();
    }
  };
  read_validities(p.val1, 11);
  if (bad = overflow(in, 11); !bad.empty()) return bad;
  if (exact) {
    p.val2 = p.val1;
  } else {
    read_validities(p.val2, 12);
    if (bad = overflow(in, 12); !bad.empty()) return bad;
  }
  return {};
}

}  // namespace selquant

namespace selquant {

std::string read_and_check(std::istream& in, Problem& p, Model& m, bool read_to_end,
                           std::vector<std::string>& findings) {
  textio::ListReader reader(in);
  if (std::string bad = read_deck(reader, p, m); !bad.empty()) return bad;
  findings = reader.take_notes();
  if (read_to_end)
    if (std::string rest = reader.trailing_lines(); !rest.empty()) findings.push_back(rest);
  for (std::string& f : deck_findings(p, m))
    findings.push_back(std::move(f));
  return {};
}

}  // namespace selquant

namespace selquant {

std::string check_deck(std::istream& in, Problem& p, Model& m, bool read_to_end,
                       std::vector<std::string>& findings) {
  try {
    return read_and_check(in, p, m, read_to_end, findings);
  } catch (const textio::InputError& e) {
    return e.located().empty() ? e.what() : e.located();
  }
}

std::string write_deck(const Design& d) {
  using textio::shortest;
  std::ostringstream o;
  const bool exact = d.sampling == kExact;
  // One read: its values, then a remark from column 40 on.
  auto line = [&o](const std::string& values, const std::string& remark) {
    constexpr std::size_t kRemarkColumn = 40;
    o << values;
    if (!remark.empty())
      o << std::string(values.size() < kRemarkColumn ? kRemarkColumn - values.size() : 2, ' ')
        << remark;
    o << '\n';
  };
  auto join = [](const auto& v, auto&& text) {
    std::string s;
    for (const auto& x : v)
      s += (s.empty() ? "" : " ") + text(x);
    return s;
  };
  auto dbl = [](double v) { return shortest(v); };
  std::string first = std::to_string(d.sampling) + " " + std::to_string(d.samples) + " " +
                      std::to_string(d.criteria.size()) + " " + std::to_string(d.stages.size()) +
                      " " + std::to_string(d.predictors.size()) + " " +
                      std::to_string(d.groups.size());
  for (const Design::Group& g : d.groups)
    first += " " + shortest(g.proportion);
  line(first, "read 1: mode, samples, criteria, stages, predictors, groups; proportions");
  line(join(d.stages, [](const Design::Stage& s) { return shortest(s.retention); }),
       "read 2: retention rates");
  for (std::size_t s = 0; s < d.stages.size(); ++s)
    line(join(d.stages[s].weights, dbl), "read 3: weights of stage " + std::to_string(s + 1));
  for (int row = 0; row < (exact ? 1 : 2); ++row) {
    auto value = [row](const Uncertain& u) { return shortest(row == 0 ? u.first : u.second); };
    for (const Design::Group& g : d.groups)
      line(join(g.criterion_d, value) + " " + join(g.predictor_d, value),
           "read " + std::to_string(4 + row) + ": effect sizes of " + g.name);
  }
  line(join(d.criterion_weights, dbl), "read 6: criterion weights");
  // The upper triangles, row by row, of the first and then the second matrix.
  auto triangle = [&](const UncertainMatrix& r, int record, const std::vector<std::string>& names) {
    for (int row = 0; row < (exact ? 1 : 2); ++row)
      for (std::size_t i = 0; i + 1 < r.size(); ++i) {
        std::string values;
        for (std::size_t j = i + 1; j < r.size(); ++j)
          values +=
              (values.empty() ? "" : " ") + shortest(row == 0 ? r[i][j].first : r[i][j].second);
        line(values, "read " + std::to_string(record + row) + ": correlations of " + names[i]);
      }
  };
  triangle(d.criterion_r, 7, d.criteria);
  triangle(d.predictor_r, 9, d.predictors);
  for (int row = 0; row < (exact ? 1 : 2); ++row) {
    auto value = [row](const Uncertain& u) { return shortest(row == 0 ? u.first : u.second); };
    for (std::size_t c = 0; c < d.validities.size(); ++c)
      line(join(d.validities[c], value),
           "read " + std::to_string(11 + row) + ": validities for " + d.criteria[c]);
  }
  return o.str();
}

}  // namespace selquant
