#include "formats/page.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/tables.hpp"
#include "formats/assets.hpp"
#include "formats/design_file.hpp"
#include "formats/figure.hpp"
#include "formats/front.hpp"
#include "textio/shortest.hpp"

namespace selquant {
namespace {

// A JSON string, with "</" broken so that no text ends the script element
// holding it.
std::string json_text(std::string_view s) {
  std::string out = quoted(s);
  for (std::size_t at = 0; (at = out.find("</", at)) != std::string::npos; at += 3)
    out.replace(at, 2, "<\\/");
  return out;
}

// A number as it round-trips, in its shortest form; null where it is none
// (JSON has no NaN).
std::string json_number(double v) {
  return std::isfinite(v) ? textio::shortest(v) : "null";
}

template <class T, class F>
std::string json_array(const std::vector<T>& values, F&& f) {
  std::string j = "[";
  for (std::size_t i = 0; i < values.size(); ++i)
    j += (i > 0 ? "," : "") + f(values[i]);
  return j + "]";
}

// HTML text: the markup characters escaped.
std::string html_text(std::string_view s) {
  std::string out;
  for (char c : s)
    out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
  return out;
}

// What every page's data begins with: its title, the design as its file has
// it, the names of its stages' predictors and of its groups.
std::string names_json(const std::string& title, const Design& d) {
  return "\"title\":" + json_text(title) + ",\"design\":" + json_text(write_design(d)) +
         ",\"stages\":" + std::to_string(d.stages.size()) +
         ",\"predictors\":" + json_array(d.predictors, json_text) + ",\"groups\":" +
         json_array(d.groups, [](const Design::Group& g) { return json_text(g.name); });
}

// The results of one exact pass: its rows per stage and group.
class PassRows : public Sink {
 public:
  bool pass(const PassResult& r) override {
    if (!r.skipped) rows = result_rows(r.k, *r.model);
    return true;
  }
  std::vector<ResultRow> rows;
};

constexpr std::size_t result_column(std::string_view name) {
  return static_cast<std::size_t>(std::find(kResultColumns.begin(), kResultColumns.end(), name) -
                                  kResultColumns.begin());
}

// Per stage the quality of all selected and every group's [quality, Cum. AI,
// Stage AI], from the rows of one computed pass.
std::string stages_json(const std::vector<ResultRow>& rows, std::size_t stages) {
  constexpr std::size_t stage = result_column("stage"), quality = result_column("quality"),
                        cum_ai = result_column("cum_ai"), stage_ai = result_column("stage_ai"),
                        quality_all = result_column("quality_all");
  std::string j = "[";
  for (std::size_t s = 1; s <= stages; ++s) {
    std::string groups;
    double all = 0;
    for (const ResultRow& r : rows) {
      if (r[stage] != static_cast<double>(s)) continue;
      all = r[quality_all];
      groups += (groups.empty() ? "[" : ",[") + json_number(r[quality]) + "," +
                json_number(r[cum_ai]) + "," + json_number(r[stage_ai]) + "]";
    }
    j += (s > 1 ? "," : "") + std::string("{\"quality\":") + json_number(all) + ",\"groups\":[" +
         groups + "]}";
  }
  return j + "]";
}

// A point's ordinary run, stage by stage; null where it computes nothing.
std::string point_json(const Design& d, const FrontPoint& point, mvn::Kernel kernel) {
  PassRows pass;
  Sink* const sinks[] = {&pass};
  EngineOptions options;
  options.kernel = kernel;
  evaluate(point_design(d, point), options, sinks);
  return pass.rows.empty() ? "null" : stages_json(pass.rows, d.stages.size());
}

// The percentile points of a sorted series as the report takes them.
std::string percentiles_json(const std::vector<double>& sorted) {
  std::string j = "[";
  for (std::size_t i = 0; i < kPercentiles.size(); ++i)
    j += (i > 0 ? "," : "") + json_number(percentile_point(sorted, kPercentiles[i]));
  return j + "]";
}

// Counts of a series in equal bins over its range; the histogram's bins.
constexpr int kBins = 20;

// A series' mean (the summary's), percentile points and, for the quality,
// its histogram.
std::string distribution_json(std::vector<double> v, double mean, bool histogram) {
  std::sort(v.begin(), v.end());
  std::string j = "{\"mean\":" + json_number(mean) + ",\"p\":" + percentiles_json(v);
  if (histogram) {
    const double lo = v.front(), hi = v.back();
    std::array<int, kBins> count{};
    for (double x : v) {
      const int b = hi > lo ? static_cast<int>((x - lo) / (hi - lo) * kBins) : 0;
      ++count[static_cast<std::size_t>(std::clamp(b, 0, kBins - 1))];
    }
    j += ",\"lo\":" + json_number(lo) + ",\"hi\":" + json_number(hi) + ",\"bins\":[";
    for (int b = 0; b < kBins; ++b)
      j += (b > 0 ? "," : "") + std::to_string(count[static_cast<std::size_t>(b)]);
    j += "]";
  }
  return j + "}";
}

}  // namespace

std::string front_data(const Design& d, const ParetoPlan& plan, const Front& front,
                       mvn::Kernel kernel) {
  const Table table = front_table(d, plan, front);
  auto has = [&](const std::string& name) {
    for (const Column& c : table.columns)
      if (c.name == name) return true;
    return false;
  };
  const std::string title = "SELQUANT: Pareto front of " + std::to_string(front.points.size()) +
                            (front.points.size() == 1 ? " point" : " points");
  std::string j = "{" + names_json(title, d) + ",\"details\":[";
  for (std::size_t p = 0; p < front.points.size(); ++p)
    j += (p > 0 ? "," : "") + point_json(d, front.points[p], kernel);
  j += "],\"columns\":[";
  for (std::size_t c = 0; c < table.columns.size(); ++c)
    j += (c > 0 ? "," : "") + json_text(table.columns[c].name);
  j += "],\"rows\":[";
  for (std::size_t r = 0; r < table.rows(); ++r) {
    j += r > 0 ? ",[" : "[";
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      const Column& col = table.columns[c];
      j += (c > 0 ? "," : "") + (col.is_text ? json_text(col.text[r]) : json_number(col.values[r]));
    }
    j += "]";
  }
  j += "],\"objectives\":[";
  std::string bands, design_point;
  for (std::size_t o = 0; o < plan.objectives.size(); ++o) {
    const Objective& ob = plan.objectives[o];
    const std::string column = objective_column(ob, d);
    j += (o > 0 ? "," : "") + std::string("{\"name\":") + json_text(ob.name) +
         ",\"column\":" + json_text(column) +
         ",\"maximize\":" + (ob.measure == Objective::Measure::cost ? "false" : "true") +
         ",\"ai\":" + (ob.measure == Objective::Measure::ai ? "true" : "false") + "}";
    if (has(column + "_p5") && has(column + "_p95"))
      bands += (bands.empty() ? "" : ",") + json_text(column) + ":[" + json_text(column + "_p5") +
               "," + json_text(column + "_p95") + "]";
    design_point +=
        (o > 0 ? "," : "") + json_text(column) + ":" + json_number(front.design.objectives[o]);
  }
  return j + "],\"bands\":{" + bands + "},\"design_point\":{" + design_point + "}}";
}

std::string run_data(const Design& d, const Problem& p, const Model& m, const Evaluation& ev) {
  const Wdca& a = m.wdca;
  const std::string title = design_title(p, m);
  std::string j =
      "{" + names_json(title, d) + ",\"exact\":" + (p.smode == kExact ? "true" : "false") +
      ",\"samples\":" + std::to_string(p.nsamp) + ",\"counted\":" + std::to_string(ev.saved->count);
  if (ev.exact) {
    j += ",\"values\":" + stages_json(result_rows(1, *ev.exact), d.stages.size());
  } else if (ev.saved->count > 0) {
    // Per stage the quality of all selected and every group's Cum. AI over
    // the counted passes.
    Saved& saved = *ev.saved;
    const int n = saved.count;
    j += ",\"distributions\":[";
    for (int s = 1; s <= a.nstage; ++s) {
      std::vector<double> q(static_cast<std::size_t>(n));
      for (int k = 1; k <= n; ++k)
        q[static_cast<std::size_t>(k - 1)] = saved.q(s, k);
      j += (s > 1 ? "," : "") + std::string("{\"quality\":") +
           distribution_json(std::move(q), ev.summary.avq(s), true) + ",\"groups\":[";
      for (int g = 1; g <= a.ngroup; ++g) {
        std::vector<double> ai(static_cast<std::size_t>(n));
        for (int k = 1; k <= n; ++k)
          ai[static_cast<std::size_t>(k - 1)] = saved.ai(s, k, g);
        j += (g > 1 ? "," : "") + distribution_json(std::move(ai), ev.summary.avai(s, g), false);
      }
      j += "]}";
    }
    j += "]";
  }
  // The summary as its CSV file has it.
  j += ",\"summary\":{\"columns\":" +
       json_array(std::vector<std::string_view>(kSummaryColumns.begin(), kSummaryColumns.end()),
                  json_text) +
       ",\"rows\":[";
  bool first = true;
  for (const SummaryRow& r : summary_rows(m, ev.summary)) {
    j += (first ? "[" : ",[") + std::to_string(r.stage) + "," + std::to_string(r.group) + "," +
         json_text(r.statistic) + "," + json_number(r.quality) + "," + json_number(r.cum_ai) + "," +
         json_number(r.stage_ai) + "]";
    first = false;
  }
  return j + "]}}";
}

std::string page(PageKind kind, std::string_view data, std::string_view command) {
  const bool front = kind == PageKind::front;
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:\">\n"
      "<title>SELQUANT</title>\n<style>\n";
  page += assets::style;
  page += "</style>\n</head>\n<body>\n<h1 id=\"title\">SELQUANT</h1>\n";
  page += "<p>Made by <code>" + html_text(command) + "</code></p>\n";
  if (front) {
    page +=
        "<div id=\"plots\"></div>\n<h2>Bounds</h2>\n<div id=\"bounds\"></div>\n"
        "<p id=\"best\"></p>\n";
    page += "<div id=\"pinned\"></div>\n<h2>Points</h2>\n";
    page += "<button type=\"button\" data-download=\"csv\">Download the table as CSV</button>\n";
    page += "<div id=\"points\"></div>\n";
  } else {
    page += "<p id=\"counted\"></p>\n<div id=\"stages\"></div>\n<h2>Summary</h2>\n";
    page += "<div id=\"summary\"></div>\n";
  }
  page += "<h2>The design</h2>\n<pre class=\"design-text\"></pre>\n";
  page += "<script type=\"application/json\" id=\"page-data\">";
  page += data;
  page += "</script>\n<script>\n";
  page += assets::d3;
  page += "\n</script>\n<script>\n";
  page += assets::common_script;
  page += "\n";
  page += front ? assets::front_script : assets::run_script;
  return page + "</script>\n</body>\n</html>\n";
}

}  // namespace selquant
