// What the levelization library knows of the model: the CLASS variables and effects it was
// registered with, the row cursor it reads a BY group through, and the levels and design layout
// it found.
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

} // namespace velloc
