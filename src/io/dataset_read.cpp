// Sequential reading of a CSV data set in BY groups.
#include <cmath>
#include <cstring>

#include "base/messages.h"
#include "base/missing.h"
#include "io/csv_dataset.h"
#include "io/csv_number.h"
#include "io/data_messages.h"
#include "io/text_encoding.h"

namespace velloc::host {

namespace {

std::string str(std::int64_t v) {
    return std::to_string(v);
}

} // namespace

int CsvDataset::loadRow(Row& r) {
    const std::size_t n = vars_.size();
    for (;;) {
        CsvReader::Result res = reader_.next(r.rec);
        if (res == CsvReader::Result::End) return 0;
        if (res == CsvReader::Result::IoError) {
            xpmlog(kGroupHostData, datamsg::kReadError,
                   {path_, str(reader_.recordLine()), reader_.error()});
            return -1;
        }
        if (res == CsvReader::Result::Unterminated || r.rec.size() != n) {
            if (r.rec.blankLine && n > 1 && res == CsvReader::Result::Record) continue;
            xpmlog(kGroupHostData, datamsg::kChanged, {path_, str(reader_.recordLine())});
            return -1;
        }
        break;
    }
    if (cp1252_) transcode(r.rec);
    r.num.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (vars_[i].type != VarType::Numeric) continue;
        double v;
        switch (classify(r.rec.field(i), v)) {
        case CellKind::Number:
            r.num[i] = v;
            break;
        case CellKind::Missing:
            r.num[i] = missingValue();
            break;
        case CellKind::Text:
            xpmlog(kGroupHostData, datamsg::kChanged, {path_, str(reader_.recordLine())});
            return -1;
        }
    }
    r.line = reader_.recordLine();
    r.offset = reader_.recordOffset();
    r.obs = ++obsCount_;
    return 1;
}

void CsvDataset::transcode(CsvRecord& rec) {
    scratch_.clear();
    std::vector<std::uint32_t> ends;
    ends.reserve(rec.size());
    for (std::size_t i = 0; i < rec.size(); ++i) {
        if (i > 0) scratch_ += ',';
        appendCp1252AsUtf8(scratch_, rec.field(i));
        ends.push_back(static_cast<std::uint32_t>(scratch_.size()));
    }
    std::swap(rec.data, scratch_);
    rec.ends = std::move(ends);
}

bool CsvDataset::isMissingText(std::string_view f) const {
    while (!f.empty() && (f.front() == ' ' || f.front() == '\t'))
        f.remove_prefix(1);
    while (!f.empty() && (f.back() == ' ' || f.back() == '\t'))
        f.remove_suffix(1);
    for (const std::string& m : dialect_.missing)
        if (f == m) return true;
    return false;
}

CellKind CsvDataset::classify(std::string_view f, double& v) const {
    // Before the number: a missing text may be a number itself (-99).
    if (!dialect_.missing.empty() && isMissingText(f)) return CellKind::Missing;
    return parseCell(f, v);
}

std::string_view CsvDataset::cell(const Row& r, std::size_t i) const {
    std::string_view f = r.rec.field(i);
    if (isNaText(f, r.rec.wasQuoted(i))) return {};
    if (!dialect_.missing.empty() && !r.rec.wasQuoted(i) && isMissingText(f)) return {};
    return f;
}

// < 0 when a comes before b in BY order, 0 when they are in the same group, > 0 otherwise.
int CsvDataset::compareKeys(const Row& a, const Row& b) const {
    for (const ByKey& k : by_) {
        std::size_t i = static_cast<std::size_t>(k.var - 1);
        int c = vars_[i].type == VarType::Numeric ? compareByNumber(a.num[i], b.num[i])
                                                  : compareByText(cell(a, i), cell(b, i));
        if (k.descending) c = -c;
        if (c != 0) return c;
    }
    return 0;
}

bool CsvDataset::nextObs() {
    if (state_ != State::InGroup) return false;
    if (firstPending_) {
        firstPending_ = false;
        return true;
    }
    int r = loadRow(look_);
    if (r <= 0) {
        failed_ = r < 0;
        state_ = State::GroupEnd;
        return false;
    }
    int c = compareKeys(key_, look_);
    if (c == 0) {
        std::swap(cur_, look_);
        return true;
    }
    if (firstOutOfOrder(c)) {
        unsortedObs_ = look_.obs;
        unsortedLine_ = look_.line;
    }
    havePending_ = true;
    state_ = State::GroupEnd;
    return false;
}

void CsvDataset::logUnsorted() const {
    xpmlog(kGroupHostData, datamsg::kNotSorted,
           {path_, byNames(), str(unsortedObs_), str(unsortedLine_)});
}

int CsvDataset::nextGroup() {
    if (int r = leaveGroup(); r <= 0) return r;
    if (state_ == State::Start) {
        int r = loadRow(look_);
        if (r < 0) {
            failed_ = true;
            return -1;
        }
        havePending_ = r > 0;
    }
    if (!havePending_) {
        state_ = State::Finished;
        return 0;
    }
    std::swap(cur_, look_);
    havePending_ = false;
    key_ = cur_;
    groupOffset_ = cur_.offset;
    groupLine_ = cur_.line;
    groupObs_ = cur_.obs;
    firstPending_ = true;
    state_ = State::InGroup;
    return 1;
}

void CsvDataset::rewindGroup() {
    if (state_ != State::InGroup && state_ != State::GroupEnd) return;
    if (!reader_.seek(groupOffset_, groupLine_)) {
        xpmlog(kGroupHostData, datamsg::kReadError, {path_, str(groupLine_), reader_.error()});
        failed_ = true;
        state_ = State::GroupEnd;
        return;
    }
    obsCount_ = groupObs_ - 1;
    havePending_ = firstPending_ = false;
    unsorted_ = false;
    failed_ = false;
    state_ = State::InGroup;
}

double CsvDataset::num(int var) const {
    std::size_t i = static_cast<std::size_t>(var - 1);
    if (i >= vars_.size() || vars_[i].type != VarType::Numeric || cur_.rec.size() != vars_.size())
        return missingValue();
    return cur_.num[i];
}

std::string_view CsvDataset::text(int var) const {
    std::size_t i = static_cast<std::size_t>(var - 1);
    if (i >= cur_.rec.size()) return {};
    return cell(cur_, i);
}

std::string CsvDataset::formatted(int var) const {
    std::size_t i = static_cast<std::size_t>(var - 1);
    if (i >= vars_.size() || cur_.rec.size() != vars_.size()) return {};
    return formatValue(vars_[i], cur_.num[i], cell(cur_, i));
}

std::vector<std::string> CsvDataset::byDescription() const {
    std::vector<std::string> out;
    if (key_.rec.size() != vars_.size()) return out;
    for (const ByKey& k : by_) {
        const Variable& v = vars_[static_cast<std::size_t>(k.var - 1)];
        std::size_t i = static_cast<std::size_t>(k.var - 1);
        out.push_back(v.name + "=" +
                      std::string(trimLeftBlanks(formatValue(v, key_.num[i], cell(key_, i)))));
    }
    return out;
}

} // namespace velloc::host
