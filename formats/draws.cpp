#include "formats/draws.hpp"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string>
#include <vector>

namespace selquant {
namespace {

// The fields of one line, split at commas; a field in double quotes is taken
// without them.
std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    std::string_view f =
        line.substr(start, comma == std::string_view::npos ? comma : comma - start);
    while (!f.empty() && (f.front() == ' ' || f.front() == '\t'))
      f.remove_prefix(1);
    while (!f.empty() && (f.back() == ' ' || f.back() == '\t'))
      f.remove_suffix(1);
    if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
    out.push_back(f);
    if (comma == std::string_view::npos) return out;
    start = comma + 1;
  }
}

}  // namespace

GivenDraws read_draws(std::string_view text) {
  GivenDraws draws;
  std::size_t row = 0;  // 0: the names
  std::size_t at = 0;
  if (text.starts_with("\xEF\xBB\xBF")) at = 3;  // a byte-order mark
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
      if (row == 0) throw DrawsError(0, "", "the first line must name the columns");
      continue;  // blank lines (at the end, say)
    }
    const std::vector<std::string_view> f = fields(line);
    if (row == 0) {
      // Room for every row: at most the lines left.
      const std::string_view rest = text.substr(std::min(at, text.size()));
      const auto rows = static_cast<std::size_t>(std::count(rest.begin(), rest.end(), '\n')) + 1;
      for (std::string_view name : f) {
        if (name.empty()) throw DrawsError(0, "", "a column has no name");
        draws.names.emplace_back(name);
        draws.columns.emplace_back().reserve(rows);
      }
      row = 1;
      continue;
    }
    if (f.size() != draws.names.size())
      throw DrawsError(row, "",
                       std::to_string(f.size()) + (f.size() == 1 ? " field" : " fields") +
                           " where the names are " + std::to_string(draws.names.size()));
    for (std::size_t c = 0; c < f.size(); ++c) {
      double v = 0;
      const char* first = f[c].data();
      const char* last = first + f[c].size();
      if (first != last && *first == '+') ++first;
      const auto [end_of, ec] = std::from_chars(first, last, v);
      if (f[c].empty() || ec != std::errc() || end_of != last)
        throw DrawsError(row, draws.names[c], "'" + std::string(f[c]) + "' is not a number");
      draws.columns[c].push_back(v);
    }
    ++row;
  }
  if (row == 0) throw DrawsError(0, "", "the file is empty");
  return draws;
}

namespace {
std::string with_column(std::string where, const DrawsError& e) {
  if (!e.column.empty())
    where += (e.column.find(',') == std::string::npos ? ", column " : ", columns ") + e.column;
  return where + ": " + e.what();
}
}  // namespace

std::string draws_error_text(const std::string& file, const DrawsError& e) {
  return with_column("the draws file '" + file + "', line " + std::to_string(e.row + 1), e);
}

Given given_table(const Design& d, GivenDraws draws, int first) {
  try {
    return Given(d, std::move(draws), first);
  } catch (const DrawsError& e) {
    throw std::invalid_argument(
        with_column(e.row == 0 ? "draws" : "draws row " + std::to_string(e.row), e));
  }
}

}  // namespace selquant
