#include "io/output_dataset.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "base/file_target.h"
#include "base/messages.h"
#include "base/missing.h"
#include "base/text.h"
#include "io/csv_number.h"
#include "io/csv_row_writer.h"
#include "io/data_messages.h"
#include "io/dataset_provider.h"
#include "io/memory_dataset.h"
#include "io/schema.h"
#include "io/stat_writer.h"

namespace velloc::host {

namespace {

// The permissions a plain open() would give a new file under the process's umask.
mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A temporary file name beside the target: same folder, so the rename stays on one device.
// mkstemp creates it private; it gets the umask's permissions before anything is written, so
// the renamed file reads like any other output.
std::string tempPathFor(const std::string& path, int& fd) {
    std::string t = path + ".tmp-XXXXXX";
    fd = ::mkstemp(t.data());
    if (fd < 0) return std::string();
    if (::fchmod(fd, newFileMode()) != 0) {
        const int saved = errno;
        ::close(fd);
        std::remove(t.c_str());
        fd = -1;
        errno = saved;
        return std::string();
    }
    return t;
}

bool writeFileAtomically(const std::string& path, const std::string& content, std::string& why) {
    int fd = -1;
    std::string tmp = tempPathFor(path, fd);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    FILE* f = ::fdopen(fd, "wb");
    bool ok = f && std::fwrite(content.data(), 1, content.size(), f) == content.size();
    if (f) ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        why = std::strerror(errno);
        std::remove(tmp.c_str());
    }
    return ok;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

struct OutputDataset::Impl {
    std::string path, tmpPath, error;
    std::string target; // where the file goes: path with its links followed
    FILE* file = nullptr;
    std::vector<Variable> vars;
    std::vector<double> nums;
    std::vector<std::string> texts;
    std::vector<char> looksNumeric;     // character variables whose every value reads as a number
    std::unique_ptr<CsvRowWriter> rows; // a CSV target: from the header on
    bool started = false, committed = false, failed = false;
    std::unique_ptr<StatWriter> stat; // a .dta or .sav target: rows go to its spool
    // A data set the front end keeps in memory: rows go to columns, no file is written.
    DataSetProvider* keeper = nullptr;
    std::shared_ptr<MemoryTable> table;
    std::vector<std::unordered_map<std::string, std::int32_t>> dictionary; // per column

    void keepRow() {
        for (std::size_t i = 0; i < vars.size(); ++i) {
            MemoryColumn& c = table->columns[i];
            if (vars[i].type == VarType::Numeric) {
                c.numbers.push_back(nums[i]);
                nums[i] = missingValue();
                continue;
            }
            std::string& t = texts[i];
            std::int32_t code = -1;
            if (!t.empty()) {
                auto [it, fresh] =
                    dictionary[i].try_emplace(t, static_cast<std::int32_t>(c.texts.size()));
                if (fresh) c.texts.push_back(t);
                code = it->second;
            }
            c.codes.push_back(code);
            t.clear();
        }
    }

    void open() {
        // Written beside the file a link points to, so that the link stays; a device or a pipe
        // cannot take a data set that is renamed into place.
        const TargetKind kind = fileTarget(path, target);
        if (kind == TargetKind::Folder || kind == TargetKind::Other) {
            fail(kind == TargetKind::Folder ? "it is a folder" : "it is not a regular file");
            return;
        }
        int fd = -1;
        tmpPath = tempPathFor(target, fd);
        if (fd < 0) {
            fail(std::strerror(errno));
            return;
        }
        file = ::fdopen(fd, "wb");
        if (!file) {
            fail(std::strerror(errno));
            ::close(fd);
        }
    }
    void fail(std::string why) {
        if (!failed) error = std::move(why);
        failed = true;
    }
    // Writes the rows still queued and ends the writer's thread.
    void finishRows() {
        if (!rows) return;
        if (std::string why = rows->finish(); !why.empty()) fail(why);
        looksNumeric = rows->looksNumeric();
        rows.reset();
    }
    void header() {
        std::string line;
        std::vector<VarType> types;
        for (std::size_t i = 0; i < vars.size(); ++i) {
            if (i) line += ',';
            appendCsvText(line, vars[i].name);
            types.push_back(vars[i].type);
        }
        line += '\n';
        started = true;
        if (!file || failed) return;
        rows = std::make_unique<CsvRowWriter>(file, std::move(types));
        rows->text(std::move(line));
    }
    void discard() {
        rows.reset();
        if (file) std::fclose(file);
        file = nullptr;
        if (!tmpPath.empty()) std::remove(tmpPath.c_str());
        tmpPath.clear();
    }
    // Logs the failure that keeps the data set from being written and drops what was written.
    bool refuse() {
        xpmlog(kGroupHostData, datamsg::kOutCreate, {path, error});
        discard();
        return false;
    }
    // Renames the written file onto the data set's name; false (logged, the file dropped) when
    // the rename fails.
    bool publish() {
        if (std::rename(tmpPath.c_str(), target.c_str()) != 0) {
            xpmlog(kGroupHostData, datamsg::kOutCommit, {path, std::strerror(errno)});
            discard();
            return false;
        }
        tmpPath.clear();
        committed = true;
        return true;
    }
};

OutputDataset::OutputDataset(std::string path, DataSetProvider* provider)
    : impl_(std::make_unique<Impl>()) {
    if (!hasMessage(kGroupHostData, datamsg::kOutCreate)) addDataSetMessages();
    impl_->path = std::move(path);
    if (provider && provider->keepsOutput(impl_->path)) {
        impl_->keeper = provider;
        impl_->table = std::make_shared<MemoryTable>();
        impl_->table->name = impl_->path;
        return;
    }
    StatKind kind = statKindFor(impl_->path);
    if (kind == StatKind::Dta || kind == StatKind::Sav)
        impl_->stat = std::make_unique<StatWriter>(kind);
    impl_->open();
}

OutputDataset::~OutputDataset() {
    if (!impl_->committed) impl_->discard();
}

int OutputDataset::addVariable(Variable v) {
    Impl& m = *impl_;
    // Two columns of one name would not read back; the variable list is refused instead.
    for (const Variable& have : m.vars) {
        if (sameName(have.name, v.name)) {
            xpmlog(kGroupHostData, datamsg::kOutDuplicateName, {m.path, v.name, have.name});
            m.fail("duplicate variable " + v.name);
            return 0;
        }
    }
    if (v.type == VarType::Numeric) v.length = 8;
    if (m.table) {
        MemoryColumn c;
        c.name = v.name;
        c.label = v.label;
        c.type = v.type;
        m.table->columns.push_back(std::move(c));
        m.dictionary.emplace_back();
    }
    m.vars.push_back(std::move(v));
    m.nums.push_back(missingValue());
    m.texts.emplace_back();
    m.looksNumeric.push_back(1);
    return static_cast<int>(m.vars.size());
}

int OutputDataset::nvars() const {
    return static_cast<int>(impl_->vars.size());
}
const Variable& OutputDataset::var(int number) const {
    return impl_->vars.at(number - 1);
}
const std::string& OutputDataset::path() const {
    return impl_->path;
}
bool OutputDataset::good() const {
    return !impl_->failed;
}

void OutputDataset::setNum(int var, double value) {
    impl_->nums.at(static_cast<std::size_t>(var - 1)) = value;
}

void OutputDataset::setText(int var, std::string_view value) {
    impl_->texts.at(static_cast<std::size_t>(var - 1)).assign(value);
}

void OutputDataset::writeRow() {
    Impl& m = *impl_;
    if (m.table) {
        m.keepRow();
        m.started = true;
        return;
    }
    if (m.stat) {
        std::string why;
        if (!m.failed && !m.stat->append(m.vars, m.nums, m.texts, why)) m.fail(why);
        std::fill(m.nums.begin(), m.nums.end(), missingValue());
        for (std::string& t : m.texts)
            t.clear();
        m.started = true;
        return;
    }
    if (!m.started) m.header();
    if (m.rows) m.rows->row(m.nums, m.texts);
    std::fill(m.nums.begin(), m.nums.end(), missingValue());
    for (std::string& t : m.texts)
        t.clear();
}

bool OutputDataset::commit() {
    Impl& m = *impl_;
    if (m.committed) return true;
    if (m.table) {
        if (m.failed) return m.refuse();
        m.keeper->takeOutput(m.path, std::move(m.table));
        m.committed = true;
        return true;
    }
    if (m.stat) return commitStat();
    if (!m.started && !m.failed) m.header();
    m.finishRows();
    if (m.file && !m.failed) {
        if (std::fflush(m.file) != 0 || ::fsync(::fileno(m.file)) != 0)
            m.fail(std::strerror(errno));
        if (std::fclose(m.file) != 0) m.fail(std::strerror(errno));
        m.file = nullptr;
    }
    if (m.failed) return m.refuse();

    // The sidecar: labels and formats, and the type of every variable whenever one is given,
    // so that character values made of digits stay character when read back.
    std::string schemaPath = schemaPathFor(m.path);
    bool needSchema = false;
    for (std::size_t i = 0; i < m.vars.size(); ++i) {
        const Variable& v = m.vars[i];
        if (!v.label.empty() || !v.format.empty() ||
            (v.type == VarType::Character && m.looksNumeric[i]))
            needSchema = true;
    }
    if (needSchema) {
        nlohmann::ordered_json vars = nlohmann::ordered_json::object();
        for (const Variable& v : m.vars) {
            nlohmann::ordered_json o;
            o["type"] = v.type == VarType::Numeric ? "numeric" : "character";
            if (!v.label.empty()) o["label"] = v.label;
            if (!v.format.empty()) o["format"] = formatText(v);
            vars[v.name] = o;
        }
        nlohmann::ordered_json j;
        j["variables"] = vars;
        std::string why;
        if (!writeFileAtomically(schemaPath, j.dump(2) + "\n", why)) {
            xpmlog(kGroupHostData, datamsg::kOutSchema, {schemaPath, why});
            m.discard();
            return false;
        }
    } else if (::access(schemaPath.c_str(), F_OK) == 0) {
        // A sidecar left from an earlier data set of this name would no longer fit.
        std::remove(schemaPath.c_str());
    }
    if (!m.publish()) return false;
    std::vector<std::string> labelled;
    for (const Variable& v : m.vars)
        if (v.valueLabels && !v.valueLabels->empty()) labelled.push_back(v.name);
    if (!labelled.empty())
        xpmlog(kGroupHostData, datamsg::kLabelsNotKept,
               {m.path, listWithAnd(labelled),
                "a CSV file holds no value labels; name it .dta or .sav to keep them"});
    return true;
}

// A Stata or SPSS file carries its own labels and types: no sidecar, and a stale one goes.
bool OutputDataset::commitStat() {
    Impl& m = *impl_;
    if (m.file && !m.failed) {
        std::fflush(m.file);
        if (!m.stat->write(m.vars, {}, ::fileno(m.file), m.path)) {
            m.discard();
            return false;
        }
        if (::fsync(::fileno(m.file)) != 0) m.fail(std::strerror(errno));
    }
    if (m.file && std::fclose(m.file) != 0) m.fail(std::strerror(errno));
    m.file = nullptr;
    if (m.failed) return m.refuse();
    std::string schemaPath = schemaPathFor(m.path);
    if (::access(schemaPath.c_str(), F_OK) == 0) std::remove(schemaPath.c_str());
    if (!m.publish()) return false;
    return true;
}

} // namespace velloc::host
