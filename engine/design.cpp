#include "engine/design.hpp"

namespace selquant {
namespace {

std::vector<std::string> numbered(const char* base, int n) {
  std::vector<std::string> names;
  for (int i = 1; i <= n; ++i)
    names.push_back(std::string(base) + "_" + std::to_string(i));
  return names;
}

template <class M>
UncertainMatrix matrix_of(const M& first, const M& second, int n) {
  UncertainMatrix r(static_cast<std::size_t>(n),
                    std::vector<Uncertain>(static_cast<std::size_t>(n)));
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j)
      r[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)] = {first(i, j),
                                                                             second(i, j)};
  return r;
}

// An element of a design's vector or matrix by its 1-based indices.
template <class V>
const auto& at(const V& v, int i) {
  return v[static_cast<std::size_t>(i - 1)];
}
template <class V>
const auto& at(const V& v, int i, int j) {
  return v[static_cast<std::size_t>(i - 1)][static_cast<std::size_t>(j - 1)];
}

}  // namespace

Design design_of(const Problem& p, const Model& deck) {
  const Wdca& a = deck.wdca;
  Design d;
  d.sampling = p.smode;
  d.samples = p.nsamp;
  d.predictors = numbered("predictor", a.npred);
  d.criteria = numbered("criterion", a.ncrit);
  for (int c = 1; c <= a.ncrit; ++c)
    d.criterion_weights.push_back(a.cw(c));
  for (int s = 1; s <= a.nstage; ++s) {
    Design::Stage st;
    st.retention = a.rr(s);
    for (int j = 1; j <= a.npred; ++j)
      st.weights.push_back(deck.wdcc.b(s, j));
    d.stages.push_back(std::move(st));
  }
  const std::vector<std::string> groups = numbered("group", a.ngroup);
  for (int g = 1; g <= a.ngroup; ++g) {
    Design::Group gr;
    gr.name = groups[static_cast<std::size_t>(g - 1)];
    gr.proportion = a.prop(g);
    for (int c = 1; c <= a.ncrit; ++c)
      gr.criterion_d.push_back({p.dc1(g, c), p.dc2(g, c)});
    for (int j = 1; j <= a.npred; ++j)
      gr.predictor_d.push_back({p.dp1(g, j), p.dp2(g, j)});
    d.groups.push_back(std::move(gr));
  }
  d.criterion_r = matrix_of(p.rc1, p.rc2, a.ncrit);
  d.predictor_r = matrix_of(p.rp1, p.rp2, a.npred);
  d.validities.assign(static_cast<std::size_t>(a.ncrit), {});
  for (int c = 1; c <= a.ncrit; ++c)
    for (int j = 1; j <= a.npred; ++j)
      d.validities[static_cast<std::size_t>(c - 1)].push_back({p.val1(c, j), p.val2(c, j)});
  return d;
}

Design expected_design(const Design& d) {
  Design e = d;
  e.sampling = kExact;
  e.samples = 1;
  auto mid = [&d](Uncertain& u) {
    if (d.sampling == kRectangular)
      u.first = static_cast<float>((static_cast<double>(u.first) + u.second) / 2);
    u.second = u.first;
  };
  for (Design::Group& g : e.groups) {
    for (Uncertain& u : g.criterion_d)
      mid(u);
    for (Uncertain& u : g.predictor_d)
      mid(u);
    g.uncertain_proportion.reset();
  }
  for (UncertainMatrix* r : {&e.criterion_r, &e.predictor_r, &e.validities})
    for (auto& row : *r)
      for (Uncertain& u : row)
        mid(u);
  return e;
}

void problem_of(const Design& d, Problem& p, Model& deck) {
  p = Problem{};
  deck = Model{};
  Wdca& a = deck.wdca;
  p.smode = d.sampling;
  p.nsamp = d.samples;
  a.ncrit = static_cast<int>(d.criteria.size());
  a.nstage = static_cast<int>(d.stages.size());
  a.npred = static_cast<int>(d.predictors.size());
  a.ngroup = static_cast<int>(d.groups.size());
  const bool exact = p.smode == kExact;
  // An uncertain value's second row: in exact mode the first.
  auto second = [exact](const Uncertain& u) { return exact ? u.first : u.second; };
  for (int g = 1; g <= a.ngroup; ++g) {
    const Design::Group& gr = at(d.groups, g);
    a.prop(g) = gr.proportion;
    p.prop1(g) = static_cast<float>(a.prop(g));
    p.prop2(g) = p.smode == kNormal ? 0.0f : p.prop1(g);
    if (gr.uncertain_proportion && !exact) {
      p.prop1(g) = gr.uncertain_proportion->first;
      p.prop2(g) = gr.uncertain_proportion->second;
    }
  }
  for (int s = 1; s <= a.nstage; ++s) {
    a.rr(s) = at(d.stages, s).retention;
    deck.wdcd.np(s) = a.npred;
    for (int j = 1; j <= a.npred; ++j)
      deck.wdcc.b(s, j) = at(at(d.stages, s).weights, j);
  }
  for (int g = 1; g <= a.ngroup; ++g) {
    const Design::Group& gr = at(d.groups, g);
    for (int c = 1; c <= a.ncrit; ++c) {
      p.dc1(g, c) = at(gr.criterion_d, c).first;
      p.dc2(g, c) = second(at(gr.criterion_d, c));
    }
    for (int j = 1; j <= a.npred; ++j) {
      p.dp1(g, j) = at(gr.predictor_d, j).first;
      p.dp2(g, j) = second(at(gr.predictor_d, j));
    }
  }
  for (int c = 1; c <= a.ncrit; ++c)
    a.cw(c) = at(d.criterion_weights, c);
  // Correlation matrices: unit diagonals (also in the sample matrices).
  for (int i = 1; i <= a.ncrit; ++i) {
    a.rcc(i, i) = 1.0;
    for (int j = 1; j <= a.ncrit; ++j) {
      p.rc1(i, j) = i == j ? 1.0f : at(d.criterion_r, i, j).first;
      p.rc2(i, j) = i == j ? 1.0f : second(at(d.criterion_r, i, j));
    }
  }
  for (int i = 1; i <= a.npred; ++i) {
    deck.wdcd.rpp(i, i) = 1.0;
    for (int j = 1; j <= a.npred; ++j) {
      p.rp1(i, j) = i == j ? 1.0f : at(d.predictor_r, i, j).first;
      p.rp2(i, j) = i == j ? 1.0f : second(at(d.predictor_r, i, j));
    }
  }
  for (int c = 1; c <= a.ncrit; ++c) {
    for (int j = 1; j <= a.npred; ++j) {
      p.val1(c, j) = at(d.validities, c, j).first;
      p.val2(c, j) = second(at(d.validities, c, j));
    }
  }
}

}  // namespace selquant
