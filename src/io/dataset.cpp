// Opening a CSV data set: header, sidecar and the scan pass.
#include <algorithm>
#include <cctype>
#include <map>

#include "base/exit_codes.h"
#include "base/messages.h"
#include "io/csv_dataset.h"
#include "io/csv_number.h"
#include "io/data_messages.h"
#include "io/schema.h"
#include "io/stat_dataset.h"
#include "io/text_encoding.h"

namespace velloc::host {

namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string str(std::int64_t v) {
    return std::to_string(v);
}

bool hasTsvExtension(const std::string& path) {
    if (path.size() < 4) return false;
    return upperCase(std::string_view(path).substr(path.size() - 4)) == ".TSV";
}

} // namespace

std::unique_ptr<Dataset> Dataset::open(const std::string& path) {
    return open(path, CsvDialect{});
}

std::unique_ptr<Dataset> Dataset::open(const std::string& path, const CsvDialect& dialect) {
    // The texts must be there whoever runs first, the driver or a test.
    if (!hasMessage(kGroupHostData, datamsg::kCannotOpen)) addDataSetMessages();
    if (StatKind kind = statKindFor(path); kind != StatKind::None) {
        if (!dialect.isDefault()) failDataSet(datamsg::kDialectNotText, {path, statKindName(kind)});
        return openStatDataset(path, kind);
    }
    auto ds = std::make_unique<CsvDataset>(path, dialect);
    ds->scan();
    return ds;
}

void CsvDataset::scan() {
    char delim = dialect_.delimiter;
    if (delim == 0) delim = hasTsvExtension(path_) ? '\t' : ',';
    reader_.setDelimiter(delim);
    if (!reader_.open(path_)) failDataSet(datamsg::kCannotOpen, {path_, reader_.error()});
    CsvRecord rec;
    switch (reader_.next(rec)) {
    case CsvReader::Result::End:
        failDataSet(datamsg::kEmpty, {path_});
    case CsvReader::Result::Unterminated:
        failDataSet(datamsg::kUnterminatedQuote,
                    {path_, str(reader_.recordLine()),
                     str(static_cast<std::int64_t>(reader_.errorField()))});
    case CsvReader::Result::IoError:
        failDataSet(datamsg::kReadError, {path_, "0", reader_.error()});
    case CsvReader::Result::Record:
        break;
    }
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < rec.size(); ++i) {
        std::string_view name = trimBlanks(rec.field(i));
        std::string col = str(static_cast<std::int64_t>(i + 1));
        if (i == 0 && name.empty() && rec.size() > 1) {
            xpmlog(kGroupHostData, datamsg::kRowNames, {path_});
            name = "_ROWNAME_";
        }
        if (!validVariableName(name)) failDataSet(datamsg::kInvalidName, {path_, name, col});
        auto [it, fresh] = seen.emplace(upperCase(name), i + 1);
        if (!fresh)
            failDataSet(datamsg::kDuplicateName,
                        {path_, name, str(static_cast<std::int64_t>(it->second)), col});
        Variable v;
        v.name = std::string(name);
        vars_.push_back(std::move(v));
    }
    dataOffset_ = reader_.tell();
    dataLine_ = reader_.line();
    const std::size_t n = vars_.size();

    // The sidecar: explicit types come first, they decide how cells are read.
    std::string schemaPath = schemaPathFor(path_);
    Schema schema = readSchema(schemaPath);
    std::vector<char> explicitType(n, 0);
    std::vector<char> canBeNumeric(n, 1);
    std::vector<FormatSpec> formats(n);
    if (schema.present) {
        label_ = schema.label;
        for (const SchemaVar& sv : schema.vars) {
            int k = find(sv.name);
            if (k == 0) failDataSet(datamsg::kSchemaUnknownVar, {schemaPath, sv.name, path_});
            Variable& v = vars_[k - 1];
            v.label = sv.label;
            if (sv.type) {
                explicitType[k - 1] = 1;
                canBeNumeric[k - 1] = *sv.type == VarType::Numeric;
            }
            if (!sv.format.empty()) {
                auto f = parseFormat(sv.format);
                const char* kind = !sv.type                       ? "numeric or character"
                                   : *sv.type == VarType::Numeric ? "numeric"
                                                                  : "character";
                if (!f) failDataSet(datamsg::kSchemaFormat, {schemaPath, v.name, sv.format, kind});
                bool charFormat = f->name == "$";
                if (sv.type && charFormat != (*sv.type == VarType::Character))
                    failDataSet(datamsg::kSchemaFormat, {schemaPath, v.name, sv.format, kind});
                // A character format without a type makes the variable character.
                if (!sv.type && charFormat) {
                    explicitType[k - 1] = 1;
                    canBeNumeric[k - 1] = 0;
                }
                formats[k - 1] = *f;
            }
        }
    }

    // Lengths as UTF-8 both ways: whether the file is Windows-1252 may show only late.
    std::vector<std::size_t> maxLen(n, 0), maxLen1252(n, 0);
    std::vector<char> numberSeen(n, 0);
    std::int64_t rows = 0, badUtf8Line = 0;
    const bool checkMissing = !dialect_.missing.empty();
    const bool cp1252 = dialect_.encoding == CsvDialect::Encoding::Cp1252;
    for (;;) {
        CsvReader::Result r = reader_.next(rec);
        if (r == CsvReader::Result::End) break;
        if (r == CsvReader::Result::Unterminated)
            failDataSet(datamsg::kUnterminatedQuote,
                        {path_, str(reader_.recordLine()),
                         str(static_cast<std::int64_t>(reader_.errorField()))});
        if (r == CsvReader::Result::IoError)
            failDataSet(datamsg::kReadError, {path_, str(reader_.recordLine()), reader_.error()});
        if (rec.blankLine && n > 1) continue;
        if (rec.size() != n) {
            std::size_t col = std::min(rec.size(), n) + 1;
            failDataSet(datamsg::kRagged,
                        {path_, str(static_cast<std::int64_t>(rec.size())),
                         str(reader_.recordLine()), str(static_cast<std::int64_t>(n)),
                         str(static_cast<std::int64_t>(col))});
        }
        const bool high = std::any_of(rec.data.begin(), rec.data.end(),
                                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        if (high && !cp1252 && badUtf8Line == 0 && !isValidUtf8(rec.data)) {
            badUtf8Line = reader_.recordLine();
            if (dialect_.encoding == CsvDialect::Encoding::Utf8)
                failDataSet(datamsg::kNotUtf8, {path_, str(badUtf8Line)});
        }
        for (std::size_t i = 0; i < n; ++i) {
            std::string_view f = rec.field(i);
            if (f.size() > maxLen[i]) maxLen[i] = f.size();
            if (high) maxLen1252[i] = std::max(maxLen1252[i], cp1252Utf8Length(f));
            if (checkMissing && isMissingText(f)) continue;
            if (isPlainNumber(f)) {
                numberSeen[i] = 1;
                continue;
            }
            if (!canBeNumeric[i] && numberSeen[i]) continue;
            double v;
            CellKind kind = classify(f, v);
            if (kind == CellKind::Number) numberSeen[i] = 1;
            if (kind == CellKind::Text && canBeNumeric[i]) {
                if (explicitType[i])
                    failDataSet(datamsg::kNotANumber,
                                {path_, f, str(reader_.recordLine()),
                                 str(static_cast<std::int64_t>(i + 1)), vars_[i].name});
                canBeNumeric[i] = 0;
                vars_[i].textLine = reader_.recordLine();
                vars_[i].textColumn = static_cast<int>(i + 1);
                vars_[i].textCell = std::string(f);
            }
        }
        ++rows;
    }
    nobs_ = rows;
    if (badUtf8Line > 0 || cp1252) {
        cp1252_ = true;
        // Asked for, the conversion needs no note.
        if (!cp1252) xpmlog(kGroupHostData, datamsg::kReadAsCp1252, {path_, str(badUtf8Line)});
        for (std::size_t i = 0; i < n; ++i) {
            maxLen[i] = std::max(maxLen[i], maxLen1252[i]);
            if (!vars_[i].textCell.empty()) {
                std::string t;
                appendCp1252AsUtf8(t, vars_[i].textCell);
                vars_[i].textCell = std::move(t);
            }
        }
    }

    for (std::size_t i = 0; i < n; ++i) {
        Variable& v = vars_[i];
        if (canBeNumeric[i]) {
            v.type = VarType::Numeric;
            v.length = 8;
        } else {
            // Only a column that also holds numbers has a stray text cell to point at.
            if (!numberSeen[i]) v.textLine = 0;
            v.type = VarType::Character;
            v.length = static_cast<int>(std::max<std::size_t>(1, maxLen[i]));
        }
        const FormatSpec& f = formats[i];
        if (f.name.empty()) continue;
        if ((f.name == "$") != (v.type == VarType::Character)) {
            const SchemaVar* sv = nullptr;
            for (const auto& s : schema.vars)
                if (upperCase(s.name) == upperCase(v.name)) sv = &s;
            failDataSet(datamsg::kSchemaFormat,
                        {schemaPath, v.name, sv ? sv->format : f.name,
                         v.type == VarType::Numeric ? "numeric" : "character"});
        }
        v.format = f.name;
        v.formatWidth = f.width > 0 ? f.width : (f.name == "$" ? v.length : 12);
        v.formatDecimals = f.decimals;
    }
    cur_.num.assign(n, 0.0);
    if (!reader_.seek(dataOffset_, dataLine_))
        failDataSet(datamsg::kReadError, {path_, str(dataLine_ - 1), reader_.error()});
}

void refuseTextCell(const Dataset& ds, int var, std::string_view user) {
    if (var < 1 || var > ds.nvars()) return;
    const Variable& v = ds.var(var);
    if (v.type != VarType::Character || v.textLine <= 0) return;
    xpmlog(kGroupHostData, datamsg::kTextInNumeric,
           {ds.path(), v.textCell, str(v.textLine), v.name, std::string(user), str(v.textColumn)});
    xexit(kExitDataSet);
}

} // namespace velloc::host
