#include "formats/source.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "formats/deck.hpp"
#include "formats/design_file.hpp"
#include "formats/findings.hpp"

namespace selquant {

std::string design_from_text(std::string_view text, const std::string& file, Design& d,
                             std::vector<std::string>& findings) {
  findings.clear();
  if (is_design_text(text)) {
    if (std::string bad = read_design(text, file, d); !bad.empty()) return bad;
    findings = design_findings(d);
    return {};
  }
  auto p = std::make_unique<Problem>();
  auto m = std::make_unique<Model>();
  std::istringstream in{std::string(text)};
  if (const std::string bad = check_deck(in, *p, *m, true, findings); !bad.empty())
    return file + ": " + bad;
  d = design_of(*p, *m);
  return {};
}

std::string design_from_file(const std::string& path, Design& d,
                             std::vector<std::string>& findings) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) return "cannot read '" + path + "': " + std::strerror(errno);
  return design_from_text(text.view(), path, d, findings);
}

}  // namespace selquant
