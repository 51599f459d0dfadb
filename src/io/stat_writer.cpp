#include "io/stat_writer.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fmt/format.h>
#include <readstat.h>
#include <unistd.h>

#include "base/messages.h"
#include "base/missing.h"
#include "base/text.h"
#include "io/data_messages.h"

namespace velloc::host {

namespace {

// The longest string each format stores without string references.
std::size_t maxStringBytes(StatKind kind) {
    return kind == StatKind::Dta ? 2045 : 32767;
}

struct Sink {
    int fd;
    int error = 0;
};

ssize_t writeBytes(const void* data, size_t len, void* ctx) {
    auto& s = *static_cast<Sink*>(ctx);
    const char* p = static_cast<const char*>(data);
    size_t left = len;
    while (left > 0) {
        ssize_t n = ::write(s.fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            s.error = errno;
            return -1;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(len);
}

struct Writer {
    readstat_writer_t* w = readstat_writer_init();
    ~Writer() {
        if (w) readstat_writer_free(w);
    }
};

struct LabelSet {
    const void* key; // the shared labels it was made from
    readstat_label_set_t* set;
    bool dropped; // some labels were left out
};

// The label set of v, made once for the variables that share one (a Stata label set is named
// after its first variable). Stata labels only whole values that fit in 32 bits; a variable
// whose other labels are left out is added to notWhole. Null when nothing can be labelled.
readstat_label_set_t* labelSet(readstat_writer_t* w, bool dta, const Variable& v,
                               std::vector<LabelSet>& sets, std::vector<std::string>& notWhole) {
    const void* key = v.valueLabels.get();
    for (const LabelSet& have : sets)
        if (have.key == key) {
            if (have.dropped) notWhole.push_back(v.name);
            return have.set;
        }
    readstat_label_set_t* set = nullptr;
    bool dropped = false;
    for (const auto& [value, text] : *v.valueLabels) {
        const bool whole =
            value == std::floor(value) && value >= -2147483647.0 && value <= 2147483647.0;
        if (dta && !whole) {
            dropped = true;
            continue;
        }
        if (!set)
            set = readstat_add_label_set(w, dta ? READSTAT_TYPE_INT32 : READSTAT_TYPE_DOUBLE,
                                         v.name.c_str());
        if (dta)
            readstat_label_int32_value(set, static_cast<std::int32_t>(value), text.c_str());
        else
            readstat_label_double_value(set, value, text.c_str());
    }
    if (dropped) notWhole.push_back(v.name);
    sets.push_back({key, set, dropped});
    return set;
}

} // namespace

StatWriter::~StatWriter() {
    if (spool_) std::fclose(spool_);
}

bool StatWriter::append(const std::vector<Variable>& vars, const std::vector<double>& nums,
                        const std::vector<std::string>& texts, std::string& why) {
    if (!spool_) {
        spool_ = std::tmpfile();
        if (!spool_) {
            why = std::strerror(errno);
            return false;
        }
        widths_.assign(vars.size(), 1);
    }
    row_.clear();
    for (std::size_t i = 0; i < vars.size(); ++i) {
        if (vars[i].type == VarType::Numeric) {
            row_.append(reinterpret_cast<const char*>(&nums[i]), sizeof(double));
        } else {
            const auto n = static_cast<std::uint32_t>(texts[i].size());
            row_.append(reinterpret_cast<const char*>(&n), sizeof n);
            row_ += texts[i];
            widths_[i] = std::max<std::size_t>(widths_[i], n);
        }
    }
    if (std::fwrite(row_.data(), 1, row_.size(), spool_) != row_.size()) {
        why = std::strerror(errno);
        return false;
    }
    ++rows_;
    return true;
}

bool StatWriter::write(const std::vector<Variable>& vars, const std::string& label, int fd,
                       const std::string& path) {
    const char* kindName = statKindName(kind_);
    auto refuse = [&](const std::string& var, const std::string& why) {
        xpmlog(kGroupHostData, datamsg::kStatWriteValue, {path, kindName, var, why});
        return false;
    };
    auto ioFail = [&](const std::string& why) {
        xpmlog(kGroupHostData, datamsg::kStatWrite, {path, kindName, why});
        return false;
    };
    if (widths_.empty()) widths_.assign(vars.size(), 1);
    Writer wr;
    if (!wr.w) return ioFail("out of memory");
    Sink sink{fd};
    readstat_set_data_writer(wr.w, &writeBytes);
    if (!label.empty()) readstat_writer_set_file_label(wr.w, label.c_str());
    if (kind_ == StatKind::Dta) readstat_writer_set_file_format_version(wr.w, 118);
    std::vector<readstat_variable_t*> rv;
    std::vector<LabelSet> sets;
    std::vector<std::string> notWhole;
    for (std::size_t i = 0; i < vars.size(); ++i) {
        const Variable& v = vars[i];
        const bool text = v.type == VarType::Character;
        if (text && widths_[i] > maxStringBytes(kind_))
            return refuse(v.name, "has a value of " + std::to_string(widths_[i]) +
                                      " bytes, more than the " +
                                      std::to_string(maxStringBytes(kind_)) + " it can hold");
        rv.push_back(readstat_add_variable(wr.w, v.name.c_str(),
                                           text ? READSTAT_TYPE_STRING : READSTAT_TYPE_DOUBLE,
                                           text ? widths_[i] : 0));
        if (!v.label.empty()) readstat_variable_set_label(rv.back(), v.label.c_str());
        if (!text && v.valueLabels && !v.valueLabels->empty()) {
            if (readstat_label_set_t* set =
                    labelSet(wr.w, kind_ == StatKind::Dta, v, sets, notWhole))
                readstat_variable_set_label_set(rv.back(), set);
        }
    }
    if (!notWhole.empty())
        xpmlog(kGroupHostData, datamsg::kLabelsNotKept,
               {path, listWithAnd(notWhole),
                "Stata labels whole numbers only, so the labels of other values are left out"});
    readstat_error_t err = kind_ == StatKind::Dta ? readstat_begin_writing_dta(wr.w, &sink, rows_)
                                                  : readstat_begin_writing_sav(wr.w, &sink, rows_);
    if (err != READSTAT_OK)
        return sink.error ? ioFail(std::strerror(sink.error)) : ioFail(readstat_error_message(err));
    for (std::size_t i = 0; i < vars.size(); ++i) {
        if (readstat_validate_variable(wr.w, rv[i]) != READSTAT_OK)
            return refuse(vars[i].name,
                          std::string("cannot be named so in that format (") +
                              readstat_error_message(readstat_validate_variable(wr.w, rv[i])) +
                              "); give it another name");
    }
    if (spool_ && std::fseek(spool_, 0, SEEK_SET) != 0) return ioFail(std::strerror(errno));
    std::string text;
    for (long r = 0; r < rows_; ++r) {
        readstat_begin_row(wr.w);
        for (std::size_t i = 0; i < vars.size(); ++i) {
            if (vars[i].type == VarType::Numeric) {
                double x;
                if (std::fread(&x, sizeof x, 1, spool_) != 1)
                    return ioFail("the spool file is short");
                err = isMissing(x) ? readstat_insert_missing_value(wr.w, rv[i])
                                   : readstat_insert_double_value(wr.w, rv[i], x);
                if (err == READSTAT_ERROR_NUMERIC_VALUE_IS_OUT_OF_RANGE)
                    return refuse(vars[i].name, "has the value " + fmt::format("{}", x) +
                                                    " in observation " + std::to_string(r + 1) +
                                                    ", which that format cannot store");
            } else {
                std::uint32_t n;
                if (std::fread(&n, sizeof n, 1, spool_) != 1)
                    return ioFail("the spool file is short");
                text.resize(n);
                if (n && std::fread(text.data(), 1, n, spool_) != n)
                    return ioFail("the spool file is short");
                err = readstat_insert_string_value(wr.w, rv[i], text.c_str());
            }
            if (err != READSTAT_OK)
                return sink.error ? ioFail(std::strerror(sink.error))
                                  : ioFail(readstat_error_message(err));
        }
        err = readstat_end_row(wr.w);
        if (err != READSTAT_OK)
            return sink.error ? ioFail(std::strerror(sink.error))
                              : ioFail(readstat_error_message(err));
    }
    err = readstat_end_writing(wr.w);
    if (err != READSTAT_OK)
        return sink.error ? ioFail(std::strerror(sink.error)) : ioFail(readstat_error_message(err));
    return true;
}

} // namespace velloc::host
