#include "formats/design_file.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>

#include "engine/summary.hpp"
#include "textio/shortest.hpp"

namespace selquant {
namespace {

// The keys of each table of a design file: the one place that maps them.
constexpr std::array<std::string_view, 12> kTopKeys = {
    "sampling", "samples", "epoch",        "predictors", "criteria", "criterion_weights",
    "stage",    "group",   "correlations", "pareto",     "costs",    "utility"};
constexpr std::array<std::string_view, 2> kUtilityKeys = {"applicants", "sdy"};
constexpr std::array<std::string_view, 9> kParetoKeys = {"objectives", "points",      "free",
                                                         "signs",      "uncertainty", "samples",
                                                         "retention",  "constraints", "structures"};
// "structures = \"all\"" is refused beyond this many: each is a search of its own.
constexpr std::size_t kMostStructures = 5000;
constexpr std::array<std::string_view, 2> kRangeKeys = {"low", "high"};
constexpr std::array<std::string_view, 2> kStageKeys = {"retention", "weights"};
constexpr std::array<std::string_view, 4> kGroupKeys = {"name", "proportion", "criterion_d",
                                                        "predictor_d"};
constexpr std::array<std::string_view, 3> kCorrelationKeys = {"predictors", "criteria",
                                                              "validities"};
constexpr std::array<std::string_view, 4> kUncertainKeys = {"low", "high", "mean", "sd"};
// The sampling modes by name, in the order of their numbers.
constexpr std::array<std::string_view, 3> kSamplingNames = {"exact", "normal", "rectangular"};

// An error at a place of the file; caught once, at the top.
struct Fail {
  std::string message;
};

// Edit distance, for the nearest known key.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j)
    row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The nearest of the names within a few edits, or an empty string.
template <class Names>
std::string nearest(std::string_view key, const Names& names) {
  std::string best;
  // Two edits (a transposition) in a longer name, one in a short one.
  const std::size_t most = key.size() >= 6 ? 2 : 1;
  for (const auto& n : names) {
    const std::size_t d = distance(key, n);
    if (d <= most && (best.empty() || d < distance(key, best))) best = std::string(n);
  }
  return best;
}

// The forms of an uncertain value.
enum class Form { plain, range, normal };

// An uncertain value as written, converted once the sampling mode is known.
struct Pending {
  Uncertain* into;
  Form form;
  double a;
  double b;
  bool correlation;  // bounded by -1 and 1
  std::string path;
  const toml::node* at;
};

class Reader {
 public:
  Reader(const toml::table& root, std::string file) : root_(root), file_(std::move(file)) {}

  // The [pareto] table of a design already read.
  void read_pareto(const Design& d, ParetoPlan& plan) const {
    const toml::node* n = root_.get("pareto");
    if (n == nullptr) fail(&root_, "", "no [pareto] table: its objectives are needed");
    const toml::table* t = n->as_table();
    if (t == nullptr) fail(n, "pareto", "must be a table");
    known(*t, "pareto", kParetoKeys);
    const toml::array& objectives = array(need(*t, "objectives", "pareto", t), "pareto.objectives");
    for (std::size_t i = 0; i < objectives.size(); ++i) {
      const std::string path = index("pareto.objectives", i);
      const auto name = objectives[i].value_exact<std::string>();
      if (!name)
        fail(&objectives[i], path,
             "an objective: \"quality\", \"ai:GROUP\", \"cost\" or \"utility\"");
      for (const Objective& o : plan.objectives)
        if (o.name == *name) fail(&objectives[i], path, "'" + *name + "' is named twice");
      plan.objectives.push_back(measure(*name, d, objectives[i], path, "objective"));
    }
    read_constraints(*t, d, plan);
    const std::size_t least = plan.constraints.empty() ? 2 : 1;
    if (plan.objectives.size() < least || plan.objectives.size() > 5)
      fail(&objectives, "pareto.objectives",
           std::string(least == 2 ? "2 to 5 objectives" : "1 to 5 objectives") + ", not " +
               std::to_string(plan.objectives.size()) +
               (least == 2 && plan.objectives.size() == 1 ? " (1 with constraints)" : ""));
    if (const toml::node* p = t->get("points"))
      plan.points = static_cast<int>(whole(*p, "pareto.points", 2, 1000));
    if (const toml::node* p = t->get("samples"))
      plan.samples = static_cast<int>(whole(*p, "pareto.samples", 1, kMaxSamples));
    auto choice = [&](std::string_view key, std::string_view a, std::string_view b) {
      const toml::node* c = t->get(key);
      if (c == nullptr) return false;
      const auto v = c->value_exact<std::string>();
      const std::string path = "pareto." + std::string(key);
      if (!v || (*v != a && *v != b))
        fail(c, path, "must be \"" + std::string(a) + "\" or \"" + std::string(b) + "\"");
      return *v == b;
    };
    plan.any_sign = choice("signs", "nonnegative", "any");
    plan.mean = choice("uncertainty", "expected", "mean");
    plan.free.clear();
    if (const toml::node* f = t->get("free")) {
      const toml::array& stages = array(*f, "pareto.free");
      if (stages.size() != d.stages.size())
        fail(f, "pareto.free",
             std::to_string(stages.size()) + " stages of free predictors for " +
                 std::to_string(d.stages.size()) + " stages");
      for (std::size_t s = 0; s < stages.size(); ++s) {
        const std::string path = index("pareto.free", s);
        const toml::array& row = array(stages[s], path);
        std::vector<int> free;
        for (std::size_t j = 0; j < row.size(); ++j) {
          const std::string ep = index(path, j);
          const int p = predictor(row[j], d, ep);
          if (std::find(free.begin(), free.end(), p) != free.end())
            fail(&row[j], ep, "'" + *row[j].value_exact<std::string>() + "' is named twice");
          free.push_back(p);
        }
        plan.free.push_back(free);
      }
    } else {
      plan.free = default_free(d);
    }
    read_retention(*t, d, plan);
    read_structures(*t, d, plan);
    std::size_t searched = 0;
    for (const auto& f : plan.free)
      searched += f.size();
    if (searched == 0 && !plan.searches_retention())
      fail(t, "pareto.free", "no free predictor: there is nothing to search");
  }

  // A measure by its name: "quality", "ai:GROUP", "cost" or "utility", where
  // the inputs are uncertain with "@mean" or "@pP" (P one of the report's
  // percentile points) for that statistic over the draws.
  Objective measure(const std::string& written, const Design& d, const toml::node& at,
                    const std::string& path, const char* what) const {
    const std::size_t at_sign = written.find('@');
    const std::string name = written.substr(0, at_sign);
    int statistic = Objective::kExpected;
    if (at_sign != std::string::npos) {
      const std::string s = written.substr(at_sign + 1);
      for (int p : kPercentiles)
        if (s == "p" + std::to_string(p)) statistic = p;
      if (s == "mean") statistic = Objective::kMean;
      if (statistic == Objective::kExpected)
        fail(&at, path,
             "'" + s +
                 "' is no statistic: \"mean\" or \"p1\", \"p5\", \"p10\", \"p25\", "
                 "\"p50\", \"p75\", \"p90\", \"p95\", \"p99\"");
      if (d.sampling == kExact)
        fail(&at, path,
             "'" + written + "': a statistic over draws needs a design with uncertain inputs");
    }
    std::vector<std::string> names = {"quality"};
    for (const Design::Group& g : d.groups)
      names.push_back("ai:" + g.name);
    names.push_back("cost");
    names.push_back("utility");
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) {
      const std::string near = nearest(name, names);
      fail(&at, path,
           "no " + std::string(what) + " '" + name + "'" +
               (near.empty() ? std::string("; they are \"quality\", \"ai:GROUP\", \"cost\" "
                                           "and \"utility\"")
                             : "; did you mean '" + near + "'?"));
    }
    Objective o;
    o.name = written;
    o.statistic = statistic;
    using M = Objective::Measure;
    o.measure = it == names.begin() ? M::quality
                : name == "cost"    ? M::cost
                : name == "utility" ? M::utility
                                    : M::ai;
    o.group = o.measure == M::ai ? static_cast<int>(it - names.begin()) : 0;
    if (o.measure == M::cost && d.costs.empty()) fail(&at, path, "'cost' needs a [costs] table");
    if (o.measure == M::utility && !d.utility) fail(&at, path, "'utility' needs a [utility] table");
    return o;
  }

  // pareto.constraints: "MEASURE >= BOUND" or "MEASURE <= BOUND"; "ai:*" is
  // every group's Cum. AI but the base group's.
  void read_constraints(const toml::table& t, const Design& d, ParetoPlan& plan) const {
    const toml::node* n = t.get("constraints");
    if (n == nullptr) return;
    const toml::array& all = array(*n, "pareto.constraints");
    for (std::size_t i = 0; i < all.size(); ++i) {
      const std::string path = index("pareto.constraints", i);
      const auto text = all[i].value_exact<std::string>();
      const std::string form = "a constraint: \"MEASURE >= BOUND\" or \"MEASURE <= BOUND\"";
      if (!text) fail(&all[i], path, form);
      const std::size_t op = std::min(text->find(">="), text->find("<="));
      if (op == std::string::npos) fail(&all[i], path, "'" + *text + "' is not " + form);
      auto trimmed = [](std::string v) {
        v.erase(0, v.find_first_not_of(' '));
        return v.erase(v.find_last_not_of(' ') + 1);
      };
      const std::string name = trimmed(text->substr(0, op));
      const std::string value = trimmed(text->substr(op + 2));
      char* end = nullptr;
      const double bound = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !std::isfinite(bound))
        fail(&all[i], path, "'" + value + "' is not a number");
      std::vector<std::string> each = {name};
      if (name.rfind("ai:*", 0) == 0) {
        each.clear();
        for (std::size_t g = 0; g + 1 < d.groups.size(); ++g)
          each.push_back("ai:" + d.groups[g].name + name.substr(4));
      }
      for (const std::string& m : each) {
        Constraint c;
        c.measure = measure(m, d, all[i], path, "measure");
        c.at_least = (*text)[op] == '>';
        c.bound = bound;
        c.text = m + (c.at_least ? " >= " : " <= ") + value;
        plan.constraints.push_back(c);
      }
    }
  }

  // pareto.structures: "all", or a list of structures, each per stage the
  // predictors entering there.
  void read_structures(const toml::table& t, const Design& d, ParetoPlan& plan) const {
    const toml::node* n = t.get("structures");
    if (n == nullptr) return;
    const std::string path = "pareto.structures";
    if (t.get("free") != nullptr)
      fail(n, path, "pareto.free lays out the stages too: give one of them");
    const int p = static_cast<int>(d.predictors.size());
    const int stages = static_cast<int>(d.stages.size());
    if (const auto all = n->value_exact<std::string>()) {
      if (*all != "all") fail(n, path, "must be \"all\" or a list of structures");
      const std::size_t count = count_structures(p, stages);
      if (count > kMostStructures)
        fail(n, path,
             "\"all\" makes " + std::to_string(count) + " structures of " + std::to_string(p) +
                 " predictors over " + std::to_string(stages) + " stages, more than " +
                 std::to_string(kMostStructures));
      if (count == 0)
        fail(n, path,
             "\"all\" makes no structure: " + std::to_string(p) + " predictors cannot enter at " +
                 std::to_string(stages) + " stages");
      plan.structures = all_structures(p, stages);
      plan.free = default_free(d);
      return;
    }
    const toml::array& list = array(*n, path);
    if (list.empty()) fail(n, path, "lists no structure");
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string sp = index(path, i);
      const toml::array& st = array(list[i], sp);
      if (st.size() != d.stages.size())
        fail(&list[i], sp,
             std::to_string(st.size()) + " stages of entering predictors for " +
                 std::to_string(d.stages.size()) + " stages");
      Structure s;
      std::vector<int> entered;
      for (std::size_t g = 0; g < st.size(); ++g) {
        const std::string gp = index(sp, g);
        const toml::array& row = array(st[g], gp);
        std::vector<int> entering;
        for (std::size_t j = 0; j < row.size(); ++j) {
          const std::string ep = index(gp, j);
          const int q = predictor(row[j], d, ep);
          if (std::find(entered.begin(), entered.end(), q) != entered.end())
            fail(&row[j], ep,
                 "'" + d.predictors[static_cast<std::size_t>(q - 1)] +
                     "' enters twice: a predictor enters at one stage");
          entered.push_back(q);
          entering.push_back(q);
        }
        if (entered.empty())
          fail(&st[g], gp, "no predictor entered by stage " + std::to_string(g + 1));
        s.push_back(entering);
      }
      for (std::size_t e = 0; e < plan.structures.size(); ++e) {
        bool equal = true;
        for (std::size_t g = 0; g < s.size(); ++g) {
          std::vector<int> a = s[g], b = plan.structures[e][g];
          std::sort(a.begin(), a.end());
          std::sort(b.begin(), b.end());
          equal = equal && a == b;
        }
        if (equal) fail(&list[i], sp, "is structure " + std::to_string(e + 1) + " again");
      }
      plan.structures.push_back(s);
    }
    plan.free = default_free(d);
  }

  // A predictor by its name, 1-based.
  int predictor(const toml::node& v, const Design& d, const std::string& path) const {
    const auto name = v.value_exact<std::string>();
    if (!name) fail(&v, path, "a predictor name");
    const auto it = std::find(d.predictors.begin(), d.predictors.end(), *name);
    if (it == d.predictors.end()) {
      const std::string near = nearest(*name, d.predictors);
      fail(&v, path,
           "no predictor '" + *name + "'" + (near.empty() ? "" : "; did you mean '" + near + "'?"));
    }
    return static_cast<int>(it - d.predictors.begin()) + 1;
  }

  // pareto.retention: per stage a rate (fixed) or { low, high } (searched),
  // all in (0, 1], leaving rates that do not rise from stage to stage.
  void read_retention(const toml::table& t, const Design& d, ParetoPlan& plan) const {
    const toml::node* n = t.get("retention");
    if (n == nullptr) return;
    const toml::array& stages = array(*n, "pareto.retention");
    if (stages.size() != d.stages.size())
      fail(n, "pareto.retention",
           std::to_string(stages.size()) + " retention rates for " +
               std::to_string(d.stages.size()) + " stages");
    auto rate = [&](const toml::node& v, const std::string& path) {
      const double r = number(v, path);
      if (!(r > 0 && r <= 1)) fail(&v, path, "must be above 0 and at most 1");
      return r;
    };
    for (std::size_t s = 0; s < stages.size(); ++s) {
      const std::string path = index("pareto.retention", s);
      double lo = 0, hi = 0;
      if (const toml::table* range = stages[s].as_table()) {
        known(*range, path, kRangeKeys);
        lo = rate(need(*range, "low", path, range), path + ".low");
        hi = rate(need(*range, "high", path, range), path + ".high");
        if (lo > hi)
          fail(&stages[s], path,
               "low " + textio::shortest(lo) + " is above high " + textio::shortest(hi));
      } else {
        lo = hi = rate(stages[s], path);
      }
      for (std::size_t e = 0; e < s; ++e)
        if (lo > plan.retention_high[e])
          fail(&stages[s], path,
               "keeps at least " + textio::shortest(lo) + ", more than stage " +
                   std::to_string(e + 1) + " can keep (" +
                   textio::shortest(plan.retention_high[e]) + ")");
      plan.retention_low.push_back(lo);
      plan.retention_high.push_back(hi);
    }
  }

  void read(Design& d) {
    known(root_, "", kTopKeys);
    read_header(d);
    d.predictors = names("predictors", kMaxPred, "predictor");
    d.criteria = names("criteria", kMaxCrit, "criterion");
    d.criterion_weights = numbers(root_, "criterion_weights", "", d.criteria, "criterion");
    read_stages(d);
    read_groups(d);
    read_correlations(d);
    read_economics(d);
    settle(d);
  }

  // [costs]: per predictor the cost of assessing one applicant with it (those
  // left out cost 0); [utility]: applicants and sdy.
  void read_economics(Design& d) const {
    if (const toml::node* c = root_.get("costs")) {
      d.costs.assign(d.predictors.size(), 0.0);
      for_names(c, "costs", d.predictors, "predictor",
                [&](std::size_t j, const toml::node& v, const std::string& p) {
                  d.costs[j] = number(v, p);
                  if (!(d.costs[j] >= 0 && std::isfinite(d.costs[j])))
                    fail(&v, p, "must be a cost of 0 or more");
                });
    }
    if (const toml::node* u = root_.get("utility")) {
      const toml::table* t = u->as_table();
      if (t == nullptr) fail(u, "utility", "must be a table of applicants and sdy");
      known(*t, "utility", kUtilityKeys);
      Design::Utility utility;
      const toml::node& a = need(*t, "applicants", "utility", t);
      utility.applicants = number(a, "utility.applicants");
      if (!(utility.applicants > 0 && std::isfinite(utility.applicants)))
        fail(&a, "utility.applicants", "must be above 0");
      const toml::node& s = need(*t, "sdy", "utility", t);
      utility.sdy = number(s, "utility.sdy");
      if (!(utility.sdy >= 0 && std::isfinite(utility.sdy)))
        fail(&s, "utility.sdy", "must be 0 or more");
      d.utility = utility;
    }
  }

 private:
  // "FILE, line L, column C: PATH: what"; "PATH: what" for a text without a
  // file, whose lines mean nothing to the user.
  [[noreturn]] void fail(const toml::node* at, const std::string& path,
                         const std::string& what) const {
    std::string m;
    if (!file_.empty()) {
      m = file_;
      // The whole file has no place worth naming.
      if (at != nullptr && at != &root_ && at->source().begin.line > 0)
        m += ", line " + std::to_string(at->source().begin.line) + ", column " +
             std::to_string(at->source().begin.column);
      m += ": ";
    }
    if (!path.empty()) m += path + ": ";
    throw Fail{m + what};
  }

  template <class Keys>
  void known(const toml::table& t, const std::string& path, const Keys& keys) const {
    for (const auto& [key, node] : t) {
      const std::string_view k = key.str();
      if (std::find(keys.begin(), keys.end(), k) != keys.end()) continue;
      const std::string near = nearest(k, keys);
      fail(&node, join(path, std::string(k)),
           "unknown key" + (near.empty() ? std::string() : "; did you mean '" + near + "'?"));
    }
  }

  static std::string join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }
  static std::string index(const std::string& path, std::size_t i) {
    return path + "[" + std::to_string(i + 1) + "]";
  }

  const toml::node& need(const toml::table& t, std::string_view key, const std::string& path,
                         const toml::node* where) const {
    const toml::node* n = t.get(key);
    if (n == nullptr) fail(where, path, "the key '" + std::string(key) + "' is missing");
    return *n;
  }

  double number(const toml::node& n, const std::string& path) const {
    std::optional<double> v = n.value_exact<double>();
    if (const auto i = n.value_exact<std::int64_t>()) v = static_cast<double>(*i);
    if (!v) fail(&n, path, "must be a number");
    if (!std::isfinite(*v)) fail(&n, path, "must be a finite number");
    return *v;
  }

  std::int64_t whole(const toml::node& n, const std::string& path, std::int64_t lo,
                     std::int64_t hi) const {
    const auto v = n.value_exact<std::int64_t>();
    if (!v) fail(&n, path, "must be a whole number");
    if (*v < lo || *v > hi)
      fail(&n, path,
           std::to_string(*v) + " is out of range: " + std::to_string(lo) + " to " +
               std::to_string(hi));
    return *v;
  }

  const toml::array& array(const toml::node& n, const std::string& path) const {
    if (const toml::array* a = n.as_array()) return *a;
    fail(&n, path, "must be an array");
  }

  void read_header(Design& d) {
    if (const toml::node* s = root_.get("sampling")) {
      const auto name = s->value_exact<std::string>();
      const auto it = name ? std::find(kSamplingNames.begin(), kSamplingNames.end(), *name)
                           : kSamplingNames.end();
      if (it == kSamplingNames.end())
        fail(s, "sampling", "must be \"exact\", \"normal\" or \"rectangular\"");
      sampling_ = static_cast<int>(it - kSamplingNames.begin());
    }
    if (const toml::node* s = root_.get("samples"))
      d.samples = static_cast<int>(whole(*s, "samples", 1, kMaxSamples));
    // Any instant the calendar conversion takes (years up to 9999).
    if (const toml::node* e = root_.get("epoch"))
      d.epoch = whole(*e, "epoch", -62135596800, 253402300799);
  }

  std::vector<std::string> names(std::string_view key, std::size_t most, const char* what) const {
    const std::string path(key);
    const toml::array& a = array(need(root_, key, "", &root_), path);
    if (a.empty() || a.size() > most)
      fail(&a, path, "1 to " + std::to_string(most) + " names, not " + std::to_string(a.size()));
    std::vector<std::string> v;
    for (std::size_t i = 0; i < a.size(); ++i) {
      const auto name = a[i].value_exact<std::string>();
      if (!name || name->empty()) fail(&a[i], index(path, i), std::string("a ") + what + " name");
      if (std::find(v.begin(), v.end(), *name) != v.end())
        fail(&a[i], index(path, i), "'" + *name + "' is named twice");
      v.push_back(*name);
    }
    return v;
  }

  // One value per name: an array of exactly that many, or a table by name
  // (unnamed ones keep their default). Calls f(i, node, path) for each given.
  template <class F>
  void for_names(const toml::node* n, const std::string& path,
                 const std::vector<std::string>& names, const char* what, F&& f) const {
    if (const toml::array* a = n->as_array()) {
      if (a->size() != names.size())
        fail(n, path,
             std::to_string(a->size()) + (a->size() == 1 ? " value" : " values") + " for " +
                 std::to_string(names.size()) + " " + what + (names.size() == 1 ? "" : "s"));
      for (std::size_t i = 0; i < a->size(); ++i)
        f(i, (*a)[i], index(path, i));
      return;
    }
    if (const toml::table* t = n->as_table()) {
      for (const auto& [key, node] : *t) {
        const std::string k(key.str());
        const auto it = std::find(names.begin(), names.end(), k);
        if (it == names.end()) {
          const std::string near = nearest(k, names);
          fail(&node, join(path, k),
               std::string("no ") + what + " '" + k + "'" +
                   (near.empty() ? "" : "; did you mean '" + near + "'?"));
        }
        f(static_cast<std::size_t>(it - names.begin()), node, join(path, k));
      }
      return;
    }
    fail(n, path, std::string("one value per ") + what + ": an array or a table by name");
  }

  // Numbers, one per name (0 for those a table leaves out); the key is required.
  std::vector<double> numbers(const toml::table& t, std::string_view key, const std::string& path,
                              const std::vector<std::string>& names, const char* what) const {
    std::vector<double> v(names.size(), 0.0);
    for_names(
        &need(t, key, path, &t), join(path, std::string(key)), names, what,
        [&](std::size_t i, const toml::node& n, const std::string& p) { v[i] = number(n, p); });
    return v;
  }

  // Uncertain values, one per name (0 for those left out).
  void uncertains(const toml::node* n, const std::string& path,
                  const std::vector<std::string>& names, const char* what, bool correlation,
                  std::vector<Uncertain>& into) {
    if (n == nullptr) return;
    for_names(n, path, names, what, [&](std::size_t i, const toml::node& v, const std::string& p) {
      uncertain(v, p, correlation, &into[i]);
    });
  }

  // An uncertain value, kept until the sampling mode is known.
  void uncertain(const toml::node& n, const std::string& path, bool correlation, Uncertain* into) {
    Pending p{into, Form::plain, 0, 0, correlation, path, &n};
    if (const toml::table* t = n.as_table()) {
      known(*t, path, kUncertainKeys);
      const bool range = t->contains("low") || t->contains("high");
      const bool normal = t->contains("mean") || t->contains("sd");
      if (range == normal)
        fail(&n, path, "an uncertain value is { low = , high = } or { mean = , sd = }");
      const char* a = range ? "low" : "mean";
      const char* b = range ? "high" : "sd";
      p.form = range ? Form::range : Form::normal;
      p.a = number(need(*t, a, path, &n), join(path, a));
      p.b = number(need(*t, b, path, &n), join(path, b));
    } else {
      p.a = p.b = number(n, path);
    }
    pending_.push_back(p);
  }

  // An array of tables ([[stage]], [[group]]) of 1 to `most` tables.
  std::vector<const toml::table*> tables(std::string_view key, int most, const char* what,
                                         const char* more) const {
    const std::string k(key);
    const std::string range = "1 to " + std::to_string(most) + " " + what;
    const toml::node* n = root_.get(key);
    if (n == nullptr) fail(&root_, "", "no [[" + k + "]]: " + range + more);
    const toml::array& a = array(*n, k);
    if (a.empty() || a.size() > static_cast<std::size_t>(most))
      fail(n, k, range + ", not " + std::to_string(a.size()));
    std::vector<const toml::table*> v;
    for (std::size_t i = 0; i < a.size(); ++i) {
      const toml::table* t = a[i].as_table();
      if (t == nullptr) fail(&a[i], index(k, i), "must be a table");
      v.push_back(t);
    }
    return v;
  }

  void read_stages(Design& d) {
    const std::vector<const toml::table*> a = tables("stage", kMaxStages, "stages", "");
    for (std::size_t s = 0; s < a.size(); ++s) {
      const std::string path = index("stage", s);
      const toml::table* t = a[s];
      known(*t, path, kStageKeys);
      Design::Stage st;
      const toml::node& r = need(*t, "retention", path, t);
      st.retention = number(r, join(path, "retention"));
      if (!(st.retention > 0 && st.retention <= 1))
        fail(&r, join(path, "retention"), "must be above 0 and at most 1");
      st.weights = numbers(*t, "weights", path, d.predictors, "predictor");
      d.stages.push_back(std::move(st));
    }
  }

  void read_groups(Design& d) {
    const std::vector<const toml::table*> a =
        tables("group", kMaxGroups, "groups", ", the last the base group");
    d.groups.resize(a.size());
    std::vector<std::string> seen;
    for (std::size_t g = 0; g < a.size(); ++g) {
      const std::string path = index("group", g);
      const toml::table* t = a[g];
      known(*t, path, kGroupKeys);
      Design::Group& gr = d.groups[g];
      gr.name = "group_" + std::to_string(g + 1);
      if (const toml::node* name = t->get("name")) {
        const auto v = name->value_exact<std::string>();
        if (!v || v->empty()) fail(name, join(path, "name"), "a group name");
        if (std::find(seen.begin(), seen.end(), *v) != seen.end())
          fail(name, join(path, "name"), "'" + *v + "' is named twice");
        gr.name = *v;
      }
      seen.push_back(gr.name);
      const bool base = g + 1 == a.size();
      if (const toml::node* p = t->get("proportion"); p && p->is_table()) {
        // An uncertain proportion: its expected value stands for it where
        // one value is needed (the base group's rest, say).
        const std::string at = join(path, "proportion");
        if (base)
          fail(p, at, "the base group takes what the others leave: its proportion is not drawn");
        uncertain(*p, at, false, &gr.uncertain_proportion.emplace());
        const Pending& u = pending_.back();
        const bool range = u.form == Form::range;
        if (!(u.a >= 0 && u.a <= 1 && (!range || (u.b >= 0 && u.b <= 1))))
          fail(p, at, range ? "low and high must be from 0 to 1" : "mean must be from 0 to 1");
        gr.proportion = range ? (u.a + u.b) / 2 : u.a;
      } else if (p) {
        gr.proportion = number(*p, join(path, "proportion"));
        if (!(gr.proportion >= 0 && gr.proportion <= 1))
          fail(p, join(path, "proportion"), "must be from 0 to 1");
      } else if (!base) {
        fail(t, path, "the key 'proportion' is missing");
      } else {
        proportion_missing_ = true;
      }
      gr.criterion_d.resize(d.criteria.size());
      gr.predictor_d.resize(d.predictors.size());
      // Effect sizes: 0 unless given.
      uncertains(t->get("criterion_d"), join(path, "criterion_d"), d.criteria, "criterion", false,
                 gr.criterion_d);
      uncertains(t->get("predictor_d"), join(path, "predictor_d"), d.predictors, "predictor", false,
                 gr.predictor_d);
    }
    if (proportion_missing_) {
      // The base group's share: what the others leave.
      double rest = 1;
      for (std::size_t g = 0; g + 1 < d.groups.size(); ++g)
        rest -= d.groups[g].proportion;
      d.groups.back().proportion = std::max(0.0, rest);
    }
  }

  // A correlation matrix: the strict lower triangle row by row, or the full
  // symmetric matrix with a unit diagonal.
  void matrix(const toml::table& t, std::string_view key, const std::vector<std::string>& names,
              UncertainMatrix& into) {
    const std::size_t n = names.size();
    into.assign(n, std::vector<Uncertain>(n));
    for (std::size_t i = 0; i < n; ++i)
      into[i][i] = {1, 1};
    const std::string path = "correlations." + std::string(key);
    const toml::node* node = t.get(key);
    if (node == nullptr) {
      if (n > 1) fail(&t, "correlations", "the key '" + std::string(key) + "' is missing");
      return;
    }
    const toml::array& rows = array(*node, path);
    const bool full = rows.size() == n && n > 0;
    if (!full && rows.size() + 1 != n)
      fail(node, path,
           std::to_string(rows.size()) + " rows: the strict lower triangle of " +
               std::to_string(n) + " has " + std::to_string(n - 1) + ", the full matrix " +
               std::to_string(n));
    std::vector<std::vector<Uncertain*>> slot(n, std::vector<Uncertain*>(n, nullptr));
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const std::string rp = index(path, i);
      const toml::array& row = array(rows[i], rp);
      const std::size_t want = full ? n : i + 1;
      if (row.size() != want)
        fail(&rows[i], rp,
             std::to_string(row.size()) + (row.size() == 1 ? " value" : " values") + "; row " +
                 std::to_string(i + 1) + " of " + (full ? "the full matrix" : "the triangle") +
                 " has " + std::to_string(want));
      for (std::size_t j = 0; j < want; ++j) {
        const std::size_t r = full ? i : i + 1;  // the row of the matrix
        const std::string ep = index(rp, j);
        if (r == j) {
          const auto one = row[j].value_exact<double>();
          const auto one_int = row[j].value_exact<std::int64_t>();
          if (!((one && *one == 1) || (one_int && *one_int == 1)))
            fail(&row[j], ep, "the diagonal must be 1");
          continue;
        }
        uncertain(row[j], ep, true, &into[r][j]);
        mirrors_.push_back({&into[r][j], &into[j][r], full, ep, &row[j]});
      }
    }
  }

  void read_correlations(Design& d) {
    const toml::node* n = root_.get("correlations");
    const toml::table empty;
    const toml::table* t = n ? n->as_table() : &empty;
    if (t == nullptr) fail(n, "correlations", "must be a table");
    if (n) known(*t, "correlations", kCorrelationKeys);
    matrix(*t, "predictors", d.predictors, d.predictor_r);
    matrix(*t, "criteria", d.criteria, d.criterion_r);
    const toml::node* v = t->get("validities");
    if (v == nullptr) fail(n ? n : &root_, "correlations", "the key 'validities' is missing");
    d.validities.assign(d.criteria.size(), std::vector<Uncertain>(d.predictors.size()));
    std::vector<bool> given(d.criteria.size(), false);
    for_names(v, "correlations.validities", d.criteria, "criterion",
              [&](std::size_t c, const toml::node& row, const std::string& p) {
                const std::size_t before = pending_.size();
                uncertains(&row, p, d.predictors, "predictor", true, d.validities[c]);
                given[c] = pending_.size() > before;
              });
    for (std::size_t c = 0; c < given.size(); ++c)
      if (!given[c])
        fail(v, "correlations.validities",
             "the validities of criterion '" + d.criteria[c] + "' are missing");
  }

  // The sampling mode (given, or from the forms), then every value in it.
  void settle(Design& d) {
    int mode = sampling_;
    const Pending* decided = nullptr;
    for (const Pending& p : pending_) {
      if (p.form == Form::plain) continue;
      const int wants = p.form == Form::range ? kRectangular : kNormal;
      if (mode < 0) {
        mode = wants;
        decided = &p;
      } else if (mode != wants) {
        const std::string shown = p.form == Form::range ? "{ low, high }" : "{ mean, sd }";
        fail(p.at, p.path,
             decided ? shown + " beside " + (wants == kNormal ? "{ low, high }" : "{ mean, sd }") +
                           " at " + decided->path + ": a design mixes forms only with plain numbers"
                     : shown + " in a design whose sampling is \"" +
                           std::string(sampling_name(mode)) + "\"");
      }
    }
    d.sampling = mode < 0 ? kExact : mode;
    for (const Pending& p : pending_) {
      // Uncertain values are held in single precision.
      for (double v : {p.a, p.b})
        if (!std::isfinite(static_cast<float>(v)))
          fail(p.at, p.path, textio::shortest(v) + " is beyond the range of single precision");
      Uncertain u{static_cast<float>(p.a), static_cast<float>(p.b)};
      if (p.form == Form::plain && d.sampling == kNormal) u.second = 0;
      if (p.form == Form::range && p.a > p.b)
        fail(p.at, p.path,
             "low " + textio::shortest(p.a) + " is above high " + textio::shortest(p.b));
      if (p.form == Form::normal && p.b < 0)
        fail(p.at, p.path, "sd " + textio::shortest(p.b) + " is negative");
      if (p.correlation) {
        const bool inside = std::fabs(p.a) <= 1 && (p.form != Form::range || std::fabs(p.b) <= 1);
        if (!inside) fail(p.at, p.path, "a correlation must lie in [-1, 1]");
      }
      *p.into = u;
    }
    // Full matrices are symmetric: each element equals its mirror. Triangles
    // are mirrored.
    for (const Mirror& m : mirrors_) {
      if (!m.full) {
        *m.other = *m.element;
      } else if (!(*m.element == *m.other)) {
        fail(m.at, m.path, "the matrix is not symmetric: this element differs from its mirror");
      }
    }
  }

  struct Mirror {
    Uncertain* element;
    Uncertain* other;
    bool full;
    std::string path;
    const toml::node* at;
  };

  const toml::table& root_;
  std::string file_;
  int sampling_ = -1;
  bool proportion_missing_ = false;
  std::vector<Pending> pending_;
  std::vector<Mirror> mirrors_;
};

// Writing: one value as the design file has it.
std::string value_text(const Uncertain& u, int sampling) {
  using textio::shortest;
  if (sampling == kExact || (sampling == kRectangular && u.first == u.second) ||
      (sampling == kNormal && u.second == 0))
    return shortest(u.first);
  if (sampling == kRectangular)
    return "{ low = " + shortest(u.first) + ", high = " + shortest(u.second) + " }";
  return "{ mean = " + shortest(u.first) + ", sd = " + shortest(u.second) + " }";
}

template <class V, class F>
std::string list(const V& v, F&& f) {
  std::string s = "[";
  for (std::size_t i = 0; i < v.size(); ++i)
    s += (i > 0 ? ", " : "") + f(v[i]);
  return s + "]";
}

// A matrix as its strict lower triangle, row by row.
std::string triangle(const UncertainMatrix& r, int sampling) {
  std::string s = "[";
  for (std::size_t i = 1; i < r.size(); ++i) {
    s += i > 1 ? ",\n  [" : "\n  [";
    for (std::size_t j = 0; j < i; ++j)
      s += (j > 0 ? ", " : "") + value_text(r[i][j], sampling);
    s += "]";
  }
  return s + (r.size() > 1 ? "\n]" : "]");
}

}  // namespace

std::string quoted(std::string_view s) {
  std::string q = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      q += '\\';
      q += c;
    } else if (u < 0x20 || u == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      q += buf;
    } else {
      q += c;
    }
  }
  return q + "\"";
}

std::string_view sampling_name(int sampling) {
  return kSamplingNames[static_cast<std::size_t>(sampling)];
}

bool is_design_text(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '#') {
      const std::size_t end = text.find('\n', i);
      i = end == std::string_view::npos ? text.size() : end;
    } else {
      return std::string_view("0123456789+-.,/*").find(c) == std::string_view::npos;
    }
  }
  return false;
}

std::string read_design(std::string_view text, const std::string& file, Design& d) {
  d = Design{};
  try {
    const toml::table root = toml::parse(text, file);
    if (root.empty())
      return file + (text.find_first_not_of(" \t\r\n") == std::string_view::npos
                         ? ": the design file is empty"
                         : ": the design file holds no key, only remarks");
    Reader(root, file).read(d);
  } catch (const toml::parse_error& e) {
    return file + ", line " + std::to_string(e.source().begin.line) + ", column " +
           std::to_string(e.source().begin.column) +
           ": not valid TOML: " + std::string(e.description());
  } catch (const Fail& f) {
    return f.message;
  }
  return {};
}

std::string read_pareto(std::string_view text, const std::string& file, const Design& d,
                        ParetoPlan& plan) {
  plan = ParetoPlan{};
  try {
    const toml::table root = toml::parse(text, file);
    Reader(root, file).read_pareto(d, plan);
  } catch (const toml::parse_error& e) {
    return file + ": not valid TOML: " + std::string(e.description());
  } catch (const Fail& f) {
    return f.message;
  }
  return {};
}

std::string write_design(const Design& d) {
  using textio::shortest;
  auto names = [](const std::vector<std::string>& v) { return list(v, quoted); };
  std::ostringstream o;
  o << "sampling = " << quoted(sampling_name(d.sampling)) << "\n";
  o << "samples = " << d.samples << "\n";
  if (d.epoch) o << "epoch = " << *d.epoch << "\n";
  o << "\npredictors = " << names(d.predictors) << "\n";
  o << "criteria = " << names(d.criteria) << "\n";
  o << "criterion_weights = " << list(d.criterion_weights, [](double v) { return shortest(v); })
    << "\n";
  for (const Design::Stage& s : d.stages) {
    o << "\n[[stage]]\nretention = " << shortest(s.retention) << "\n";
    o << "weights = " << list(s.weights, [](double v) { return shortest(v); }) << "\n";
  }
  auto values = [&](const std::vector<Uncertain>& v) {
    return list(v, [&](const Uncertain& u) { return value_text(u, d.sampling); });
  };
  for (const Design::Group& g : d.groups) {
    o << "\n[[group]]\nname = " << quoted(g.name) << "\n";
    o << "proportion = "
      << (g.uncertain_proportion ? value_text(*g.uncertain_proportion, d.sampling)
                                 : shortest(g.proportion))
      << "\n";
    o << "criterion_d = " << values(g.criterion_d) << "\n";
    o << "predictor_d = " << values(g.predictor_d) << "\n";
  }
  o << "\n[correlations]\n";
  o << "predictors = " << triangle(d.predictor_r, d.sampling) << "\n";
  o << "criteria = " << triangle(d.criterion_r, d.sampling) << "\n";
  o << "validities = [";
  for (std::size_t c = 0; c < d.validities.size(); ++c)
    o << (c > 0 ? ",\n  " : "\n  ") << values(d.validities[c]);
  o << "\n]\n";
  if (!d.costs.empty()) {
    o << "\n[costs]\n";
    for (std::size_t j = 0; j < d.predictors.size(); ++j)
      o << quoted(d.predictors[j]) << " = " << shortest(d.costs[j]) << "\n";
  }
  if (d.utility)
    o << "\n[utility]\napplicants = " << shortest(d.utility->applicants)
      << "\nsdy = " << shortest(d.utility->sdy) << "\n";
  return o.str();
}

}  // namespace selquant
