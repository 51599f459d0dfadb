// Opening a Stata or SPSS data set: signature, dictionary, the measuring pass and chunks.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <readstat.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/messages.h"
#include "base/missing.h"
#include "io/data_messages.h"
#include "io/stat_dataset_impl.h"

namespace velloc::host {

namespace {

// Decoded rows kept at a time: about this many bytes, whatever the file's size.
std::int64_t chunkBytes = 8 << 20;
bool directRows = true;

std::string lower(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return u;
}

// Whether the first bytes are those of the kind of file the name says.
bool signatureMatches(const std::string& path, StatKind kind) {
    std::ifstream in(path, std::ios::binary);
    char buf[1024] = {};
    in.read(buf, sizeof buf);
    const std::size_t n = static_cast<std::size_t>(in.gcount());
    std::string_view head(buf, n);
    switch (kind) {
    case StatKind::Dta: {
        if (head.substr(0, 11) == "<stata_dta>") return true;
        // Releases 102-115: the release byte, then the byte order (1 high-low, 2 low-high).
        if (n < 4) return false;
        const auto release = static_cast<unsigned char>(buf[0]);
        return release >= 102 && release <= 115 && (buf[1] == 1 || buf[1] == 2);
    }
    case StatKind::Sav:
        return head.substr(0, 4) == "$FL2" || head.substr(0, 4) == "$FL3";
    case StatKind::Por:
        // A text file: the tag follows a 200-byte splash and a 256-byte character table,
        // shifted by however many line breaks the writer put in.
        return head.find("SPSSPORT") != std::string_view::npos;
    case StatKind::None:
        break;
    }
    return false;
}

// Buffered input for the library, which otherwise makes one read call per row: a million
// small rows cost a million system calls. Seeks inside the buffer cost nothing.
struct BufferedIo {
    int fd = -1;
    std::vector<char> buf = std::vector<char>(1 << 20);
    std::size_t pos = 0, end = 0;
    readstat_off_t base = 0; // file offset of buf[0]

    static int open(const char* path, void* ctx) {
        auto& io = *static_cast<BufferedIo*>(ctx);
        io.fd = ::open(path, O_RDONLY | O_CLOEXEC);
        io.pos = io.end = 0;
        io.base = 0;
        return io.fd;
    }
    static int close(void* ctx) {
        auto& io = *static_cast<BufferedIo*>(ctx);
        int r = io.fd >= 0 ? ::close(io.fd) : 0;
        io.fd = -1;
        return r;
    }
    static readstat_off_t seek(readstat_off_t offset, readstat_io_flags_t whence, void* ctx) {
        auto& io = *static_cast<BufferedIo*>(ctx);
        readstat_off_t target = offset;
        if (whence == READSTAT_SEEK_CUR) {
            target = io.base + static_cast<readstat_off_t>(io.pos) + offset;
        } else if (whence == READSTAT_SEEK_END) {
            struct stat st {};
            if (::fstat(io.fd, &st) != 0) return -1;
            target = st.st_size + offset;
        }
        if (target < 0) return -1;
        if (target >= io.base && target <= io.base + static_cast<readstat_off_t>(io.end)) {
            io.pos = static_cast<std::size_t>(target - io.base);
            return target;
        }
        if (::lseek(io.fd, target, SEEK_SET) < 0) return -1;
        io.base = target;
        io.pos = io.end = 0;
        return target;
    }
    static ssize_t read(void* out, size_t n, void* ctx) {
        auto& io = *static_cast<BufferedIo*>(ctx);
        char* dst = static_cast<char*>(out);
        size_t done = 0;
        while (done < n) {
            if (io.pos == io.end) {
                io.base += static_cast<readstat_off_t>(io.end);
                io.pos = io.end = 0;
                ssize_t r;
                do {
                    r = ::read(io.fd, io.buf.data(), io.buf.size());
                } while (r < 0 && errno == EINTR);
                if (r < 0) return -1;
                if (r == 0) break;
                io.end = static_cast<std::size_t>(r);
            }
            size_t k = std::min(n - done, io.end - io.pos);
            std::memcpy(dst + done, io.buf.data() + io.pos, k);
            io.pos += k;
            done += k;
        }
        return static_cast<ssize_t>(done);
    }
    static readstat_error_t update(long, readstat_progress_handler, void*, void*) {
        return READSTAT_OK;
    }
};

} // namespace

StatKind statKindFor(const std::string& path) {
    std::size_t dot = path.find_last_of('.');
    std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return StatKind::None;
    std::string ext = lower(std::string_view(path).substr(dot + 1));
    if (ext == "dta") return StatKind::Dta;
    if (ext == "sav" || ext == "zsav") return StatKind::Sav;
    if (ext == "por") return StatKind::Por;
    return StatKind::None;
}

void setStatChunkBytes(std::int64_t bytes) {
    chunkBytes = std::max<std::int64_t>(bytes, 1);
}

void setStatDirectRows(bool on) {
    directRows = on;
}

const char* statKindName(StatKind kind) {
    return kind == StatKind::Dta ? "Stata" : "SPSS";
}

// The library's callbacks, with access to the data set they fill.
struct StatCallbacks {
    using PS = StatDataset::ParseState;

    static int metadata(readstat_metadata_t* md, void* ctx) {
        auto& st = *static_cast<PS*>(ctx);
        st.reportedRows = readstat_get_row_count(md);
        if (st.dictionary) {
            const char* label = readstat_get_file_label(md);
            st.ds->label_ = label ? label : "";
        }
        return READSTAT_HANDLER_OK;
    }

    static int variable(int index, readstat_variable_t* var, const char* valLabels, void* ctx) {
        auto& st = *static_cast<PS*>(ctx);
        if (!st.dictionary) return READSTAT_HANDLER_OK;
        StatDataset& ds = *st.ds;
        if (index != static_cast<int>(ds.vars_.size())) return READSTAT_HANDLER_ABORT;
        StatDataset::Var v;
        const char* name = readstat_variable_get_name(var);
        const char* label = readstat_variable_get_label(var);
        v.v.name = name ? name : "";
        v.v.label = label ? label : "";
        v.storage = readstat_variable_get_type(var);
        v.width = readstat_variable_get_storage_width(var);
        if (readstat_variable_get_type_class(var) == READSTAT_TYPE_CLASS_STRING) {
            v.v.type = VarType::Character;
            v.slot = ds.nStr_++;
        } else {
            v.v.type = VarType::Numeric;
            v.slot = ds.nNum_++;
            v.labelSet = valLabels ? valLabels : "";
        }
        ds.vars_.push_back(std::move(v));
        return READSTAT_HANDLER_OK;
    }

    static int valueLabel(const char* set, readstat_value_t value, const char* label, void* ctx) {
        auto& st = *static_cast<PS*>(ctx);
        // Labels of missing values label nothing that is read: those values are missing.
        if (!st.labels || !set || !label ||
            readstat_value_type_class(value) != READSTAT_TYPE_CLASS_NUMERIC ||
            readstat_value_is_tagged_missing(value) || readstat_value_is_system_missing(value))
            return READSTAT_HANDLER_OK;
        st.ds->labelSets_[set][readstat_double_value(value)] = label;
        return READSTAT_HANDLER_OK;
    }

    static int value(int obs, readstat_variable_t* variable, readstat_value_t value, void* ctx) {
        auto& st = *static_cast<PS*>(ctx);
        if (st.stopAtData) return READSTAT_HANDLER_ABORT;
        StatDataset& ds = *st.ds;
        const int index = readstat_variable_get_index(variable);
        if (index < 0 || index >= static_cast<int>(ds.vars_.size())) return READSTAT_HANDLER_ABORT;
        StatDataset::Var& v = ds.vars_[static_cast<std::size_t>(index)];
        const std::int64_t row = obs;
        if (row < st.lastObs) return READSTAT_HANDLER_ABORT; // rows come in order
        if (row > st.lastObs) {
            st.lastObs = row;
            ++st.rows;
        }
        const bool missing = readstat_value_is_missing(value, variable) != 0;
        if (st.measure) {
            if (v.v.type == VarType::Character && !missing) {
                const char* s = readstat_string_value(value);
                if (s) v.longest = std::max(v.longest, std::strlen(s));
            }
            return READSTAT_HANDLER_OK;
        }
        StatDataset::Chunk& c = *st.chunk;
        const std::int64_t r = st.rows - 1;
        if (r >= c.count) return READSTAT_HANDLER_ABORT;
        if (v.v.type == VarType::Numeric) {
            c.num[static_cast<std::size_t>(r * ds.nNum_ + v.slot)] =
                missing ? missingValue() : readstat_double_value(value);
        } else {
            const char* s = missing ? nullptr : readstat_string_value(value);
            if (s) c.text += s;
            c.end[static_cast<std::size_t>(r * ds.nStr_ + v.slot)] =
                static_cast<std::uint32_t>(c.text.size());
        }
        return READSTAT_HANDLER_OK;
    }

    static void error(const char* message, void* ctx) {
        auto& st = *static_cast<PS*>(ctx);
        if (message && st.detail.empty()) {
            st.detail = message;
            while (!st.detail.empty() && (st.detail.back() == '\n' || st.detail.back() == '.'))
                st.detail.pop_back();
        }
    }
};

bool StatDataset::parse(ParseState& st, std::int64_t offset, std::int64_t limit) {
    readstat_parser_t* p = readstat_parser_init();
    if (!p) {
        st.detail = "out of memory";
        return false;
    }
    st.ds = this;
    st.offset = offset;
    readstat_set_metadata_handler(p, &StatCallbacks::metadata);
    readstat_set_variable_handler(p, &StatCallbacks::variable);
    readstat_set_value_label_handler(p, &StatCallbacks::valueLabel);
    readstat_set_value_handler(p, &StatCallbacks::value);
    readstat_set_error_handler(p, &StatCallbacks::error);
    BufferedIo io;
    readstat_set_open_handler(p, &BufferedIo::open);
    readstat_set_close_handler(p, &BufferedIo::close);
    readstat_set_seek_handler(p, &BufferedIo::seek);
    readstat_set_read_handler(p, &BufferedIo::read);
    readstat_set_update_handler(p, &BufferedIo::update);
    readstat_set_io_ctx(p, &io);
    if (offset > 0) readstat_set_row_offset(p, static_cast<long>(offset));
    if (limit > 0) readstat_set_row_limit(p, static_cast<long>(limit));
    readstat_error_t err = READSTAT_OK;
    switch (kind_) {
    case StatKind::Dta:
        err = readstat_parse_dta(p, path_.c_str(), &st);
        break;
    case StatKind::Sav:
        err = readstat_parse_sav(p, path_.c_str(), &st);
        break;
    case StatKind::Por:
        err = readstat_parse_por(p, path_.c_str(), &st);
        break;
    case StatKind::None:
        err = READSTAT_ERROR_PARSE;
        break;
    }
    readstat_parser_free(p);
    // A row limit would also cut the row count the header reports, so the dictionary pass
    // stops itself instead.
    if (err == READSTAT_OK || (st.stopAtData && err == READSTAT_ERROR_USER_ABORT)) return true;
    if (st.detail.empty()) st.detail = readstat_error_message(err);
    return false;
}

void StatDataset::scan() {
    const std::string kindName = statKindName(kind_);
    {
        std::ifstream probe(path_, std::ios::binary);
        if (!probe) failDataSet(datamsg::kCannotOpen, {path_, std::strerror(errno)});
    }
    if (!signatureMatches(path_, kind_))
        failDataSet(datamsg::kStatSignature,
                    {path_, kindName, lower(path_.substr(path_.rfind('.') + 1))});
    // The dictionary first. When the header gives the row count and there are no strings to
    // measure nor value labels (Stata keeps them after the data), that is all; otherwise a pass
    // over every row counts them and measures the strings, and a damaged file fails here, before
    // anything is computed or written.
    ParseState st;
    st.dictionary = st.labels = st.measure = st.stopAtData = true;
    if (!parse(st, 0, 0)) failDataSet(datamsg::kStatCannotRead, {path_, kindName, st.detail});
    if (vars_.empty())
        failDataSet(datamsg::kStatCannotRead, {path_, kindName, "it has no variables"});
    const bool labelled =
        std::any_of(vars_.begin(), vars_.end(), [](const Var& v) { return !v.labelSet.empty(); });
    chooseDirectRows(st.reportedRows);
    if (direct_) {
        nobs_ = direct_->rows;
        // The value labels follow the data: the library reads them past a single row, and
        // finds a damaged end of the file as it would reading every row (measuring that row's
        // strings, which measureDirect measures again, keeps it off the chunk).
        ParseState lab;
        lab.labels = lab.measure = true;
        if (!parse(lab, 0, 1)) failDataSet(datamsg::kStatCannotRead, {path_, kindName, lab.detail});
        std::string why;
        if (nStr_ > 0 && !measureDirect(why))
            failDataSet(datamsg::kStatCannotRead, {path_, kindName, why});
    } else if (st.reportedRows >= 0 && nStr_ == 0 && !labelled) {
        nobs_ = st.reportedRows;
    } else {
        ParseState all;
        all.labels = all.measure = true;
        if (!parse(all, 0, 0)) failDataSet(datamsg::kStatCannotRead, {path_, kindName, all.detail});
        nobs_ = all.rows;
    }
    std::int64_t rowBytes = 8 * static_cast<std::int64_t>(nNum_);
    std::map<std::string, std::shared_ptr<const std::map<double, std::string>>> sharedSets;
    for (Var& v : vars_) {
        if (v.v.type == VarType::Character) {
            v.v.length = static_cast<int>(std::max<std::size_t>(1, v.longest));
            rowBytes += 4 + v.v.length;
            continue;
        }
        v.v.length = 8;
        auto it = labelSets_.find(v.labelSet);
        if (v.labelSet.empty() || it == labelSets_.end()) continue;
        auto& shared = sharedSets[v.labelSet];
        if (!shared) shared = std::make_shared<const std::map<double, std::string>>(it->second);
        v.v.valueLabels = shared;
        v.labels = shared.get();
        // The level texts are the labels; values without one show as numbers.
        std::size_t w = 12;
        for (const auto& [value, text] : it->second)
            w = std::max(w, text.size());
        v.v.formatWidth = static_cast<int>(w);
    }
    // Rows read straight are held twice, as the file has them and decoded.
    if (direct_) rowBytes += static_cast<std::int64_t>(direct_->rowBytes);
    chunkRows_ = std::max<std::int64_t>(1, chunkBytes / std::max<std::int64_t>(1, rowBytes));
}

void StatDataset::chooseDirectRows(std::int64_t reportedRows) {
    if (kind_ != StatKind::Dta || !directRows) return;
    direct_ = readDtaLayout(path_, vars_.size());
    if (direct_ && direct_->rows != reportedRows) direct_.reset();
    // The map's types must be those the library read from the sections in order: a map that
    // points elsewhere is the library's to judge.
    for (std::size_t i = 0; direct_ && i < vars_.size(); ++i) {
        const std::uint16_t t = direct_->columns[i].type;
        const int want = t <= 2045         ? READSTAT_TYPE_STRING
                         : t == kDtaDouble ? READSTAT_TYPE_DOUBLE
                         : t == kDtaFloat  ? READSTAT_TYPE_FLOAT
                         : t == kDtaLong   ? READSTAT_TYPE_INT32
                         : t == kDtaInt    ? READSTAT_TYPE_INT16
                                           : READSTAT_TYPE_INT8;
        if (vars_[i].storage != want || (t <= 2045 && vars_[i].width != t)) direct_.reset();
    }
}

bool StatDataset::load(std::int64_t row) {
    if (row >= chunk_.first && row < chunk_.first + chunk_.count) return true;
    // Keep the current row with the next one, so that both stay readable.
    std::int64_t start = cur_ >= 0 && cur_ < row && row - cur_ < chunkRows_ / 2 ? cur_ : row;
    chunk_.first = start;
    chunk_.count = std::min(chunkRows_, nobs_ - start);
    const auto nums = static_cast<std::size_t>(chunk_.count * nNum_);
    const auto ends = static_cast<std::size_t>(chunk_.count * nStr_);
    chunk_.text.clear();
    ParseState st;
    st.chunk = &chunk_;
    bool ok = false;
    if (direct_) {
        // Every value is decoded: nothing need be missing beforehand.
        chunk_.num.resize(nums);
        chunk_.end.resize(ends);
        ok = loadDirect(st.detail);
    } else {
        // The library leaves out values it does not hand over.
        chunk_.num.assign(nums, missingValue());
        chunk_.end.assign(ends, 0);
        ok = parse(st, start, chunk_.count);
        if (ok && st.rows != chunk_.count) {
            ok = false;
            st.detail = "it changed while it was being read";
        }
    }
    if (!ok) {
        chunk_.count = 0;
        xpmlog(kGroupHostData, datamsg::kStatCannotRead, {path_, statKindName(kind_), st.detail});
    }
    return ok;
}

bool StatDataset::loadDirect(std::string& detail) {
    detail = readDtaRows(path_, *direct_, chunk_.first, chunk_.count, rowBytes_);
    if (!detail.empty()) return false;
    const std::size_t rowBytes = direct_->rowBytes;
    const std::size_t nNum = static_cast<std::size_t>(nNum_),
                      nStr = static_cast<std::size_t>(nStr_);
    for (std::int64_t r = 0; r < chunk_.count; ++r) {
        const char* row = rowBytes_.data() + static_cast<std::size_t>(r) * rowBytes;
        double* num = chunk_.num.data() + static_cast<std::size_t>(r) * nNum;
        std::uint32_t* end = chunk_.end.data() + static_cast<std::size_t>(r) * nStr;
        for (std::size_t i = 0; i < vars_.size(); ++i) {
            const DtaColumn& c = direct_->columns[i];
            const auto slot = static_cast<std::size_t>(vars_[i].slot);
            if (vars_[i].v.type == VarType::Numeric) {
                num[slot] = dtaNumber(row, c);
            } else {
                chunk_.text += dtaText(row, c);
                end[slot] = static_cast<std::uint32_t>(chunk_.text.size());
            }
        }
    }
    return true;
}

bool StatDataset::measureDirect(std::string& detail) {
    const std::int64_t block = std::max<std::int64_t>(
        1, (std::int64_t{4} << 20) / static_cast<std::int64_t>(direct_->rowBytes));
    for (std::int64_t first = 0; first < nobs_; first += block) {
        const std::int64_t count = std::min(block, nobs_ - first);
        detail = readDtaRows(path_, *direct_, first, count, rowBytes_);
        if (!detail.empty()) return false;
        for (std::int64_t r = 0; r < count; ++r) {
            const char* row = rowBytes_.data() + static_cast<std::size_t>(r) * direct_->rowBytes;
            for (std::size_t i = 0; i < vars_.size(); ++i)
                if (vars_[i].v.type == VarType::Character)
                    vars_[i].longest =
                        std::max(vars_[i].longest, dtaText(row, direct_->columns[i]).size());
        }
    }
    return true;
}

std::unique_ptr<Dataset> openStatDataset(const std::string& path, StatKind kind) {
    auto ds = std::make_unique<StatDataset>(path, kind);
    ds->scan();
    return ds;
}

} // namespace velloc::host
