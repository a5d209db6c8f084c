#include "formats/page.hpp"

#include <cmath>
#include <cstdio>

#include "formats/assets.hpp"
#include "formats/design_file.hpp"
#include "formats/front.hpp"

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

// A number as it round-trips; null where it is none (JSON has no NaN).
std::string json_number(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// HTML text: the markup characters escaped.
std::string html_text(std::string_view s) {
  std::string out;
  for (char c : s)
    out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
  return out;
}

std::string front_json(const Design& d, const ParetoPlan& plan, const Front& front,
                       std::string_view command) {
  const Table table = front_table(d, plan, front);
  auto has = [&](const std::string& name) {
    for (const Column& c : table.columns)
      if (c.name == name) return true;
    return false;
  };
  std::string j =
      "{\"command\":" + json_text(command) + ",\"design\":" + json_text(write_design(d));
  j += ",\"stages\":" + std::to_string(d.stages.size()) + ",\"predictors\":[";
  for (std::size_t p = 0; p < d.predictors.size(); ++p)
    j += (p > 0 ? "," : "") + json_text(d.predictors[p]);
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

}  // namespace

std::string front_page(const Design& d, const ParetoPlan& plan, const Front& front,
                       std::string_view command) {
  const std::string title = "SELQUANT: Pareto front of " + std::to_string(front.points.size()) +
                            (front.points.size() == 1 ? " point" : " points");
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:\">\n"
      "<title>" +
      html_text(title) + "</title>\n<style>\n";
  page += assets::style;
  page += "</style>\n</head>\n<body>\n<h1>" + html_text(title) + "</h1>\n";
  page += "<p>Made by <code>" + html_text(command) + "</code></p>\n";
  page += "<div id=\"plots\"></div>\n<h2>Bounds</h2>\n<div id=\"bounds\"></div>\n";
  page += "<div id=\"pinned\"></div>\n<h2>Points</h2>\n";
  page += "<button type=\"button\" data-download=\"csv\">Download the table as CSV</button>\n";
  page += "<div id=\"points\"></div>\n<h2>The design</h2>\n<pre class=\"design-text\">" +
          html_text(write_design(d)) + "</pre>\n";
  page += "<script type=\"application/json\" id=\"front-data\">" +
          front_json(d, plan, front, command) + "</script>\n<script>\n";
  page += assets::d3;
  page += "\n</script>\n<script>\n";
  page += assets::front_script;
  return page + "</script>\n</body>\n</html>\n";
}

}  // namespace selquant
