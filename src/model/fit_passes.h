// The logistic fit's passes over its rows: the cross products that screen the design, the
// evaluations of the objective and its derivatives, and the scores of the c statistic. Rows are
// read where they lie in memory, from the fit's copy of the usable ones, in sequence from the
// source, or by number; from kFitTwoCoreRows usable rows each pass is split between two cores
// at the same rows wherever the rows are, so a fit gives the same numbers whether its rows
// were in memory or on disk.
#pragma once
#include <vector>

#include "model/fit_records.h"
#include "model/logistic.h"

namespace velloc {

// Cross products of the whole design row into fit.hessFull and the group totals, with each
// non-intercept column shifted by its value in the first usable row: the span is unchanged,
// and the centring of the alias screen then loses no precision to a column far from zero.
// Also each column's range per treatment group. Fills the cache of usable rows when the fit
// has one. Non-zero when the rows cannot be rewound.
int crossPass(VlcFit& fit, FitResult& res, std::vector<double> (&lo)[2],
              std::vector<double> (&hi)[2], std::vector<double>& shift);

// f, the gradient and the Hessian at fit->parm, in one pass; nothing when they are already
// held for these parameters. Non-zero when the rows cannot be read.
int evalPass(VlcFit* fit);

// Area under the ROC curve of the fitted logits (res.coef) over the rows the fit used,
// weighted, with res.nUsed and res.weightUsed. Non-zero when the rows fail.
int concordance(VlcFit& fit, FitResult& res);

} // namespace velloc
