// The report: start line, banner and problem echo, the per-pass results, the
// summary over the passes and the closing CPU time.
#pragma once

#include <memory>

#include "engine/blocks.hpp"
#include "engine/engine.hpp"
#include "engine/problem.hpp"
#include "engine/summary.hpp"
#include "numeric/clock.hpp"
#include "textio/record.hpp"

namespace selquant {

void write_start_line(textio::Writer& w, const numeric::DateTime& t);
void write_banner(textio::Writer& w);
// The problem echo of pass 1, through the COMPUTATION RESULTS OVERVIEW heading.
void write_echo(textio::Writer& w, const Problem& p, const Model& m);
void write_exact_line(textio::Writer& w);
void write_sample_error(textio::Writer& w, int k, const Model& m, double total);
void write_dfzero_error(textio::Writer& w, int stage);
void write_skipped(textio::Writer& w, int k);
// The results of pass k; in exact mode also the extended output, with dnext
// and dpsel as differences from the base group.
void write_pass_report(textio::Writer& w, int smode, int k, const Model& m);
// Everything the report shows of one pass: the proportion check, in pass 1
// the banner and the echo (in exact mode the exact-computation line of every
// later pass), then the skipped line, or the failed cutoffs and, unless
// summary_only, the results (and nothing of a skipped pass: its count follows
// the passes, write_skipped_count).
void write_pass(textio::Writer& w, const Problem& p, const PassResult& r, bool summary_only);
void write_skipped_count(textio::Writer& w, int skipped);
// Before the summary of the passes done when a run was interrupted.
void write_interrupted_heading(textio::Writer& w, int done, int total);

void write_summary(textio::Writer& w, const Model& m, const Summary& summary);
void write_cpu_time(textio::Writer& w, float seconds);

}  // namespace selquant
