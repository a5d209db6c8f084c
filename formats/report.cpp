#include "formats/report.hpp"

#include <array>
#include <cmath>

namespace selquant {
namespace {

using textio::Layout;

const Layout kStart{
    R"L(("Program execution starts on ",I2,"/",I2,"/",I4," at",I3,":",I2,":",I2))L"};

const Layout kBanner{R"L((/,
  25X,"++++++++++++++",/,
  25X,"+  SELQUANT  +",/,
  25X,"++++++++++++++",/,/,
  "Analytical computation of the selection quality and the",/,
  "adverse impact of MULTI-STAGE selection decisions, given the",/,
  "stage-specific predictor weights and retention rates.",/,
  "Adapted to uncertainty in the available estimates of the",/,
  "predictor correlations, validities and effect sizes as well",/,
  "of the criterion correlations and effect sizes.",/,
  "The selection criterion behaviour (i.e., job performance)",/,
  "may be multi-dimensional.",/,/,
  "Model and program: the SELQUANT developers.",/,/,
  "The numerical routines follow published methods: a library of",/,
  "mathematical routines (root finding, random numbers, sorting),",/,
  "a collection of published statistical algorithms, and code for",/,
  "multivariate normal probabilities by integration over bivariate",/,
  "normal probabilities. We gratefully acknowledge their authors.",/,
  "At present, the program is limited to 4 stages, 3 criteria,",/,
  "10 predictors and 5 different applicant groups."))L"};

// Problem echo.
const Layout kHeading{R"L((/,"PROBLEM SPECIFICATION",/))L"};
const Layout kExactLine{R"L(("Exact computation---extended output",/))L"};
const Layout kCounts{R"L(("Number of selection stages:",I3,/,
  "Number of criterion dimensions:",I3,/,
  "Number of available predictors:",I3,/,
  "Number of different applicant groups:",I3))L"};
const Layout kCriterionWeights{R"L(("Weights used to combine the individual criterion",/,
  "dimensions to the composite criterion are:",4F8.3))L"};
const Layout kRectangularSampling{R"L(("Sampling of uncertain problem variables is from",/,
  "appropriate rectangular distributions"))L"};
const Layout kNormalSampling{R"L(("Sampling of uncertain problem variables is from",/,
  "appropriate normal distributions"))L"};
const Layout kSampleCount{R"L(("Number of Monte Carlo samples is ",I5))L"};
const Layout kGivenSampling{R"L(("The samples are given, one per row of the draws file;",/,
  "the values below stand for the inputs it leaves out"))L"};
const Layout kBlank{R"L((" "))L"};
const Layout kProportionHead{R"L(("Proportional representation applicant groups:"))L"};
const Layout kProportions{R"L((10X,5F9.3))L"};
const Layout kRowsRectangular{R"L(("  First row gives lower bound values, whereas",/,
  "  the second contains upper bound values"))L"};
const Layout kRowsNormal{R"L(("  First row contains expected values, whereas",/,
  "  the second contains the standard deviations",/,
  "  for the corresponding elements"))L"};
const Layout kMatricesRectangular{R"L(("  First matrix gives lower bound values, whereas",/,
  "  the second contains upper bound values"))L"};
const Layout kMatricesNormal{R"L(("  First matrix contains expected values, whereas",/,
  "  the second contains the standard deviations",/,
  "  for the corresponding elements"))L"};
const Layout kCriterionCorrHead{R"L(("Correlation matrix of the criterion dimensions."))L"};
const Layout kCriterionCorrRow{R"L(("  Criterion",I2,2X,5F7.3))L"};
const Layout kPredictorCorrHead{R"L(("Correlation matrix of the predictors."))L"};
const Layout kPredictorCorrRow{R"L(("  Predictor",I3,2X,10F7.3))L"};
const Layout kValidityHead{R"L(("Validities of the predictors (columns) with respect",/,
  "to the criterion dimensions (rows)."))L"};
const Layout kValidityRow{R"L(("  Criterion",I2,2X,10F7.3))L"};
const Layout kPredictorEffectHead{
    R"L(("Effect sizes selection predictors (Last group is"," base)."))L"};
const Layout kCriterionEffectHead{
    R"L(("Effect sizes criterion dimensions (Last group is"," base)."))L"};
const Layout kGroupRow{R"L(("  Group",I2,": ",10F7.3))L"};
const Layout kWeightsHead{R"L(("Predictor weights from predictor 1 onwards are fixed",/,
  "as follows in each of the stages"))L"};
const Layout kStageWeights{R"L(("  Stage",I2," :",10F7.3))L"};
const Layout kRetentionHead{R"L(("Fixed retention rates in the ",I2," stages"))L"};
const Layout kRetention{R"L(("Retention rate stage",I2," must be equal to",F8.3))L"};
const Layout kOverview{R"L((/,"COMPUTATION RESULTS OVERVIEW"))L"};

// Check records.
const Layout kSampleError{R"L(("Error in sample",I7,"  Group prop. are",/,(10X,5F9.4)))L"};
const Layout kDfzeroError{R"L(("Error in dfzero ",I3))L"};
const Layout kSkipped{
    R"L((/,"Monte Carlo sample number ",I6," skipped: correlations not positive definite"))L"};

// Pass report.
const Layout kSampleNumber{R"L((/,"Monte Carlo sample number ",I6))L"};
const Layout kTableHead{R"L((3X,"Stage   Group   Quality   Cum. AI   Stage AI"))L"};
const Layout kTableRow{R"L((3X,I5,3X,I5,2X,F8.3,2X,F8.3,3X,F8.3))L"};
const Layout kQualityAll{R"L((3X,"Quality all selected per stage:",4F8.3))L"};
const Layout kCompositeHead{R"L((/,"Effect sizes stage-specific predictor composites",
  " before stage 1",/,
  30X," Group 1",2X,"Group 2",2X,"Group 3",2X,"Group 4",2X,"Group 5"))L"};
const Layout kCompositeRow{R"L(("  Stage",I2," Predictor composite",5F9.3))L"};
const Layout kNextComposite{R"L((/,"Effect size stage",I2," predictor composite after",
  " stage",I2," selection",/,
  5X," Group 1",3X,"Group 2",3X,"Group 3",3X,"Group 4",3X,"Group 5",/,
  3X,5F10.3))L"};
const Layout kPredictorMeansHead{R"L((/,"Predictor effect sizes after stage",I2," selection",/,
  16X,"Group 1",3X,"Group 2",3X,"Group 3",3X,"Group 4",3X,"Group 5"))L"};
const Layout kPredictorMeans{R"L((2X,"Predictor",I2,5F10.3))L"};

// Summary.
// Beside the specified report, with --summary-only: the skipped samples in
// one line, and the heading of the summary of an interrupted run.
const Layout kSkippedCount{
    R"L((/,"Monte Carlo samples skipped: correlations not positive definite:",I7))L"};
const Layout kInterruptedSummary{
    R"L((/,/,"Interrupted: the summary of the first",I7," of",I7," samples"))L"};
const Layout kNotCounted{R"L((/,"Passes not counted in the summary:",I7))L"};
const Layout kNoneCounted{R"L((/,/,"No pass could be counted in the summary."))L"};
const Layout kAverages{R"L((/,/,"Average expected quality of a selected applicant",/,
  "after stage",I2," over the",I7," samples is",F8.4,/,
  "whereas the average Cum. AI values for the groups are",/,
  10X,5F9.3))L"};
const Layout kQualityPercentiles{R"L((/,'Selected percentile values of the "sampling',/,
  'distribution" of the expected quality of the selected',/,
  9(3X,I5),/,9F8.3))L"};
const Layout kAIPercentilesHead{R"L((/,'Selected percentile values of the "sampling',/,
  'distribution" of the group specific Cum. AI ratio values'))L"};
const Layout kGroupPercentiles{R"L(("For group ",I2,/,9(3X,I5),/,9F8.3))L"};
const Layout kCpuTime{R"L((/,"CPU TIME IN SECONDS ",F12.2))L"};

void mode_text(textio::Writer& w, int smode, const Layout& rectangular, const Layout& normal) {
  if (smode == kRectangular) w.write(rectangular);
  if (smode == kNormal) w.write(normal);
}

// One record of a label and a row of values.
template <class M>
void write_row(textio::Writer& w, const Layout& layout, int label, const M& mat, int row, int n) {
  w.begin(layout);
  w.put(label);
  for (int j = 1; j <= n; ++j)
    w.put(mat(row, j));
  w.end();
}

// Label-and-row records of the first matrix and, unless exact, of the second.
template <class M>
void write_rows(textio::Writer& w, int smode, const Layout& layout, const M& first, const M& second,
                int rows, int cols) {
  for (int i = 1; i <= rows; ++i)
    write_row(w, layout, i, first, i, cols);
  if (smode == kExact || smode == kGiven) return;
  w.write(kBlank);
  for (int i = 1; i <= rows; ++i)
    write_row(w, layout, i, second, i, cols);
}

// One echo section of an uncertain matrix: heading, mode text, the rows.
template <class M>
void write_section(textio::Writer& w, int smode, const Layout& head, const Layout& row,
                   const M& first, const M& second, int rows, int cols) {
  w.write(kBlank);
  w.write(head);
  mode_text(w, smode, kMatricesRectangular, kMatricesNormal);
  write_rows(w, smode, row, first, second, rows, cols);
}

}  // namespace

void write_start_line(textio::Writer& w, const numeric::DateTime& t) {
  w.write(kStart, t.day, t.month, t.year, t.hour, t.minute, t.second);
}

void write_banner(textio::Writer& w) {
  w.write(kBanner);
}

void write_exact_line(textio::Writer& w) {
  w.write(kExactLine);
}

void write_echo(textio::Writer& w, const Problem& p, const Model& m) {
  const Wdca& a = m.wdca;
  const int smode = p.smode;
  w.write(kHeading);
  if (smode == kExact) write_exact_line(w);
  w.write(kCounts, a.nstage, a.ncrit, a.npred, a.ngroup);
  w.begin(kCriterionWeights);
  for (int c = 1; c <= a.ncrit; ++c)
    w.put(a.cw(c));
  w.end();
  if (smode == kRectangular) w.write(kRectangularSampling);
  if (smode == kNormal) w.write(kNormalSampling);
  if (smode != kExact) w.write(kSampleCount, p.nsamp);
  if (smode == kGiven) w.write(kGivenSampling);

  w.write(kBlank);
  w.write(kProportionHead);
  mode_text(w, smode, kRowsRectangular, kRowsNormal);
  w.begin(kProportions);
  for (int g = 1; g <= a.ngroup; ++g)
    w.put(p.prop1(g));
  w.end();
  if (smode == kNormal || smode == kRectangular) {
    w.write(kBlank);
    w.begin(kProportions);
    for (int g = 1; g <= a.ngroup; ++g)
      w.put(p.prop2(g));
    w.end();
  }

  write_section(w, smode, kCriterionCorrHead, kCriterionCorrRow, p.rc1, p.rc2, a.ncrit, a.ncrit);
  write_section(w, smode, kPredictorCorrHead, kPredictorCorrRow, p.rp1, p.rp2, a.npred, a.npred);
  write_section(w, smode, kValidityHead, kValidityRow, p.val1, p.val2, a.ncrit, a.npred);
  write_section(w, smode, kPredictorEffectHead, kGroupRow, p.dp1, p.dp2, a.ngroup, a.npred);
  write_section(w, smode, kCriterionEffectHead, kGroupRow, p.dc1, p.dc2, a.ngroup, a.ncrit);

  w.write(kBlank);
  w.write(kWeightsHead);
  for (int s = 1; s <= a.nstage; ++s)
    write_row(w, kStageWeights, s, m.wdcc.b, s, m.wdcd.np(s));
  w.write(kBlank);
  w.write(kRetentionHead, a.nstage);
  for (int s = 1; s <= a.nstage; ++s)
    w.write(kRetention, s, a.rr(s));
  w.write(kOverview);
}

void write_sample_error(textio::Writer& w, int k, const Model& m, double total) {
  w.begin(kSampleError);
  w.put(k);
  for (int g = 1; g <= m.wdca.ngroup; ++g)
    w.put(m.wdca.prop(g));
  w.put(total);
  w.end();
}

void write_dfzero_error(textio::Writer& w, int stage) {
  w.write(kDfzeroError, stage);
}

void write_skipped(textio::Writer& w, int k) {
  w.write(kSkipped, k);
}

void write_pass_report(textio::Writer& w, int smode, int k, const Model& m) {
  const Wdca& a = m.wdca;
  const int ng = a.ngroup;
  if (smode == kExact) {
    w.write(kBlank);
  } else {
    w.write(kSampleNumber, k);
  }
  w.write(kTableHead);
  for (int s = 1; s <= a.nstage; ++s)
    for (int g = 1; g <= ng; ++g)
      w.write(kTableRow, s, g, m.wdcf.qgrp(g, s), m.wdcc.aicum(s, g), m.wdcc.aistg(s, g));
  w.begin(kQualityAll);
  for (int s = 1; s <= a.nstage; ++s)
    w.put(m.wdcf.qall(s));
  w.end();
  if (smode != kExact) return;

  // Extended output: group means relative to the base group.
  w.write(kCompositeHead);
  for (int s = 1; s <= a.nstage; ++s) {
    w.begin(kCompositeRow);
    w.put(s);
    for (int g = 1; g <= ng; ++g)
      w.put(a.dcomp(g, s));
    w.end();
  }
  for (int s = 1; s <= a.nstage; ++s) {
    if (s < a.nstage) {
      w.begin(kNextComposite);
      w.put(s + 1);
      w.put(s);
      for (int g = 1; g <= ng; ++g)
        w.put(m.wdcc.dnext(s, g) - m.wdcc.dnext(s, ng));
      w.end();
    }
    w.write(kPredictorMeansHead, s);
    for (int p = 1; p <= a.npred; ++p) {
      w.begin(kPredictorMeans);
      w.put(p);
      for (int g = 1; g <= ng; ++g)
        w.put(m.wdcf.dpsel(s, g, p) - m.wdcf.dpsel(s, ng, p));
      w.end();
    }
  }
}

void write_summary(textio::Writer& w, const Model& m, const Summary& sum) {
  const Wdca& a = m.wdca;
  const int n = sum.count;
  if (sum.not_counted > 0) w.write(kNotCounted, sum.not_counted);
  if (n == 0) {
    w.write(kNoneCounted);
    return;
  }
  auto points = [&](const std::array<float, kPercentiles.size()>& values) {
    for (int point : kPercentiles)
      w.put(point);
    for (float v : values)
      w.put(v);
  };
  for (int s = 1; s <= a.nstage; ++s) {
    const auto S = static_cast<std::size_t>(s - 1);
    w.begin(kAverages);
    w.put(s);
    w.put(n);
    w.put(sum.avq(s));
    for (int g = 1; g <= a.ngroup; ++g)
      w.put(sum.avai(s, g));
    w.end();
    if (!sum.percentiles) continue;
    w.begin(kQualityPercentiles);
    points(sum.q[S]);
    w.end();
    w.write(kAIPercentilesHead);
    for (int g = 1; g <= a.ngroup; ++g) {
      w.begin(kGroupPercentiles);
      w.put(g);
      points(sum.ai[S][static_cast<std::size_t>(g - 1)]);
      w.end();
    }
  }
}

void write_pass(textio::Writer& w, const Problem& p, const PassResult& r, bool summary_only) {
  const Model& m = *r.model;
  if (r.proportion_total) write_sample_error(w, r.k, m, *r.proportion_total);
  if (r.k == 1) {
    write_banner(w);
    write_echo(w, p, m);
  } else if (p.smode == kExact && !summary_only) {
    write_exact_line(w);
  }
  if (r.skipped) {
    if (!summary_only) write_skipped(w, r.k);
    return;
  }
  for (int s = 1; s <= m.wdca.nstage; ++s)
    if ((r.failed >> s) & 1u) write_dfzero_error(w, s);
  if (!summary_only) write_pass_report(w, p.smode, r.k, m);
}

void write_skipped_count(textio::Writer& w, int skipped) {
  w.write(kSkippedCount, skipped);
}

void write_interrupted_heading(textio::Writer& w, int done, int total) {
  w.write(kInterruptedSummary, done, total);
}

void write_cpu_time(textio::Writer& w, float seconds) {
  w.write(kCpuTime, seconds);
}

}  // namespace selquant
