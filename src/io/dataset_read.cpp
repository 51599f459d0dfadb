// Sequential reading of a CSV data set in BY groups.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/messages.h"
#include "base/missing.h"
#include "io/csv_dataset.h"
#include "io/csv_number.h"
#include "io/data_messages.h"
#include "io/file_bytes.h"
#include "io/text_encoding.h"

namespace velloc::host {

namespace {

std::string str(std::int64_t v) {
    return std::to_string(v);
}

} // namespace

void CsvDataset::Row::pointAtOwn() {
    data = own.bytes();
    ends = own.ends.data();
    fields = own.ends.size();
    quoted = own.quoted.data();
    nQuoted = own.quoted.size();
    num = ownNum.data();
    blankLine = own.blankLine;
    chunk = nullptr;
}

void CsvDataset::Row::makeOwn() {
    if (!chunk) return;
    own.setBytes(data);
    own.ends.assign(ends, ends + fields);
    own.quoted.assign(quoted, quoted + nQuoted);
    own.blankLine = blankLine;
    ownNum.assign(num, num + fields);
    pointAtOwn();
}

void CsvDataset::Row::copyFrom(const Row& r) {
    own.setBytes(r.data);
    own.ends.assign(r.ends, r.ends + r.fields);
    own.quoted.assign(r.quoted, r.quoted + r.nQuoted);
    own.blankLine = r.blankLine;
    ownNum.assign(r.num, r.num + (r.num ? r.fields : 0));
    ownNum.resize(r.fields, 0.0);
    pointAtOwn();
    line = r.line;
    offset = r.offset;
    obs = r.obs;
}

void CsvDataset::releaseChunk(std::unique_ptr<ParsedRows> c) {
    if (!c) return;
    for (Row* r : {&rowA_, &rowB_})
        if (r->chunk == c.get()) r->makeOwn();
    if (ahead_) ahead_->giveBack(std::move(c));
}

void CsvDataset::dropChunks() {
    for (Row* r : {&rowA_, &rowB_})
        r->makeOwn();
    ahead_.reset();
    held_.reset();
    prev_.reset();
}

int CsvDataset::decode(CsvReader::Result res, CsvRecord& rec, double* num,
                       std::string& scratch) const {
    const std::size_t n = vars_.size();
    if (res == CsvReader::Result::IoError) return -datamsg::kReadError;
    if (res == CsvReader::Result::Unterminated || rec.size() != n) {
        if (rec.blankLine && n > 1 && res == CsvReader::Result::Record) return 0;
        return -datamsg::kChanged;
    }
    if (cp1252_) transcode(rec, scratch);
    const bool anyMissingText = !dialect_.missing.empty();
    const char* bytes = rec.bytes().data();
    const std::uint32_t* ends = rec.ends.data();
    for (const std::uint32_t i : numericFields_) {
        double v;
        const std::string_view f = fieldOf(bytes, ends, i);
        // Most cells are plain decimals; a missing text, which may look like one, goes first.
        if (!anyMissingText && parsePlainDecimal(f, v)) {
            num[i] = v;
            continue;
        }
        switch (classify(f, v)) {
        case CellKind::Number:
            num[i] = v;
            break;
        case CellKind::Missing:
            num[i] = missingValue();
            break;
        case CellKind::Text:
            return -datamsg::kChanged;
        }
    }
    return 1;
}

int CsvDataset::loadRow(Row& r) {
    if (chunks_.empty() || serialRead_) return loadSerialRow(r);
    return loadParsedRow(r);
}

int CsvDataset::loadSerialRow(Row& r) {
    r.ownNum.resize(vars_.size());
    for (;;) {
        CsvReader::Result res = reader_.next(r.own);
        if (res == CsvReader::Result::End) return 0;
        int d = decode(res, r.own, r.ownNum.data(), scratch_);
        if (d == 0) continue;
        r.own.keep(); // the rows before stay readable past the reader's next call
        if (d == -datamsg::kReadError) {
            xpmlog(kGroupHostData, datamsg::kReadError,
                   {path_, str(reader_.recordLine()), reader_.error()});
            return -1;
        }
        if (d < 0) {
            xpmlog(kGroupHostData, datamsg::kChanged, {path_, str(reader_.recordLine())});
            return -1;
        }
        break;
    }
    r.pointAtOwn();
    r.line = reader_.recordLine();
    r.offset = reader_.recordOffset();
    r.obs = ++obsCount_;
    return 1;
}

void CsvDataset::parseRows(std::size_t chunk, ParsedRows& out) const {
    out.rows.clear();
    out.data.clear();
    out.ends.clear();
    out.quoted.clear();
    out.num.clear();
    out.ioError.clear();
    const CsvPlace at = chunks_[chunk];
    const bool lastChunk = chunk + 1 == chunks_.size();
    const std::int64_t stop =
        lastChunk ? std::numeric_limits<std::int64_t>::max() : chunks_[chunk + 1].offset;
    // The chunk is read whole and its records parsed where they lie: a simple line's text
    // then costs no copy at all.
    const std::int64_t got =
        readFileBytes(path_, at.offset, lastChunk ? -1 : stop - at.offset, out.raw, out.ioError);
    if (got < 0) {
        out.rows.push_back({at.line, at.offset, 0, 0, 0, 0, false, datamsg::kReadError});
        out.stop = at;
        return;
    }
    out.rawBytes = static_cast<std::size_t>(got);
    CsvReader rd;
    rd.setDelimiter(delim_);
    rd.openBytes(out.raw.data(), out.rawBytes, at.offset, at.line);
    const std::size_t n = vars_.size();
    CsvRecord rec;
    std::string scratch;
    std::vector<double> num(n);
    const char* raw = out.raw.data();
    const auto rawFirst = reinterpret_cast<std::uintptr_t>(raw);
    while (rd.tell() < stop) {
        CsvReader::Result res = rd.next(rec);
        if (res == CsvReader::Result::End) break;
        // A record cut off by the chunk's end (the file changed since the scan) is left to
        // the serial reader, which reads on past it: stop says where.
        const bool cutOff = !lastChunk && rd.tell() == stop &&
                            (got == 0 || (raw[got - 1] != '\n' && raw[got - 1] != '\r'));
        if (cutOff || (res == CsvReader::Result::Unterminated && !lastChunk)) {
            out.stop = {rd.recordOffset(), rd.recordLine()};
            return;
        }
        int d = decode(res, rec, num.data(), scratch);
        if (d == 0) continue;
        const std::string_view text = rec.bytes();
        const std::uintptr_t textAt = reinterpret_cast<std::uintptr_t>(text.data());
        const bool inRaw = textAt >= rawFirst && textAt - rawFirst < static_cast<std::size_t>(got);
        ParsedRows::Entry e{rd.recordLine(),
                            rd.recordOffset(),
                            inRaw ? static_cast<std::size_t>(text.data() - raw) : out.data.size(),
                            out.ends.size(),
                            out.quoted.size(),
                            static_cast<std::uint32_t>(text.size()),
                            !inRaw,
                            d < 0 ? -d : 0};
        out.rows.push_back(e);
        if (d < 0) continue;
        if (!inRaw) out.data += text;
        out.ends.insert(out.ends.end(), rec.ends.begin(), rec.ends.end());
        out.quoted.insert(out.quoted.end(), rec.quoted.begin(), rec.quoted.end());
        out.num.insert(out.num.end(), num.begin(), num.end());
    }
    out.stop = {rd.tell(), rd.line()};
}

int CsvDataset::loadParsedRow(Row& r) {
    const std::size_t n = vars_.size();
    for (;;) {
        if (!held_) {
            if (heldChunk_ >= chunks_.size()) return 0;
            if (!ahead_) {
                auto parse = [this](std::size_t k, ParsedRows& out) { parseRows(k, out); };
                ahead_ = std::make_unique<OrderedChunks<ParsedRows>>(
                    heldChunk_, chunks_.size(), threads_, static_cast<std::size_t>(threads_) + 2,
                    parse);
            }
            held_ = ahead_->take();
            heldRow_ = 0;
            if (!held_) return 0;
        }
        if (heldRow_ == held_->rows.size()) {
            // The chunk's records are the serial reader's only if it ended where the next
            // one begins (the file may have changed since the scan).
            std::size_t next = heldChunk_ + 1;
            if (next < chunks_.size() && !(held_->stop == chunks_[next])) {
                serialRead_ = true;
                CsvPlace at = held_->stop;
                dropChunks();
                if (!reader_.seek(at.offset, at.line)) {
                    xpmlog(kGroupHostData, datamsg::kReadError,
                           {path_, str(at.line), reader_.error()});
                    return -1;
                }
                return loadSerialRow(r);
            }
            // The rows read last may still point into this chunk: the one before goes back.
            releaseChunk(std::move(prev_));
            prev_ = std::move(held_);
            heldChunk_ = next;
            continue;
        }
        const ParsedRows& c = *held_;
        const std::size_t k = heldRow_++;
        const ParsedRows::Entry& e = c.rows[k];
        if (e.offset < skipBefore_) continue;
        if (e.failure == datamsg::kReadError) {
            xpmlog(kGroupHostData, datamsg::kReadError, {path_, str(e.line), c.ioError});
            return -1;
        }
        if (e.failure) {
            xpmlog(kGroupHostData, datamsg::kChanged, {path_, str(e.line)});
            return -1;
        }
        // The row points into the chunk rather than copy it (a copy cost more than the rest
        // of a row's reading).
        const bool last = k + 1 == c.rows.size();
        const std::size_t quotedEnd = last ? c.quoted.size() : c.rows[k + 1].quoted;
        r.data = std::string_view((e.assembled ? c.data.data() : c.raw.data()) + e.data, e.bytes);
        r.ends = c.ends.data() + e.ends;
        r.fields = n;
        r.quoted = c.quoted.data() + e.quoted;
        r.nQuoted = quotedEnd - e.quoted;
        r.blankLine = e.bytes == 0;
        r.num = c.num.data() + e.ends; // one number per field, like the ends
        r.chunk = &c;
        r.line = e.line;
        r.offset = e.offset;
        r.obs = ++obsCount_;
        return 1;
    }
}

void CsvDataset::transcode(CsvRecord& rec, std::string& scratch) {
    scratch.clear();
    std::vector<std::uint32_t> ends;
    ends.reserve(rec.size());
    for (std::size_t i = 0; i < rec.size(); ++i) {
        if (i > 0) scratch += ',';
        appendCp1252AsUtf8(scratch, rec.field(i));
        ends.push_back(static_cast<std::uint32_t>(scratch.size()));
    }
    rec.takeBytes(scratch);
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
    std::string_view f = r.field(i);
    if (isNaText(f, r.wasQuoted(i))) return {};
    if (!dialect_.missing.empty() && !r.wasQuoted(i) && isMissingText(f)) return {};
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
    int r = loadRow(*look_);
    if (r <= 0) {
        failed_ = r < 0;
        state_ = State::GroupEnd;
        return false;
    }
    int c = compareKeys(key_, *look_);
    if (c == 0) {
        std::swap(cur_, look_);
        return true;
    }
    if (firstOutOfOrder(c)) {
        unsortedObs_ = look_->obs;
        unsortedLine_ = look_->line;
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
        int r = loadRow(*look_);
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
    key_.copyFrom(*cur_);
    groupOffset_ = cur_->offset;
    groupLine_ = cur_->line;
    groupObs_ = cur_->obs;
    firstPending_ = true;
    state_ = State::InGroup;
    return 1;
}

void CsvDataset::rewindGroup() {
    if (state_ != State::InGroup && state_ != State::GroupEnd) return;
    if (!chunks_.empty() && !serialRead_) {
        rewindParsed(groupOffset_);
    } else if (!reader_.seek(groupOffset_, groupLine_)) {
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

void CsvDataset::rewindParsed(std::int64_t offset) {
    skipBefore_ = offset;
    // Within the chunk at hand: step back to the row. Before it: parse again from the chunk
    // that holds the row (at most once for each chunk a group starts before).
    if (held_ && !held_->rows.empty() && held_->rows.front().offset <= offset) {
        auto it = std::lower_bound(
            held_->rows.begin(), held_->rows.end(), offset,
            [](const ParsedRows::Entry& e, std::int64_t o) { return e.offset < o; });
        heldRow_ = static_cast<std::size_t>(it - held_->rows.begin());
        return;
    }
    dropChunks();
    auto it = std::upper_bound(chunks_.begin(), chunks_.end(), offset,
                               [](std::int64_t o, const CsvPlace& c) { return o < c.offset; });
    heldChunk_ = it == chunks_.begin() ? 0 : static_cast<std::size_t>(it - chunks_.begin()) - 1;
}

double CsvDataset::num(int var) const {
    std::size_t i = static_cast<std::size_t>(var - 1);
    if (i >= vars_.size() || vars_[i].type != VarType::Numeric || cur_->size() != vars_.size())
        return missingValue();
    return cur_->num[i];
}

const double* CsvDataset::numbers() const {
    return cur_->size() == vars_.size() ? cur_->num : nullptr;
}

std::string_view CsvDataset::text(int var) const {
    std::size_t i = static_cast<std::size_t>(var - 1);
    if (i >= cur_->size()) return {};
    return cell(*cur_, i);
}

std::string CsvDataset::formatted(int var) const {
    std::size_t i = static_cast<std::size_t>(var - 1);
    if (i >= vars_.size() || cur_->size() != vars_.size()) return {};
    return formatValue(vars_[i], cur_->num[i], cell(*cur_, i));
}

std::vector<std::string> CsvDataset::byDescription() const {
    std::vector<std::string> out;
    if (key_.size() != vars_.size()) return out;
    for (const ByKey& k : by_) {
        const Variable& v = vars_[static_cast<std::size_t>(k.var - 1)];
        std::size_t i = static_cast<std::size_t>(k.var - 1);
        out.push_back(v.name + "=" +
                      std::string(trimLeftBlanks(formatValue(v, key_.num[i], cell(key_, i)))));
    }
    return out;
}

} // namespace velloc::host
