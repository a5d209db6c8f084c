// A design from a file of either kind, for programs that embed the engine:
// a design file or a deck, told apart by their content.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/design.hpp"

namespace selquant {

// The design of a file's text (`file` names it in messages) and the findings
// of its checks. Returns an empty string, or the message of a malformed or
// refused file; a deck's names the line and column where it went wrong.
std::string design_from_text(std::string_view text, const std::string& file, Design& d,
                             std::vector<std::string>& findings);

// The same for the file at path.
std::string design_from_file(const std::string& path, Design& d,
                             std::vector<std::string>& findings);

}  // namespace selquant
