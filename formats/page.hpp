// A front or a run as one self-contained HTML page: its plots, tables,
// bounds and download need nothing outside the file (a
// Content-Security-Policy forbids every request). D3, the page's script and
// style are compiled in; the data goes in as JSON, made apart from the page
// so that whoever keeps a result (the R and Python packages) keeps its few
// kilobytes of data, not the page.
#pragma once

#include <string>
#include <string_view>

#include "engine/engine.hpp"
#include "engine/pareto.hpp"

namespace selquant {

// The data of a front's page. Every point's ordinary run (stage by stage, at
// the expected inputs, with the kernel of the search) goes in for its details.
std::string front_data(const Design& d, const ParetoPlan& plan, const Front& front,
                       mvn::Kernel kernel);

// The data of a run's page: per stage the distribution of the quality of all
// selected (a histogram and its percentiles) and of every group's Cum. AI (its
// percentiles), or in exact mode every group's values; the summary's rows.
// d names the problem's predictors and groups.
std::string run_data(const Design& d, const Problem& p, const Model& m, const Evaluation& ev);

enum class PageKind { front, run };

// The page of the data; command is what made it, shown on the page.
std::string page(PageKind kind, std::string_view data, std::string_view command);

}  // namespace selquant
