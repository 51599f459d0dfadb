// The sidecar NAME.schema.json beside a data set file: what CSV cannot carry (the data set
// label, variable labels, formats and explicit types).
//
//   { "label": "Study of 2024",
//     "variables": { "age": { "label": "Age at entry", "format": "F5.1" },
//                    "site": { "type": "character", "format": "$4." } } }
//
// "variables" may also be an array of objects that carry a "name".
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/dataset.h"

namespace velloc::host {

struct FormatSpec {
    std::string name; // "BEST", "F" or "$"
    int width = 0;
    int decimals = 0;
};

// Parses "BEST12.", "8.", "F8.2", "$10.", "$CHAR10."; nullopt when malformed.
// A missing width is 0 (the caller picks the default).
std::optional<FormatSpec> parseFormat(std::string_view text);
// The inverse: "BEST12.", "F8.2", "$10.".
std::string formatText(const Variable& v);

struct SchemaVar {
    std::string name;
    std::string label;
    std::string format; // as written
    std::optional<VarType> type;
};

struct Schema {
    bool present = false;
    std::string label;
    std::vector<SchemaVar> vars;
};

// The sidecar path of a data set file: NAME.csv -> NAME.schema.json.
std::string schemaPathFor(const std::string& csvPath);

// Reads the sidecar when it exists. Logs and throws DataSetError when it cannot be read or is
// not valid JSON of the expected layout.
Schema readSchema(const std::string& schemaPath);

} // namespace velloc::host
