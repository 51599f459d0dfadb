#include "io/schema.h"

#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>

#include "base/messages.h"
#include "io/data_messages.h"

namespace velloc::host {

namespace {

[[noreturn]] void fail(int number, Args args) {
    xpmlog(kGroupHostData, number, args);
    throw DataSetError{xpmstr(kGroupHostData, number, args)};
}

bool readInt(std::string_view s, std::size_t& i, int& out) {
    std::size_t start = i;
    long v = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        v = v * 10 + (s[i] - '0');
        if (v > 1000000) return false;
        ++i;
    }
    out = static_cast<int>(v);
    return i > start;
}

} // namespace

std::optional<FormatSpec> parseFormat(std::string_view text) {
    FormatSpec f;
    std::size_t i = 0;
    bool character = false;
    if (i < text.size() && text[i] == '$') {
        character = true;
        ++i;
    }
    std::string name;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])))
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
    readInt(text, i, f.width);
    if (i >= text.size() || text[i] != '.') return std::nullopt;
    ++i;
    readInt(text, i, f.decimals);
    if (i != text.size()) return std::nullopt;
    if (character) {
        if (!name.empty() && name != "CHAR") return std::nullopt;
        if (f.decimals != 0 || f.width > 32767) return std::nullopt;
        f.name = "$";
        return f;
    }
    if (name.empty()) name = "F";
    if (name != "BEST" && name != "F") return std::nullopt;
    if (f.width > 32) return std::nullopt;
    if (name == "BEST" && f.decimals != 0) return std::nullopt;
    if (name == "F" && f.width > 0 && f.decimals >= f.width) return std::nullopt;
    f.name = name;
    return f;
}

std::string formatText(const Variable& v) {
    if (v.format.empty()) return {};
    std::string s = v.format == "F" ? "" : v.format;
    if (v.formatWidth > 0) s += std::to_string(v.formatWidth);
    s += '.';
    if (v.formatDecimals > 0) s += std::to_string(v.formatDecimals);
    return s;
}

std::string schemaPathFor(const std::string& csvPath) {
    std::string base = csvPath;
    if (base.size() > 4) {
        std::string ext = base.substr(base.size() - 4);
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".csv") base.resize(base.size() - 4);
    }
    return base + ".schema.json";
}

Schema readSchema(const std::string& schemaPath) {
    Schema schema;
    struct stat st {};
    if (::stat(schemaPath.c_str(), &st) != 0) return schema;
    std::ifstream in(schemaPath, std::ios::binary);
    std::stringstream ss;
    if (in) ss << in.rdbuf();
    if (!in || in.bad()) fail(datamsg::kSchemaUnreadable, {schemaPath, "it cannot be opened"});
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(ss.str());
    } catch (const nlohmann::json::parse_error& e) {
        fail(datamsg::kSchemaJson, {schemaPath, e.what()});
    }
    if (!j.is_object())
        fail(datamsg::kSchemaLayout, {schemaPath, "the top level is not an object"});
    schema.present = true;
    auto text = [&](const nlohmann::json& o, const char* key, const std::string& where) {
        auto it = o.find(key);
        if (it == o.end() || it->is_null()) return std::string();
        if (!it->is_string())
            fail(datamsg::kSchemaLayout,
                 {schemaPath, "\"" + std::string(key) + "\" of " + where + " is not a string"});
        return it->get<std::string>();
    };
    schema.label = text(j, "label", "the data set");
    auto addVar = [&](const std::string& name, const nlohmann::json& o) {
        if (!o.is_object())
            fail(datamsg::kSchemaLayout,
                 {schemaPath, "the entry of variable " + name + " is not an object"});
        SchemaVar v;
        v.name = name;
        std::string where = "variable " + name;
        v.label = text(o, "label", where);
        v.format = text(o, "format", where);
        std::string type = text(o, "type", where);
        if (!type.empty()) {
            std::string t = type;
            for (char& c : t)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (t == "numeric" || t == "num")
                v.type = VarType::Numeric;
            else if (t == "character" || t == "char")
                v.type = VarType::Character;
            else
                fail(datamsg::kSchemaType, {schemaPath, name, type});
        }
        schema.vars.push_back(std::move(v));
    };
    auto vars = j.find("variables");
    if (vars == j.end() || vars->is_null()) return schema;
    if (vars->is_object()) {
        for (auto it = vars->begin(); it != vars->end(); ++it)
            addVar(it.key(), it.value());
    } else if (vars->is_array()) {
        for (const auto& o : *vars) {
            if (!o.is_object() || !o.contains("name") || !o["name"].is_string())
                fail(datamsg::kSchemaLayout,
                     {schemaPath, "an entry of \"variables\" has no \"name\" string"});
            addVar(o["name"].get<std::string>(), o);
        }
    } else {
        fail(datamsg::kSchemaLayout,
             {schemaPath, "\"variables\" is neither an object nor an array"});
    }
    return schema;
}

} // namespace velloc::host
