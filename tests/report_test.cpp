#include "formats/report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

using selquant::Model;
using selquant::Problem;

struct Out {
  std::ostringstream os;
  textio::Writer w{os};
  std::string str() const { return os.str(); }
};

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);)
    v.push_back(l);
  return v;
}

TEST(ReportTest, StartLine) {
  Out o;
  selquant::write_start_line(o.w, {2026, 3, 7, 9, 5, 3});
  EXPECT_EQ(o.str(), "Program execution starts on  7/ 3/2026 at  9: 5: 3\n");
  Out p;
  selquant::write_start_line(p.w, {2026, 12, 31, 23, 59, 59});
  EXPECT_EQ(p.str(), "Program execution starts on 31/12/2026 at 23:59:59\n");
}

TEST(ReportTest, BannerHasItsFixedLines) {
  Out o;
  selquant::write_banner(o.w);
  const auto l = lines(o.str());
  ASSERT_EQ(l.size(), 23u);
  EXPECT_EQ(l[0], "");
  EXPECT_EQ(l[2], "                         +  SELQUANT  +");
  EXPECT_EQ(l[12], "may be multi-dimensional.");
  EXPECT_EQ(l[13], "");
  EXPECT_EQ(l[15], "");
  EXPECT_EQ(l[22], "10 predictors and 5 different applicant groups.");
}

// A sampled problem at the limits: 3 criteria, 10 predictors, 5 groups.
void widest(Problem& p, Model& m, int smode, int nsamp) {
  p.smode = smode;
  p.nsamp = nsamp;
  auto& a = m.wdca;
  a.ncrit = 3;
  a.npred = 10;
  a.ngroup = 5;
  a.nstage = 1;
  a.cw(1) = 1;
  a.rr(1) = 0.5;
  m.wdcd.np(1) = 10;
  for (int i = 1; i <= 3; ++i)
    p.rc1(i, i) = p.rc2(i, i) = 1;
  for (int i = 1; i <= 10; ++i) {
    p.rp1(i, i) = p.rp2(i, i) = 1;
    m.wdcc.b(1, i) = 1;
  }
  p.rc1(1, 3) = p.rc1(3, 1) = -0.25f;
  p.rp1(1, 10) = p.rp1(10, 1) = 1234.5f;  // too wide for F7.3
  for (int g = 1; g <= 5; ++g)
    p.prop1(g) = p.prop2(g) = 0.2f;
}

TEST(ReportTest, EchoOfWidestSampledProblem) {
  Problem p;
  Model m;
  widest(p, m, 2, 100000);
  Out o;
  selquant::write_echo(o.w, p, m);
  const std::string s = o.str();
  EXPECT_NE(s.find("Number of Monte Carlo samples is *****\n"), std::string::npos);
  EXPECT_NE(s.find("\n  Criterion 1    1.000  0.000 -0.250\n"), std::string::npos);
  EXPECT_NE(s.find("\n  Predictor  1    1.000  0.000  0.000  0.000  0.000  0.000  0.000  0.000"
                   "  0.000*******\n"),
            std::string::npos);
  EXPECT_NE(s.find("\n  Predictor 10  *******"), std::string::npos);
  EXPECT_NE(s.find("appropriate rectangular distributions\n"), std::string::npos);
  EXPECT_NE(s.find("  First matrix gives lower bound values, whereas\n"
                   "  the second contains upper bound values\n"),
            std::string::npos);
  EXPECT_NE(s.find("  First row gives lower bound values, whereas\n"), std::string::npos);
  EXPECT_NE(s.find("\n              0.200    0.200    0.200    0.200    0.200\n \n"
                   "              0.200    0.200"),
            std::string::npos);
  EXPECT_EQ(s.find("Exact computation"), std::string::npos);
  EXPECT_NE(s.find("  Stage 1 :  1.000"), std::string::npos);
  EXPECT_EQ(s.substr(s.size() - 31), "\n\nCOMPUTATION RESULTS OVERVIEW\n");
  // Normal mode texts.
  widest(p, m, 1, 500);
  Out n;
  selquant::write_echo(n.w, p, m);
  EXPECT_NE(
      n.str().find("appropriate normal distributions\nNumber of Monte Carlo samples is   500\n"),
      std::string::npos);
  EXPECT_NE(n.str().find("  First matrix contains expected values, whereas\n"
                         "  the second contains the standard deviations\n"
                         "  for the corresponding elements\n"),
            std::string::npos);
}

TEST(ReportTest, ExactEchoOmitsSecondRowsAndModeTexts) {
  Problem p;
  Model m;
  widest(p, m, 0, 3);
  Out o;
  selquant::write_echo(o.w, p, m);
  const std::string s = o.str();
  EXPECT_EQ(s.rfind("\nPROBLEM SPECIFICATION\n\nExact computation---extended output\n\n"
                    "Number of selection stages:  1\n",
                    0),
            0u);
  EXPECT_EQ(s.find("Monte Carlo samples"), std::string::npos);
  EXPECT_EQ(s.find("First"), std::string::npos);
  EXPECT_EQ(s.find("Sampling of"), std::string::npos);
  // One row per criterion and no blank record before a second matrix.
  EXPECT_NE(
      s.find("  Criterion 3   -0.250  0.000  1.000\n \nCorrelation matrix of the predictors."),
      std::string::npos);
}

TEST(ReportTest, CheckRecords) {
  Model m;
  m.wdca.ngroup = 5;
  for (int g = 1; g <= 5; ++g)
    m.wdca.prop(g) = 0.25;
  Out o;
  selquant::write_sample_error(o.w, 12, m, 1.25);
  EXPECT_EQ(o.str(),
            "Error in sample     12  Group prop. are\n"
            "             0.2500   0.2500   0.2500   0.2500   0.2500\n"
            "             1.2500\n");
  m.wdca.ngroup = 2;
  Out t;
  selquant::write_sample_error(t.w, 1, m, 0.5);
  EXPECT_EQ(t.str(),
            "Error in sample      1  Group prop. are\n             0.2500   0.2500   0.5000\n");
  Out d;
  selquant::write_dfzero_error(d.w, 3);
  selquant::write_skipped(d.w, 17);
  EXPECT_EQ(d.str(),
            "Error in dfzero   3\n\nMonte Carlo sample number     17 skipped: correlations not "
            "positive definite\n");
}

TEST(ReportTest, SampledPassReport) {
  Model m;
  m.wdca.nstage = 2;
  m.wdca.ngroup = 2;
  m.wdcf.qgrp(1, 1) = 0.188128;
  m.wdcf.qgrp(2, 2) = std::nan("");
  m.wdcc.aicum(2, 1) = 0.488456;
  m.wdcc.aistg(2, 1) = -0.7287;
  m.wdcf.qall(1) = 0.250493;
  m.wdcf.qall(2) = 0.608097;
  Out o;
  selquant::write_pass_report(o.w, 2, 42, m);
  EXPECT_EQ(o.str(),
            "\nMonte Carlo sample number     42\n"
            "   Stage   Group   Quality   Cum. AI   Stage AI\n"
            "       1       1     0.188     0.000      0.000\n"
            "       1       2     0.000     0.000      0.000\n"
            "       2       1     0.000     0.488     -0.729\n"
            "       2       2       NaN     0.000      0.000\n"
            "   Quality all selected per stage:   0.250   0.608\n");
}

TEST(ReportTest, ExtendedOutputIsRelativeToTheBaseGroup) {
  Model m;
  m.wdca.nstage = 1;
  m.wdca.ngroup = 3;
  m.wdca.npred = 1;
  m.wdca.dcomp(1, 1) = -0.5;
  m.wdcf.dpsel(1, 1, 1) = 0.2;
  m.wdcf.dpsel(1, 2, 1) = 0.5;
  m.wdcf.dpsel(1, 3, 1) = 0.7;
  Out o;
  selquant::write_pass_report(o.w, 0, 1, m);
  const std::string s = o.str();
  EXPECT_EQ(s.substr(0, 2), " \n");
  EXPECT_NE(s.find("\n  Stage 1 Predictor composite   -0.500    0.000    0.000\n"),
            std::string::npos);
  EXPECT_NE(s.find("\n  Predictor 1    -0.500    -0.200     0.000\n"), std::string::npos);
  EXPECT_EQ(s.find("Effect size stage"), std::string::npos);  // one stage: no next composite
  EXPECT_EQ(m.wdcf.dpsel(1, 3, 1), 0.7);  // the differences are formed for the report alone
}

selquant::Saved saved_series(int n, int groups) {
  selquant::Saved s;
  for (int k = 1; k <= n; ++k) {
    Model m;
    m.wdca.nstage = 1;
    m.wdca.ngroup = groups;
    // Values in reverse order of the pass, so sorting matters.
    m.wdcf.qall(1) = (n + 1 - k) / 1000.0;
    for (int g = 1; g <= groups; ++g)
      m.wdcc.aicum(1, g) = g == groups ? 1.0 : (n + 1 - k) / 100.0;
    selquant::save_pass(s, m);
  }
  return s;
}

TEST(ReportTest, PercentileIndices) {
  Model m;
  m.wdca.nstage = 1;
  m.wdca.ngroup = 2;
  selquant::Saved s = saved_series(150, 2);
  Out o;
  selquant::write_summary(o.w, m, selquant::summarize(2, m, s));
  const std::string text = o.str();
  // The sorted series is k / 1000: the indices are 1, 7, 15, 37, 75, 112, 135, 142, 148.
  EXPECT_NE(text.find("\nSelected percentile values of the \"sampling\n"
                      "distribution\" of the expected quality of the selected\n"
                      "       1       5      10      25      50      75      90      95      99\n"
                      "   0.001   0.007   0.015   0.037   0.075   0.112   0.135   0.142   0.148\n"),
            std::string::npos);
  EXPECT_NE(text.find("distribution\" of the group specific Cum. AI ratio values\nFor group  1\n"),
            std::string::npos);
  EXPECT_NE(text.find("\n   0.010   0.070   0.150   0.370   0.750   1.120   1.350   1.420   1.480\n"
                      "For group  2\n"),
            std::string::npos);
  EXPECT_NE(text.find("after stage 1 over the    150 samples is  0.0755\n"), std::string::npos);
  EXPECT_NE(text.find("              0.755    1.000\n"), std::string::npos);

  selquant::Saved h = saved_series(100, 1);
  Out o100;
  selquant::write_summary(o100.w, m, selquant::summarize(1, m, h));
  EXPECT_NE(o100.str().find(
                "\n   0.001   0.005   0.010   0.025   0.050   0.075   0.090   0.095   0.099\n"),
            std::string::npos);
}

TEST(ReportTest, SummaryWithoutPercentiles) {
  Model m;
  m.wdca.nstage = 1;
  m.wdca.ngroup = 1;
  selquant::Saved s = saved_series(99, 1);
  Out o;
  selquant::write_summary(o.w, m, selquant::summarize(2, m, s));
  EXPECT_EQ(o.str(),
            "\n\nAverage expected quality of a selected applicant\n"
            "after stage 1 over the     99 samples is  0.0500\n"
            "whereas the average Cum. AI values for the groups are\n"
            "              1.000\n");
  selquant::Saved e = saved_series(150, 1);
  Out exact;
  selquant::write_summary(exact.w, m, selquant::summarize(0, m, e));
  EXPECT_EQ(exact.str().find("percentile"), std::string::npos);
}

TEST(ReportTest, PassesNotCounted) {
  Model m;
  m.wdca.nstage = 1;
  m.wdca.ngroup = 2;
  selquant::Saved s;
  m.wdcf.qall(1) = 0.5;
  m.wdcc.aicum(1, 1) = std::nan("");
  m.wdcc.aicum(1, 2) = 1;
  selquant::save_pass(s, m);
  ++s.not_counted;  // a skipped pass
  Out none;
  selquant::write_summary(none.w, m, selquant::summarize(2, m, s));
  EXPECT_EQ(none.str(),
            "\nPasses not counted in the summary:      2\n\n\n"
            "No pass could be counted in the summary.\n");
  m.wdcc.aicum(1, 1) = 0.25;
  selquant::save_pass(s, m);
  Out one;
  selquant::write_summary(one.w, m, selquant::summarize(2, m, s));
  EXPECT_EQ(one.str(),
            "\nPasses not counted in the summary:      2\n\n\n"
            "Average expected quality of a selected applicant\n"
            "after stage 1 over the      1 samples is  0.5000\n"
            "whereas the average Cum. AI values for the groups are\n"
            "              0.250    1.000\n");
  Out cpu;
  selquant::write_cpu_time(cpu.w, 1.234f);
  EXPECT_EQ(cpu.str(), "\nCPU TIME IN SECONDS         1.23\n");
}

}  // namespace
