// The files a page embeds, compiled in: D3 (Debian's node-d3), the pages' own
// scripts (what both kinds share, then the front's or the run's) and style.
#pragma once

#include <string_view>

namespace selquant::assets {

extern const std::string_view d3;
extern const std::string_view common_script;
extern const std::string_view front_script;
extern const std::string_view run_script;
extern const std::string_view style;

}  // namespace selquant::assets
