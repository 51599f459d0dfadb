// The levelization library: CLASS level discovery and design rows in general linear model
// parameterisation.
//
// Use, per run and per BY group:
//   zlevmod(model, modelDef)          register the model once (vlcinit);
//   zlevcur(model, &cursor)       install the BY group's row cursor, levels become stale;
//   zlevrgi(model)                one pass over the cursor: levels and the design width D;
//   then for each row, after cursor.vlcxnxt() returned 1:
//   zlevrgd(model, &w, &f)        current row's level indices and continuous values;
//   zlevrgx(model, model.contVals.data(), model.levelIdx.data(), row)   its D design values.
//
// Design columns: column 0 is the intercept (1); then each effect in the order given. An
// effect is a product of factors: a continuous factor contributes its value (repeated, its
// power: x*x is x squared), a CLASS factor one 0/1 indicator per level (repeated, once), so a CLASS
// main effect has one column per level in level order and a crossing has the products of its
// factors' columns (the last factor varying fastest). Columns that are combinations of earlier ones
// are left for the fit to alias.
#pragma once
#include <string>

#include "core/model_desc.h"

namespace velloc {

// Registers the model. Returns 0, or 1 for an effect that names a variable out of range.
int zlevmod(ModelDesc& model, const ModelSpec& modelDef);
// Installs the cursor for a BY group and marks every level list stale.
void zlevcur(ModelDesc& model, RowCursor* cursor);
// Level discovery: one pass over the cursor. Rows with a missing CLASS value (blank text, or
// a missing numeric value of a numeric unformatted variable) add no level for that variable.
// Returns 1 on failure (no cursor, cursor error), 0 otherwise.
int zlevrgi(ModelDesc& model);
// The same discovery over two cursors that together give the rows, on two cores (the levels,
// their order and D do not depend on which rows each cursor gives).
int zlevrgiSplit(ModelDesc& model, RowCursor& first, RowCursor& second);
// Reads the current row through the cursor: level indices (-1 for a missing or unknown
// value) and continuous values into the model description; weight and frequency out.
int zlevrgd(ModelDesc& model, double* weight, double* freq);
// The D design values for the given continuous values and level indices. A product that
// involves a missing continuous value or a level index of -1 is missing in every column of
// that effect.
void zlevrgx(const ModelDesc& model, const double* cont, const int* levelIdx, double* row);

// Text of a level with trailing blanks removed and leading blanks skipped.
std::string levelText(const ModelDesc& model, int classVar, int level);

} // namespace velloc
