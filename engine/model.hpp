// The selection model: stage composites, passing probabilities and truncated
// means, the cutoff equation, and quality and adverse impact of one sample.
#pragma once

#include "engine/blocks.hpp"

namespace selquant {

// Composite model of stages 1..nk: composite correlations rs, the joint matrix
// rx of (criterion, C1..Cnk), predictor-composite correlations rpc, raw
// composite variances vs and standardized group means dm. Sets np and dcomp.
void corpas(Model& m, int nk, Corr6& rs, Corr6& rx, Mat<double, kMaxStages, kMaxPred>& rpc,
            Vec<double, kMaxStages>& vs, Mat<double, kMaxGroups, kMaxStages>& dm);

// Standard normal density (with pi from the constants block).
double phim(const Wdca& a, double x);
// Clears a limit vector and a correlation matrix.
void nul(Vec<double, 6>& v, Corr6& c);

// mode 0: P(Z_i > lim_i, i = 1..ndim); mode 2: E[Z_1 1{Z_i > lim_i, i = 2..ndim}]
// (variable 1 carries the limit -zinf). A limit >= zinf gives 0. The fast
// kernel keeps what it can reuse of the matrices in paths.
double integ(const Wdca& a, int ndim, const double* lim, const Corr6& corr, int mode,
             mvn::fast::PathCache* paths = nullptr);
// The truncated first moment by Tallis's formula.
double inte2(const Wdca& a, int ndim, const double* lim, const Corr6& corr,
             mvn::fast::PathCache* paths = nullptr);

// Cutoff equation of stage istage at trial cutoff x: achieved minus required
// cumulative retention of the whole pool.
double eh(Model& m, double x);

// The same equation for a search that evaluates it many times: the stage's
// composites and group weights built once, the same bits as eh.
class CutoffEquation {
 public:
  explicit CutoffEquation(Model& m);
  double operator()(double x);

 private:
  Model& m_;
  Corr6 rs_;
  Mat<double, kMaxGroups, kMaxStages> dm_;
  Vec<double, kMaxGroups> wgt_;
};

// Results of one sample for the cutoffs cutoffs(1..nstage): qgrp, aicum,
// aistg, qall, dpsel, dnext (and dcomp, np). A group with no applicant passing
// a stage has undefined (NaN) means there, Cum. AI 0; a ratio over 0 is NaN.
// With means false the predictor and next-composite means (dpsel, dnext) are
// left out: what a search of weights needs, with the same bits of the rest.
void ef(Model& m, const Vec<double, kMaxStages>& cutoffs, bool means = true);

// True when the sample is a valid model: the joint correlation matrix of the
// criterion dimensions and the predictors is positive definite and the
// composite criterion has positive variance.
bool sample_is_valid(const Model& m);

}  // namespace selquant
