// A front as one self-contained HTML page: its plots, table, bounds and
// download need nothing outside the file (a Content-Security-Policy forbids
// every request). D3, the page's script and style are compiled in; the data
// goes in as JSON.
#pragma once

#include <string>
#include <string_view>

#include "engine/pareto.hpp"

namespace selquant {

// The page of a front; command is what made it, shown on the page.
std::string front_page(const Design& d, const ParetoPlan& plan, const Front& front,
                       std::string_view command);

}  // namespace selquant
