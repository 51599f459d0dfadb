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
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace velloc {

// One CLASS variable of the CLASS statement.
struct ClassVarSpec {
    std::string name;
    int width = 0;                   // formatted-value width in bytes (blank padded)
    bool numeric = false;            // a missing numeric value is a missing level
    bool numericUnformatted = false; // numeric without a format: levels ordered by value
};

// A factor of an effect: a CLASS variable (index in the CLASS list) or a continuous model
// variable (index in the continuous list, the order of the cursor's "z" values).
struct FactorRef {
    bool isClass = false;
    int index = 0;
};

// One model effect: the crossed factors, then the factors it is nested within (the names
// in parentheses). Nesting contributes columns like crossing; it differs only in how the
// effect is written.
struct EffectSpec {
    std::vector<FactorRef> crossed;
    std::vector<FactorRef> nested;
};

// What the statements give the library: every CLASS variable, the number of continuous
// model variables and the PSMODEL effects (empty with PSDATA alone).
struct ModelSpec {
    std::vector<ClassVarSpec> classVars;
    int nCont = 0;
    std::vector<EffectSpec> effects;
};

// The current row as the cursor reports it.
struct CursorRow {
    double* z = nullptr;        // nCont continuous values, already divided by their scales
    char* classText = nullptr;  // formatted values, each blank padded to its width, packed
    double* classNum = nullptr; // numeric CLASS values (ignored for character variables)
    double freq = 1.0;
    double weight = 1.0;
};

// The row cursor over the BY group's observations (vlcxini, vlcxnxt, vlcxval).
class RowCursor {
  public:
    virtual ~RowCursor() = default;
    virtual int vlcxini() = 0;               // rewind; 0 on success
    virtual int vlcxnxt() = 0;               // 1 when a row is current, 0 past the last
    virtual int vlcxval(CursorRow& row) = 0; // fill the buffers for the current row; 1
};

// Levels of one CLASS variable in level order.
struct ClassLevels {
    std::vector<std::string> text; // blank-padded formatted value (width bytes)
    std::vector<double> value;     // numeric value (numeric unformatted variables)
    std::unordered_map<std::string, int> index;
    bool stale = true;
    int count() const { return static_cast<int>(text.size()); }
};

// Design layout of the current BY group.
struct DesignLayout {
    int D = 0;                    // design width, intercept included
    std::vector<int> effectStart; // first column of each effect
    std::vector<int> effectWidth; // its number of columns
};

// The model description, shared between the procedure and the library.
struct ModelDesc {
    ModelSpec modelDef;
    std::vector<ClassLevels> levels; // one per CLASS variable
    DesignLayout layout;
    std::vector<int> levelIdx;    // current row: level index per CLASS variable, -1 missing
    std::vector<double> contVals; // current row: continuous values
    RowCursor* cursor = nullptr;
    int flags = 0;
    // Cursor buffers.
    std::vector<char> textBuf;
    std::vector<double> numBuf;
    std::vector<std::size_t> textOffset; // start of each CLASS variable in textBuf
};

// Registers the model. Returns 0, or 1 for an effect that names a variable out of range.
int zlevmod(ModelDesc& model, const ModelSpec& modelDef);
// Installs the cursor for a BY group and marks every level list stale.
void zlevcur(ModelDesc& model, RowCursor* cursor);
// Level discovery: one pass over the cursor. Rows with a missing CLASS value (blank text, or
// a missing numeric value of a numeric unformatted variable) add no level for that variable.
// Returns 1 on failure (no cursor, cursor error), 0 otherwise.
int zlevrgi(ModelDesc& model);
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
