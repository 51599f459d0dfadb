// Opening a CSV data set: header, sidecar and the scan pass.
#include <algorithm>
#include <cctype>
#include <map>

#include "base/exit_codes.h"
#include "base/messages.h"
#include "io/csv_dataset.h"
#include "io/data_messages.h"
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
    delim_ = dialect_.delimiter;
    if (delim_ == 0) delim_ = hasTsvExtension(path_) ? '\t' : ',';
    reader_.setDelimiter(delim_);
    if (!reader_.open(path_)) failDataSet(datamsg::kCannotOpen, {path_, reader_.error()});
    const std::size_t n = readHeader();
    // The sidecar: explicit types come first, they decide how cells are read.
    ScanTally t;
    t.maxLen.assign(n, 0);
    t.maxLen1252.assign(n, 0);
    t.numberSeen.assign(n, 0);
    t.canBeNumeric.assign(n, 1);
    t.textLine.assign(n, 0);
    t.textCell.assign(n, {});
    t.infiniteLine.assign(n, 0);
    t.infiniteCell.assign(n, {});
    std::vector<char> explicitType(n, 0);
    std::vector<FormatSpec> formats(n);
    Schema schema;
    std::string schemaPath;
    readSidecar(explicitType, t, formats, schema, schemaPath);
    t = scanData(t, explicitType);
    nobs_ = t.rows;
    settleTypes(t, formats, schema, schemaPath);
    for (std::size_t i = 0; i < n; ++i)
        if (vars_[i].type == VarType::Numeric)
            numericFields_.push_back(static_cast<std::uint32_t>(i));
    cur_->ownNum.assign(n, 0.0);
    cur_->pointAtOwn();
    if (!reader_.seek(dataOffset_, dataLine_))
        failDataSet(datamsg::kReadError, {path_, str(dataLine_ - 1), reader_.error()});
}

std::size_t CsvDataset::readHeader() {
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
    return vars_.size();
}

void CsvDataset::readSidecar(std::vector<char>& explicitType, ScanTally& start,
                             std::vector<FormatSpec>& formats, Schema& schema,
                             std::string& schemaPath) {
    schemaPath = schemaPathFor(path_);
    schema = readSchema(schemaPath);
    if (!schema.present) return;
    label_ = schema.label;
    for (const SchemaVar& sv : schema.vars) {
        int k = find(sv.name);
        if (k == 0) failDataSet(datamsg::kSchemaUnknownVar, {schemaPath, sv.name, path_});
        Variable& v = vars_[k - 1];
        v.label = sv.label;
        if (sv.type) {
            explicitType[k - 1] = 1;
            start.canBeNumeric[k - 1] = *sv.type == VarType::Numeric;
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
                start.canBeNumeric[k - 1] = 0;
            }
            formats[k - 1] = *f;
        }
    }
}

void CsvDataset::settleTypes(ScanTally& t, const std::vector<FormatSpec>& formats,
                             const Schema& schema, const std::string& schemaPath) {
    const std::size_t n = vars_.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (t.textLine[i] == 0) continue;
        vars_[i].textLine = t.textLine[i];
        vars_[i].textColumn = static_cast<int>(i + 1);
        vars_[i].textCell = std::move(t.textCell[i]);
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (t.infiniteLine[i] == 0) continue;
        vars_[i].infiniteCell = std::move(t.infiniteCell[i]);
        vars_[i].infiniteWhere = "line " + str(t.infiniteLine[i]) + " (column " +
                                 str(static_cast<std::int64_t>(i + 1)) + ")";
    }
    const bool cp1252 = dialect_.encoding == CsvDialect::Encoding::Cp1252;
    if (t.badUtf8Line > 0 || cp1252) {
        cp1252_ = true;
        // Asked for, the conversion needs no note.
        if (!cp1252) xpmlog(kGroupHostData, datamsg::kReadAsCp1252, {path_, str(t.badUtf8Line)});
        for (std::size_t i = 0; i < n; ++i) {
            t.maxLen[i] = std::max(t.maxLen[i], t.maxLen1252[i]);
            if (!vars_[i].textCell.empty()) {
                std::string s;
                appendCp1252AsUtf8(s, vars_[i].textCell);
                vars_[i].textCell = std::move(s);
            }
        }
    }

    for (std::size_t i = 0; i < n; ++i) {
        Variable& v = vars_[i];
        if (t.canBeNumeric[i]) {
            v.type = VarType::Numeric;
            v.length = 8;
        } else {
            // Only a column that also holds numbers has a stray text cell to point at.
            if (!t.numberSeen[i]) v.textLine = 0;
            v.type = VarType::Character;
            v.length = static_cast<int>(std::max<std::size_t>(1, t.maxLen[i]));
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
}

void refuseTextCell(const Dataset& ds, int var, std::string_view user) {
    if (var < 1 || var > ds.nvars()) return;
    const Variable& v = ds.var(var);
    if (v.type != VarType::Character || v.textLine <= 0) return;
    xpmlog(kGroupHostData, datamsg::kTextInNumeric,
           {ds.path(), v.textCell, str(v.textLine), v.name, std::string(user), str(v.textColumn)});
    xexit(kExitDataSet);
}

void refuseInfiniteCell(const Dataset& ds, int var, std::string_view user) {
    if (var < 1 || var > ds.nvars()) return;
    const Variable& v = ds.var(var);
    if (v.type != VarType::Numeric || v.infiniteWhere.empty()) return;
    xpmlog(kGroupHostData, datamsg::kInfiniteInNumeric,
           {ds.path(), v.infiniteCell, v.infiniteWhere, v.name, std::string(user)});
    xexit(kExitDataSet);
}

} // namespace velloc::host
