#include "formats/figure.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <tuple>
#include <vector>

#include "formats/front.hpp"

namespace selquant {

namespace {

const char* mode_name(int smode) {
  return smode == kExact    ? "exact computation"
         : smode == kGiven  ? "given draws"
         : smode == kNormal ? "normal sampling"
                            : "rectangular sampling";
}

}  // namespace

std::string design_title(const Problem& p, const Model& m) {
  const Wdca& a = m.wdca;
  return "SELQUANT: " + std::to_string(a.nstage) + (a.nstage == 1 ? " stage, " : " stages, ") +
         std::to_string(a.ngroup) + (a.ngroup == 1 ? " group, " : " groups, ") +
         std::to_string(p.nsamp) + (p.nsamp == 1 ? " sample, " : " samples, ") + mode_name(p.smode);
}

double percentile_point(const std::vector<double>& sorted, int q) {
  const std::size_t n = sorted.size();
  std::size_t i = static_cast<std::size_t>(q) * n / 100;
  i = std::clamp<std::size_t>(i, 1, n);
  return sorted[i - 1];
}

namespace {

// The figure's layout, in pixels: one column of panels per stage.
struct Geometry {
  static constexpr double kMargin = 20;
  static constexpr double kTitle = 40;        // title band
  static constexpr double kPanelWidth = 300;  // plotting width of a stage's panels
  static constexpr double kLeft = 110;        // room for the group labels
  static constexpr double kGap = 30;          // between stage columns
  static constexpr double kHistHeight = 150;  // histogram of the quality
  static constexpr double kRow = 26;          // one group's row
  static constexpr double kAxis = 34;         // an axis with its numbers
  static constexpr double kHeading = 34;      // "Stage s" above a column
  static constexpr double kBetween = 36;      // between a column's two panels
};
using G = Geometry;

constexpr double kFourFifths = 0.8;  // the four-fifths rule of adverse impact

// Minimal SVG writer: elements with attributes, text escaped.
class Svg {
 public:
  Svg(double width, double height) : width_(width), height_(height) {}

  void open(const std::string& tag, const std::string& attrs) {
    body_ << '<' << tag << (attrs.empty() ? "" : " ") << attrs << ">\n";
  }
  void close(const std::string& tag) { body_ << "</" << tag << ">\n"; }
  void element(const std::string& tag, const std::string& attrs) {
    body_ << '<' << tag << ' ' << attrs << "/>\n";
  }
  void text(double x, double y, const std::string& s, const std::string& cls,
            const char* anchor = "middle") {
    body_ << "<text x=\"" << n(x) << "\" y=\"" << n(y) << "\" class=\"" << cls
          << "\" text-anchor=\"" << anchor << "\">" << escape(s) << "</text>\n";
  }
  void line(double x1, double y1, double x2, double y2, const std::string& cls) {
    element("line", "x1=\"" + n(x1) + "\" y1=\"" + n(y1) + "\" x2=\"" + n(x2) + "\" y2=\"" + n(y2) +
                        "\" class=\"" + cls + "\"");
  }
  void rect(double x, double y, double w, double h, const std::string& cls,
            const std::string& attrs = "") {
    element("rect", "x=\"" + n(x) + "\" y=\"" + n(y) + "\" width=\"" + n(w) + "\" height=\"" +
                        n(h) + "\" class=\"" + cls + "\"" + (attrs.empty() ? "" : " " + attrs));
  }

  std::string document(const std::string& title) const {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << n(width_) << "\" height=\""
        << n(height_) << "\" viewBox=\"0 0 " << n(width_) << ' ' << n(height_) << "\">\n"
        << "<title>" << escape(title) << "</title>\n"
        << "<style>\n"
        << "text { font-family: sans-serif; fill: #222; }\n"
        << ".title { font-size: 16px; font-weight: bold; }\n"
        << ".heading { font-size: 14px; font-weight: bold; }\n"
        << ".label { font-size: 12px; }\n"
        << ".tick { font-size: 10px; }\n"
        << ".axis { stroke: #222; stroke-width: 1; }\n"
        << ".grid { stroke: #ddd; stroke-width: 1; }\n"
        << ".bar { fill: #8fb3d9; stroke: #4a78a8; stroke-width: 0.5; }\n"
        << ".box { fill: #f4d6a0; stroke: #a8742a; stroke-width: 1; }\n"
        << ".median, .whisker { stroke: #a8742a; stroke-width: 1.5; }\n"
        << ".mean { fill: #c0392b; stroke: #7b241c; stroke-width: 1; }\n"
        << ".meanline { stroke: #c0392b; stroke-width: 2; }\n"
        << ".quality { fill: #2e86c1; stroke: #1b4f72; stroke-width: 1; }\n"
        << ".reference { stroke: #555; stroke-width: 1.5; stroke-dasharray: 5 3; }\n"
        << ".frontline { fill: none; stroke: #1b4f72; stroke-width: 1.5; }\n"
        << ".bound { stroke: #c0392b; stroke-width: 1.5; stroke-dasharray: 2 3; }\n"
        << "</style>\n"
        << "<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << body_.str() << "</svg>\n";
    return out.str();
  }

  static std::string n(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
  }
  static std::string value(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
  }

  static std::string escape(const std::string& s) {
    std::string o;
    for (char c : s) {
      switch (c) {
        case '&':
          o += "&amp;";
          break;
        case '<':
          o += "&lt;";
          break;
        case '>':
          o += "&gt;";
          break;
        case '"':
          o += "&quot;";
          break;
        default:
          o += c;
      }
    }
    return o;
  }

 private:
  double width_;
  double height_;
  std::ostringstream body_;
};

// A horizontal value axis over [lo, hi] drawn between pixels x0 and x1, with
// ticks at round numbers.
struct Axis {
  double lo = 0, hi = 1, x0 = 0, x1 = 1;
  double step = 0.1;

  double px(double v) const { return x0 + (v - lo) / (hi - lo) * (x1 - x0); }

  // Round limits and step for data in [a, b].
  static Axis nice(double a, double b, double x0, double x1) {
    if (!(b > a)) {
      a -= 0.05;
      b += 0.05;
    }
    const double raw = (b - a) / 5;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double step = mag;
    for (double f : {1.0, 2.0, 5.0, 10.0}) {
      step = f * mag;
      if (step >= raw) break;
    }
    Axis ax;
    ax.step = step;
    ax.lo = std::floor(a / step) * step;
    ax.hi = std::ceil(b / step) * step;
    ax.x0 = x0;
    ax.x1 = x1;
    return ax;
  }

  // The axis line at y with its ticks and numbers, and the panel's mapping as
  // data attributes, so that a reader of the file can place a value.
  void draw(Svg& svg, double y, const std::string& label, const std::string& id) const {
    svg.element("g", "id=\"" + id + "\" data-lo=\"" + Svg::value(lo) + "\" data-hi=\"" +
                         Svg::value(hi) + "\" data-x0=\"" + Svg::n(x0) + "\" data-x1=\"" +
                         Svg::n(x1) + "\"");
    svg.line(x0, y, x1, y, "axis");
    const int ticks = static_cast<int>(std::lround((hi - lo) / step));
    for (int i = 0; i <= ticks; ++i) {
      const double v = lo + i * step;
      svg.line(px(v), y, px(v), y + 4, "axis");
      char buf[32];
      std::snprintf(buf, sizeof buf, step < 0.01 ? "%.3f" : step < 0.1 ? "%.2f" : "%.1f", v);
      svg.text(px(v), y + 15, buf, "tick");
    }
    svg.text((x0 + x1) / 2, y + 29, label, "label");
  }
};

std::string group_label(int g, int ngroup) {
  return "Group " + std::to_string(g) + (g == ngroup ? " (base)" : "");
}

double mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v)
    s += x;
  return s / static_cast<double>(v.size());
}

std::string mark_attrs(const char* kind, int s, int g, double v) {
  return "data-kind=\"" + std::string(kind) + "\" data-stage=\"" + std::to_string(s) +
         "\" data-group=\"" + std::to_string(g) + "\" data-value=\"" + Svg::value(v) + "\"";
}

void diamond(Svg& svg, double x, double y, const std::string& attrs) {
  svg.element("path", "d=\"M" + Svg::n(x) + ' ' + Svg::n(y - 6) + " L" + Svg::n(x + 6) + ' ' +
                          Svg::n(y) + " L" + Svg::n(x) + ' ' + Svg::n(y + 6) + " L" +
                          Svg::n(x - 6) + ' ' + Svg::n(y) + " Z\" class=\"mean\" " + attrs);
}

double column_x(int s) {
  return G::kMargin + G::kLeft + (s - 1) * (G::kPanelWidth + G::kLeft + G::kGap);
}

// One box plot row: 25th to 75th percentile, median, whiskers to the 5th and
// 95th percentiles, mean as a diamond.
void box_row(Svg& svg, const Axis& ax, double y, std::vector<double> v, int s, int g) {
  std::sort(v.begin(), v.end());
  const double p5 = percentile_point(v, 5), p25 = percentile_point(v, 25),
               p50 = percentile_point(v, 50), p75 = percentile_point(v, 75),
               p95 = percentile_point(v, 95);
  const double h = G::kRow * 0.6;
  svg.line(ax.px(p5), y, ax.px(p25), y, "whisker");
  svg.line(ax.px(p75), y, ax.px(p95), y, "whisker");
  svg.line(ax.px(p5), y - h / 3, ax.px(p5), y + h / 3, "whisker");
  svg.line(ax.px(p95), y - h / 3, ax.px(p95), y + h / 3, "whisker");
  // The box carries its five points, for whoever reads them back.
  std::string points = "data-kind=\"cum_ai_box\" data-stage=\"" + std::to_string(s) +
                       "\" data-group=\"" + std::to_string(g) + "\"";
  for (auto [name, v] : {std::pair{"p5", p5}, std::pair{"p25", p25}, std::pair{"p50", p50},
                         std::pair{"p75", p75}, std::pair{"p95", p95}})
    points += std::string(" data-") + name + "=\"" + Svg::value(v) + "\"";
  svg.rect(ax.px(p25), y - h / 2, std::max(1.0, ax.px(p75) - ax.px(p25)), h, "box", points);
  svg.line(ax.px(p50), y - h / 2, ax.px(p50), y + h / 2, "median");
  const double m = mean(v);
  diamond(svg, ax.px(m), y, mark_attrs("cum_ai_mean", s, g, m));
}

// The Cum. AI axis: the data, the reference line and 1 (the base group) inside.
Axis ai_axis(double lo, double hi, double x) {
  return Axis::nice(std::min({lo, kFourFifths, 1.0}), std::max({hi, kFourFifths, 1.0}), x,
                    x + G::kPanelWidth);
}

// The four-fifths line; its label above the panel, or (inside) just within
// its top, beside the line, where a heading is centred above the panel.
void reference_line(Svg& svg, const Axis& ax, double top, double bottom, bool inside = false) {
  svg.line(ax.px(kFourFifths), top, ax.px(kFourFifths), bottom, "reference");
  if (inside) {
    svg.text(ax.px(kFourFifths) + 3, top + 12, "0.8", "tick", "start");
  } else {
    svg.text(ax.px(kFourFifths), top - 4, "0.8", "tick");
  }
}

}  // namespace

std::string sampled_figure(const Problem& p, const Model& m, const Saved& saved) {
  const Wdca& a = m.wdca;
  const int n = saved.count;
  const double ai_top =
      G::kMargin + G::kTitle + G::kHeading + G::kHistHeight + G::kAxis + G::kBetween;
  const double ai_height = a.ngroup * G::kRow;
  const double width = column_x(a.nstage) + G::kPanelWidth + G::kMargin;
  const double height = ai_top + ai_height + G::kAxis + G::kMargin;
  Svg svg(width, height);
  const std::string title = design_title(p, m);
  svg.text(width / 2, G::kMargin + 16, title, "title");
  svg.text(width / 2, G::kMargin + 34,
           std::to_string(n) +
               " counted samples. Boxes: 25th to 75th percentile with the "
               "median; whiskers: 5th and 95th; diamonds and red lines: means.",
           "tick");
  for (int s = 1; s <= a.nstage; ++s) {
    const double x = column_x(s);
    const double top = G::kMargin + G::kTitle + G::kHeading;
    svg.text(x + G::kPanelWidth / 2, top - 14, "Stage " + std::to_string(s), "heading");
    if (n == 0) {
      svg.text(x + G::kPanelWidth / 2, top + G::kHistHeight / 2, "no counted sample", "label");
      continue;
    }
    // Histogram of the quality of all selected.
    std::vector<double> q(static_cast<std::size_t>(n));
    for (int k = 1; k <= n; ++k)
      q[static_cast<std::size_t>(k - 1)] =
          saved
              .savs[static_cast<std::size_t>(s - 1) + kMaxStages * static_cast<std::size_t>(k - 1)];
    const auto [qlo, qhi] = std::minmax_element(q.begin(), q.end());
    const Axis qa = Axis::nice(*qlo, *qhi, x, x + G::kPanelWidth);
    constexpr int kBins = 20;
    std::array<int, kBins> count{};
    for (double v : q) {
      int b = static_cast<int>((v - qa.lo) / (qa.hi - qa.lo) * kBins);
      count[static_cast<std::size_t>(std::clamp(b, 0, kBins - 1))]++;
    }
    const int most = *std::max_element(count.begin(), count.end());
    const double base = top + G::kHistHeight;
    for (int b = 0; b < kBins; ++b) {
      const double h = G::kHistHeight * count[static_cast<std::size_t>(b)] / most;
      const double bx = qa.px(qa.lo + (qa.hi - qa.lo) * b / kBins);
      svg.rect(bx, base - h, G::kPanelWidth / kBins, h, "bar");
    }
    svg.line(x, top, x, base, "axis");
    svg.text(x - 6, top + 8, std::to_string(most), "tick", "end");
    svg.text(x - 6, base, "0", "tick", "end");
    svg.text(x - 6, top + G::kHistHeight / 2, "samples", "tick", "end");
    const double qm = mean(q);
    svg.element("line", "x1=\"" + Svg::n(qa.px(qm)) + "\" y1=\"" + Svg::n(top) + "\" x2=\"" +
                            Svg::n(qa.px(qm)) + "\" y2=\"" + Svg::n(base) +
                            "\" class=\"meanline\" " + mark_attrs("quality_mean", s, 0, qm));
    qa.draw(svg, base, "Quality of all selected", "quality-axis-" + std::to_string(s));

    // Box plots of every group's Cum. AI.
    std::vector<std::vector<double>> ai(static_cast<std::size_t>(a.ngroup));
    double lo = 1e300, hi = -1e300;
    for (int g = 1; g <= a.ngroup; ++g) {
      auto& v = ai[static_cast<std::size_t>(g - 1)];
      for (int k = 1; k <= n; ++k) {
        v.push_back(saved.sais[static_cast<std::size_t>(s - 1) +
                               kMaxStages * (static_cast<std::size_t>(k - 1) +
                                             static_cast<std::size_t>(kMaxSamples) * (g - 1))]);
        lo = std::min(lo, v.back());
        hi = std::max(hi, v.back());
      }
    }
    const Axis aa = ai_axis(lo, hi, x);
    reference_line(svg, aa, ai_top, ai_top + ai_height);
    for (int g = 1; g <= a.ngroup; ++g) {
      const double y = ai_top + (g - 0.5) * G::kRow;
      svg.text(x - 8, y + 4, group_label(g, a.ngroup), "label", "end");
      box_row(svg, aa, y, ai[static_cast<std::size_t>(g - 1)], s, g);
    }
    aa.draw(svg, ai_top + ai_height, "Cum. AI", "ai-axis-" + std::to_string(s));
  }
  return svg.document(title);
}

std::string exact_figure(const Problem& p, const Model& m) {
  const Wdca& a = m.wdca;
  const double rows = a.ngroup * G::kRow;
  const double q_top = G::kMargin + G::kTitle + G::kHeading;
  const double ai_top = q_top + rows + G::kAxis + G::kBetween;
  const double width = column_x(a.nstage) + G::kPanelWidth + G::kMargin;
  const double height = ai_top + rows + G::kAxis + 20 + G::kMargin;
  Svg svg(width, height);
  const std::string title = design_title(p, m);
  svg.text(width / 2, G::kMargin + 16, title, "title");
  for (int s = 1; s <= a.nstage; ++s) {
    const double x = column_x(s);
    svg.text(x + G::kPanelWidth / 2, q_top - 10, "Stage " + std::to_string(s), "heading");
    double qlo = 1e300, qhi = -1e300, alo = 1e300, ahi = -1e300;
    for (int g = 1; g <= a.ngroup; ++g) {
      const double q = m.wdcf.qgrp(g, s), ai = m.wdcc.aicum(s, g);
      if (std::isfinite(q)) qlo = std::min(qlo, q), qhi = std::max(qhi, q);
      if (std::isfinite(ai)) alo = std::min(alo, ai), ahi = std::max(ahi, ai);
    }
    if (!(qhi >= qlo)) qlo = qhi = 0;
    const Axis qa = Axis::nice(qlo, qhi, x, x + G::kPanelWidth);
    const Axis aa = ai_axis(alo <= ahi ? alo : 1.0, alo <= ahi ? ahi : 1.0, x);
    reference_line(svg, aa, ai_top, ai_top + rows);
    for (int g = 1; g <= a.ngroup; ++g) {
      const double yq = q_top + (g - 0.5) * G::kRow;
      const double ya = ai_top + (g - 0.5) * G::kRow;
      svg.text(x - 8, yq + 4, group_label(g, a.ngroup), "label", "end");
      svg.text(x - 8, ya + 4, group_label(g, a.ngroup), "label", "end");
      svg.line(x, yq, x + G::kPanelWidth, yq, "grid");
      svg.line(x, ya, x + G::kPanelWidth, ya, "grid");
      const double q = m.wdcf.qgrp(g, s), ai = m.wdcc.aicum(s, g);
      if (std::isfinite(q))
        svg.element("circle", "cx=\"" + Svg::n(qa.px(q)) + "\" cy=\"" + Svg::n(yq) +
                                  "\" r=\"5\" class=\"quality\" " + mark_attrs("quality", s, g, q));
      if (std::isfinite(ai)) diamond(svg, aa.px(ai), ya, mark_attrs("cum_ai", s, g, ai));
    }
    qa.draw(svg, q_top + rows, "Quality", "quality-axis-" + std::to_string(s));
    aa.draw(svg, ai_top + rows, "Cum. AI", "ai-axis-" + std::to_string(s));
  }
  return svg.document(title);
}

namespace {

// The front figure's layout, in pixels.
struct FrontGeometry {
  static constexpr double kPanel = 320;  // a pair's square panel
  static constexpr double kBars = 260;   // the width of a stage's weights
  static constexpr double kBarHeight = 200;
  static constexpr double kLegend = 18;  // one predictor's line of the legend
  static constexpr double kFixed = 20;   // the line of a stage whose weights are fixed
  static constexpr double kGap = 70;     // room for a panel's heading wider than the panel
  static constexpr double kStructureColumn = 200;  // a column of the structures' legend
};
using FG = FrontGeometry;

// Fills for the predictors of the weight bars (a colour-blind-safe cycle).
constexpr std::array<const char*, 10> kPredictorFills = {"#0072b2", "#e69f00", "#009e73", "#cc79a7",
                                                         "#56b4e9", "#d55e00", "#f0e442", "#999999",
                                                         "#000000", "#882255"};

// Fills for the structures of a front's points (Tol's muted scheme, apart
// from the predictors' fills), cycled beyond nine.
constexpr std::array<const char*, 9> kStructureFills = {"#332288", "#88ccee", "#44aa99",
                                                        "#117733", "#999933", "#ddcc77",
                                                        "#cc6677", "#882255", "#aa4499"};

// A vertical mapping of [lo, hi] onto pixels y0 (lo) to y1 (hi).
double vy(const Axis& a, double v, double y0, double y1) {
  return y0 + (v - a.lo) / (a.hi - a.lo) * (y1 - y0);
}

}  // namespace

std::string front_figure(const Design& d, const ParetoPlan& plan, const Front& front) {
  const std::size_t k = plan.objectives.size();
  std::vector<std::pair<std::size_t, std::size_t>> pairs;  // (y objective, x objective)
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t j = i + 1; j < k; ++j)
      pairs.emplace_back(i, j);
  const double top = G::kMargin + G::kTitle + G::kHeading;
  const double panels_width = static_cast<double>(pairs.size()) * (FG::kPanel + G::kLeft);
  const double bars_x = G::kMargin + panels_width + FG::kGap;
  const double width = bars_x + FG::kBars + G::kLeft + G::kMargin;
  // A stage with fewer than two free predictors has the same weights at every
  // point: a line says them instead of bars.
  std::vector<bool> fixed(d.stages.size());
  std::vector<double> stage_y(d.stages.size() + 1, top);
  for (std::size_t s = 0; s < d.stages.size(); ++s) {
    fixed[s] = s >= plan.free.size() || plan.free[s].size() < 2;
    stage_y[s + 1] = stage_y[s] + (fixed[s] ? FG::kFixed : FG::kBarHeight + G::kAxis) + G::kHeading;
  }
  const double bars_height = stage_y.back() - top;
  const double legend = static_cast<double>(d.predictors.size()) * FG::kLegend;
  // With several structures the points are coloured by theirs, in the order
  // they first appear along the front, and a legend under the panels names
  // them.
  std::vector<int> shown;  // structures, in order of appearance
  std::vector<std::size_t> colour(front.points.size(), 0);
  for (std::size_t i = 0; i < front.points.size() && !plan.structures.empty(); ++i) {
    const auto at = std::find(shown.begin(), shown.end(), front.points[i].structure);
    colour[i] = static_cast<std::size_t>(at - shown.begin());
    if (at == shown.end()) shown.push_back(front.points[i].structure);
  }
  // The legend in columns across the panels, filled down.
  const std::size_t columns =
      std::max<std::size_t>(1, static_cast<std::size_t>(panels_width / FG::kStructureColumn));
  const std::size_t legend_rows = (shown.size() + columns - 1) / columns;
  const double structures_legend =
      shown.empty() ? 0 : G::kHeading + static_cast<double>(legend_rows) * FG::kLegend;
  const double height =
      std::max(top + FG::kPanel + G::kAxis + structures_legend, top + bars_height + legend) +
      G::kMargin;
  Svg svg(width, height);
  const std::string title = "SELQUANT: Pareto front of " + std::to_string(front.points.size()) +
                            (front.points.size() == 1 ? " point, " : " points, ") +
                            std::to_string(d.stages.size()) +
                            (d.stages.size() == 1 ? " stage" : " stages");
  svg.text(width / 2, G::kMargin + 16, title, "title");
  svg.text(width / 2, G::kMargin + 34,
           std::string("Circles: the front; diamond: the design's own weights") +
               (plan.constraints.empty() ? "" : "; dotted: the constraints' bounds") +
               (front.bands ? "; bars: 5th to 95th percentile over the draws." : "."),
           "tick");
  auto label = [&](std::size_t o) {
    const Objective& ob = plan.objectives[o];
    std::string text;
    switch (ob.measure) {
      case Objective::Measure::quality:
        text = "Quality of all selected";
        break;
      case Objective::Measure::cost:
        text = "Cost per applicant";
        break;
      case Objective::Measure::utility:
        text = "Utility";
        break;
      default:
        text = "Cum. AI of " + d.groups[static_cast<std::size_t>(ob.group - 1)].name;
    }
    const std::size_t at = ob.name.find('@');
    return at == std::string::npos ? text : text + " " + ob.name.substr(at);
  };
  for (std::size_t pi = 0; pi < pairs.size(); ++pi) {
    const std::size_t oy = pairs[pi].first;
    const std::size_t ox = pairs[pi].second;
    const double x0 = G::kMargin + G::kLeft + static_cast<double>(pi) * (FG::kPanel + G::kLeft);
    const double y0 = top + FG::kPanel;  // the bottom of the panel
    double xlo = 1e300, xhi = -1e300, ylo = 1e300, yhi = -1e300;
    auto extend = [&](const FrontPoint& p) {
      for (auto [lo, hi, o] : {std::tuple{&xlo, &xhi, ox}, std::tuple{&ylo, &yhi, oy}}) {
        *lo = std::min(*lo, p.objectives[o]);
        *hi = std::max(*hi, p.objectives[o]);
        if (front.bands) {
          *lo = std::min(*lo, p.p5[o]);
          *hi = std::max(*hi, p.p95[o]);
        }
      }
    };
    for (const FrontPoint& p : front.points)
      extend(p);
    extend(front.design);
    const bool ai_x = plan.objectives[ox].measure == Objective::Measure::ai;
    if (ai_x) {
      xlo = std::min(xlo, kFourFifths);
      xhi = std::max(xhi, kFourFifths);
    }
    // The bounds of the constraints on the pair's measures, within the axes.
    std::vector<std::pair<const Constraint*, bool>> bounds;  // (constraint, on the x axis)
    for (const Constraint& c : plan.constraints)
      for (const std::size_t o : {ox, oy})
        if (c.measure.measure == plan.objectives[o].measure &&
            c.measure.group == plan.objectives[o].group &&
            c.measure.statistic == plan.objectives[o].statistic) {
          bounds.emplace_back(&c, o == ox);
          double& lo = o == ox ? xlo : ylo;
          double& hi = o == ox ? xhi : yhi;
          lo = std::min(lo, c.bound);
          hi = std::max(hi, c.bound);
        }
    const Axis ax = Axis::nice(xlo, xhi, x0, x0 + FG::kPanel);
    const Axis ay = Axis::nice(ylo, yhi, 0, 1);
    auto py = [&](double v) { return vy(ay, v, y0, top); };
    svg.text(x0 + FG::kPanel / 2, top - 14, label(oy) + " against " + label(ox), "heading");
    svg.line(x0, top, x0, y0, "axis");
    const int ticks = static_cast<int>(std::lround((ay.hi - ay.lo) / ay.step));
    for (int t = 0; t <= ticks; ++t) {
      const double v = ay.lo + t * ay.step;
      svg.line(x0 - 4, py(v), x0, py(v), "axis");
      char buf[32];
      std::snprintf(buf, sizeof buf, ay.step < 0.01 ? "%.3f" : ay.step < 0.1 ? "%.2f" : "%.1f", v);
      svg.text(x0 - 6, py(v) + 4, buf, "tick", "end");
    }
    svg.element("g", "id=\"front-y-" + std::to_string(pi + 1) + "\" data-lo=\"" +
                         Svg::value(ay.lo) + "\" data-hi=\"" + Svg::value(ay.hi) + "\" data-y0=\"" +
                         Svg::n(y0) + "\" data-y1=\"" + Svg::n(top) + "\"");
    if (ai_x) reference_line(svg, ax, top, y0, true);
    for (const auto& [c, on_x] : bounds) {
      const std::string data = "class=\"bound\" data-constraint=\"" + Svg::escape(c->text) + "\"";
      if (on_x)
        svg.element("line", "x1=\"" + Svg::n(ax.px(c->bound)) + "\" y1=\"" + Svg::n(top) +
                                "\" x2=\"" + Svg::n(ax.px(c->bound)) + "\" y2=\"" + Svg::n(y0) +
                                "\" " + data);
      else
        svg.element("line", "x1=\"" + Svg::n(x0) + "\" y1=\"" + Svg::n(py(c->bound)) + "\" x2=\"" +
                                Svg::n(x0 + FG::kPanel) + "\" y2=\"" + Svg::n(py(c->bound)) +
                                "\" " + data);
    }
    // The front of two objectives as a line through its points, in order
    // (with more, the points of a pair are not in order along a line).
    std::string path;
    for (std::size_t i = 0; k == 2 && i < front.points.size(); ++i)
      path += (path.empty() ? "M" : " L") + Svg::n(ax.px(front.points[i].objectives[ox])) + ' ' +
              Svg::n(py(front.points[i].objectives[oy]));
    if (!path.empty()) svg.element("path", "d=\"" + path + "\" class=\"frontline\"");
    for (std::size_t i = 0; i < front.points.size(); ++i) {
      const FrontPoint& p = front.points[i];
      const double cx = ax.px(p.objectives[ox]);
      const double cy = py(p.objectives[oy]);
      if (front.bands) {
        svg.line(ax.px(p.p5[ox]), cy, ax.px(p.p95[ox]), cy, "whisker");
        svg.line(cx, py(p.p5[oy]), cx, py(p.p95[oy]), "whisker");
      }
      const std::string fill =
          shown.empty() ? ""
                        : "\" style=\"fill: " +
                              std::string(kStructureFills[colour[i] % kStructureFills.size()]) +
                              "\" data-structure=\"" + std::to_string(p.structure + 1);
      svg.element("circle", "cx=\"" + Svg::n(cx) + "\" cy=\"" + Svg::n(cy) +
                                "\" r=\"4\" class=\"quality\" data-kind=\"front\" data-point=\"" +
                                std::to_string(i + 1) + fill + "\" data-x=\"" +
                                Svg::value(p.objectives[ox]) + "\" data-y=\"" +
                                Svg::value(p.objectives[oy]) + "\"");
    }
    diamond(svg, ax.px(front.design.objectives[ox]), py(front.design.objectives[oy]),
            "data-kind=\"design\" data-x=\"" + Svg::value(front.design.objectives[ox]) +
                "\" data-y=\"" + Svg::value(front.design.objectives[oy]) + "\"");
    ax.draw(svg, y0, label(ox), "front-x-" + std::to_string(pi + 1));
  }
  // The structures' legend, under the panels.
  for (std::size_t c = 0; c < shown.size(); ++c) {
    const double x =
        G::kMargin + G::kLeft + static_cast<double>(c / legend_rows) * FG::kStructureColumn;
    const double y = top + FG::kPanel + G::kAxis + G::kHeading +
                     static_cast<double>(c % legend_rows) * FG::kLegend;
    svg.element("circle", "cx=\"" + Svg::n(x + 4) + "\" cy=\"" + Svg::n(y - 4) +
                              "\" r=\"4\" class=\"quality\" style=\"fill: " +
                              kStructureFills[c % kStructureFills.size()] + "\"");
    svg.text(x + 14, y, structure_text(plan.structures[static_cast<std::size_t>(shown[c])], d),
             "label", "start");
  }
  // The weights of each stage along the front, one stacked bar per point:
  // positive weights up from the zero line, negative ones (signs = "any")
  // down from it, each as tall as its share of the sum of |w|.
  const double n = static_cast<double>(std::max<std::size_t>(1, front.points.size()));
  const double zero_at = plan.any_sign ? 0.5 : 1.0;  // of the bar height, from its top
  for (std::size_t s = 0; s < d.stages.size(); ++s) {
    const double y = stage_y[s];
    const std::string heading = "Weights of stage " + std::to_string(s + 1);
    if (fixed[s]) {
      std::string said;
      // The same at every point (a single free predictor weighs 1 there).
      const std::vector<double>& w =
          (front.points.empty() ? front.design : front.points[0]).weights[s];
      for (std::size_t j = 0; j < d.predictors.size(); ++j) {
        if (w[j] == 0) continue;
        char buf[32];
        std::snprintf(buf, sizeof buf, " %.3g", w[j]);
        said += (said.empty() ? "" : ",") + (" " + d.predictors[j]) + buf;
      }
      svg.text(bars_x, y - 14, heading + " (fixed):" + said, "heading", "start");
      continue;
    }
    svg.text(bars_x, y - 14, heading, "heading", "start");
    const double bar = FG::kBars / n;
    const double zero = y + zero_at * FG::kBarHeight;
    const double scale = zero_at * FG::kBarHeight;  // the height of |w| = 1
    for (std::size_t i = 0; i < front.points.size(); ++i) {
      double up = zero;
      double down = zero;
      for (std::size_t j = 0; j < d.predictors.size(); ++j) {
        const double w = front.points[i].weights[s][j];
        const double h = std::fabs(w) * scale;
        if (h <= 0) continue;
        const double at = w > 0 ? (up -= h) : down;
        if (w < 0) down += h;
        svg.element("rect", "x=\"" + Svg::n(bars_x + static_cast<double>(i) * bar) + "\" y=\"" +
                                Svg::n(at) + "\" width=\"" + Svg::n(bar * 0.9) + "\" height=\"" +
                                Svg::n(h) + "\" fill=\"" + kPredictorFills[j % 10] +
                                "\" data-kind=\"weight\" data-stage=\"" + std::to_string(s + 1) +
                                "\" data-point=\"" + std::to_string(i + 1) + "\" data-value=\"" +
                                Svg::value(w) + "\"");
      }
    }
    svg.line(bars_x, zero, bars_x + FG::kBars, zero, "axis");
    svg.text(bars_x - 4, zero + 4, "0", "tick", "end");
    svg.text(bars_x - 4, y + 4, "1", "tick", "end");
    if (plan.any_sign) svg.text(bars_x - 4, y + FG::kBarHeight + 4, "\u22121", "tick", "end");
    svg.element("g", "id=\"weights-" + std::to_string(s + 1) + "\" data-zero=\"" + Svg::n(zero) +
                         "\" data-unit=\"" + Svg::n(scale) + "\"");
    svg.text(bars_x + FG::kBars / 2, y + FG::kBarHeight + 15,
             "point 1 to " + std::to_string(front.points.size()) + " along the front", "tick");
  }
  const double ly = top + bars_height;
  for (std::size_t j = 0; j < d.predictors.size(); ++j) {
    const double yy = ly + static_cast<double>(j) * FG::kLegend;
    svg.element("rect", "x=\"" + Svg::n(bars_x) + "\" y=\"" + Svg::n(yy) +
                            "\" width=\"12\" height=\"12\" fill=\"" + kPredictorFills[j % 10] +
                            "\"");
    svg.text(bars_x + 18, yy + 10, d.predictors[j], "label", "start");
  }
  return svg.document(title);
}

}  // namespace selquant
