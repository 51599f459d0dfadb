// Stata (.dta) and SPSS (.sav, .zsav, .por) data sets, read through libreadstat (the rows of
// recent Stata files straight from the file).
//
// Types map as users of those packages expect: string variables are character, every other
// storage type numeric (as a double, exactly). System missing, Stata's extended missing
// values .a-.z and SPSS user-missing values and ranges are all missing. Variable labels carry
// over; value labels of a numeric variable are its formatted values (so they become the CLASS
// level texts, as formats do). Rows are decoded a bounded chunk at a time, so memory does not
// grow with the file.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "io/dataset.h"

namespace velloc::host {

enum class StatKind { None, Dta, Sav, Por };

// The kind the file's extension names (case-insensitive); None for anything else.
StatKind statKindFor(const std::string& path);
// "Stata" or "SPSS", for messages.
const char* statKindName(StatKind kind);

// Checks the file's signature, reads its dictionary and counts its rows. Logs and throws
// DataSetError when it cannot be opened, is not the kind its name says, or is malformed.
std::unique_ptr<Dataset> openStatDataset(const std::string& path, StatKind kind);

// Bytes of decoded rows kept at a time by data sets opened afterwards (tests use tiny ones so
// that groups cross chunk boundaries).
void setStatChunkBytes(std::int64_t bytes);
// Whether Stata files of releases 117-119 opened afterwards have their rows decoded straight
// from the file (the default) rather than through the library, which tests compare them with.
void setStatDirectRows(bool on);

} // namespace velloc::host
