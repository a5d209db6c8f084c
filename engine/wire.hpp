// The engine's pieces as bytes, to travel between the processes of a cluster
// and come back whole: a study of some passes, the points one structure's
// search found. Numbers travel as their bits, so that what is joined is what
// was computed. Both ends run this engine on machines of one byte order.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/pareto.hpp"
#include "engine/study.hpp"

namespace selquant::wire {

std::string bytes_of(const Study& s);
std::string bytes_of(const LayoutSearch& f);
// Throw std::invalid_argument for bytes that are not such a piece.
Study study_of(std::string_view bytes);
LayoutSearch layout_search_of(std::string_view bytes);

}  // namespace selquant::wire
