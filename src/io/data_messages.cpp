#include "io/data_messages.h"

#include <array>

#include "base/messages.h"

namespace velloc::host {

namespace {
constexpr int G = kGroupHostData;
constexpr Severity E = Severity::Error;
constexpr Severity N = Severity::Note;

const std::array<MessageDef, 35> kDefs{{
    {G, datamsg::kCannotOpen, E, "The data set file %1 cannot be opened: %2."},
    {G, datamsg::kEmpty, E,
     "The data set file %1 is empty: it has no header row of variable names."},
    {G, datamsg::kRagged, E,
     "The data set file %1 has %2 fields on line %3 where the header has %4 (column %5)."},
    {G, datamsg::kUnterminatedQuote, E,
     "The data set file %1 has a quoted field that starts on line %2 (column %3) and is never "
     "closed."},
    {G, datamsg::kDuplicateName, E,
     "The data set file %1 names the variable %2 twice on line 1 (columns %3 and %4); names are "
     "compared without regard to case."},
    {G, datamsg::kInvalidName, E,
     "The data set file %1 has the invalid variable name \"%2\" on line 1 (column %3). A name has "
     "1 to 32 letters, digits or underscores and does not start with a digit."},
    {G, datamsg::kReadError, E, "The data set file %1 cannot be read after line %2: %3."},
    {G, datamsg::kSchemaJson, E, "The schema file %1 is not valid JSON: %2"},
    {G, datamsg::kSchemaUnknownVar, E,
     "The schema file %1 describes the variable %2, which the data set file %3 does not have."},
    {G, datamsg::kSchemaFormat, E,
     "The schema file %1 gives the variable %2 the format \"%3\", which is not a valid format for "
     "a %4 variable."},
    {G, datamsg::kSchemaType, E,
     "The schema file %1 gives the variable %2 the type \"%3\"; a type is \"numeric\" or "
     "\"character\"."},
    {G, datamsg::kSchemaLayout, E, "The schema file %1 is not laid out as expected: %2."},
    {G, datamsg::kNotANumber, E,
     "The data set file %1 has the value \"%2\" on line %3 (column %4) for the numeric variable "
     "%5, and it is not a number."},
    {G, datamsg::kNotSorted, E,
     "The data set %1 is not sorted by the BY variables %2: observation %3 (line %4) is out of "
     "order. Sort the data or add the NOTSORTED option to the BY statement."},
    {G, datamsg::kChanged, E,
     "The data set file %1 changed while it was being read (line %2); read it again."},
    {G, datamsg::kOutCreate, E, "The output data set %1 cannot be written: %2."},
    {G, datamsg::kOutCommit, E, "The output data set %1 cannot be put in place: %2."},
    {G, datamsg::kSchemaUnreadable, E, "The schema file %1 cannot be read: %2."},
    {G, datamsg::kOutSchema, E, "The schema file %1 of the output data set cannot be written: %2."},
    {G, datamsg::kUnknownLibrary, E,
     "The library %1 of data set name %2 is not assigned. Use --lib %1=FOLDER."},
    {G, datamsg::kOutDuplicateName, E,
     "The output data set %1 would hold two variables named %2: %3 is already one of its "
     "variables (names are compared without regard to case). Give the OUTPUT statement's new "
     "variable another name; nothing is written."},
    {G, datamsg::kRowNames, N,
     "The data set file %1 has no name for its first column, as R and pandas write row names; "
     "the column is read as the variable _ROWNAME_."},
    {G, datamsg::kReadAsCp1252, N,
     "The data set file %1 is not valid UTF-8 (line %2 is the first that is not); it is read as "
     "Windows-1252 and its text converted to UTF-8."},
    {G, datamsg::kTextInNumeric, E,
     "%5 uses the variable %4 as numeric, but the data set file %1 has the value \"%2\" on line "
     "%3 (column %6), which is not a number; the other values of %4 are numbers or missing "
     "values (., NA or an empty cell)."},
    {G, datamsg::kInfiniteInNumeric, E,
     "%5 uses the variable %4, but the data set %1 has the value \"%2\" at %3, which is infinite "
     "(or too large for a double): no estimate can use it. Correct it, or make it a missing value "
     "(., NA or an empty cell) so that the observation is left out."},
    {G, datamsg::kStatCannotRead, E, "The data set file %1 cannot be read as %2 data: %3."},
    {G, datamsg::kStatSignature, E,
     "The data set file %1 is named .%3, but its first bytes are not those of %2 data; check the "
     "file or its extension."},
    {G, datamsg::kStatWrite, E, "The output data set %1 cannot be written as %2 data: %3."},
    {G, datamsg::kStatWriteValue, E,
     "The output data set %1 cannot be written as %2 data: the variable %3 %4."},
    {G, datamsg::kStatNotSorted, E,
     "The data set %1 is not sorted by the BY variables %2: observation %3 is out of order. Sort "
     "the data or add the NOTSORTED option to the BY statement."},
    {G, datamsg::kDialectNotText, E,
     "The data set file %1 holds %2 data; the data set options DELIMITER=, ENCODING= and "
     "MISSING= apply only to delimited text files."},
    {G, datamsg::kNotUtf8, E,
     "The data set file %1 is not valid UTF-8 (line %2 is the first that is not), although "
     "ENCODING='utf-8' was given; name the file's encoding, for example "
     "ENCODING='windows-1252'."},
    {G, datamsg::kBadDelimiter, E,
     "In the %1 statement, %2= has the data set option DELIMITER='%3'; a delimiter is one "
     "character, or '\\t' or 'TAB' for a tab, and not a double quote or a line end."},
    {G, datamsg::kBadEncoding, E,
     "In the %1 statement, %2= has the data set option ENCODING='%3', an encoding that cannot be "
     "read; use 'utf-8' or 'windows-1252' (also named 'latin1')."},
    {G, datamsg::kLabelsNotKept, N,
     "The output data set %1 does not keep the value labels of %2: %3."},
}};
} // namespace

void addDataSetMessages() {
    addMessages(kDefs);
}

} // namespace velloc::host
