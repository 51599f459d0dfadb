// The scan pass of a CSV data set: types, lengths, the row count and well-formedness of every
// record, on threads for a large file.
#include <algorithm>
#include <cmath>
#include <limits>
#include <sys/stat.h>

#include "io/csv_dataset.h"
#include "io/data_messages.h"
#include "io/text_encoding.h"

namespace velloc::host {

namespace {

std::string str(std::int64_t v) {
    return std::to_string(v);
}

constexpr std::int64_t kNoStop = std::numeric_limits<std::int64_t>::max();

} // namespace

void CsvDataset::scanRecords(CsvReader& rd, std::int64_t stop,
                             const std::vector<char>& explicitType, ScanTally& t) const {
    const std::size_t n = vars_.size();
    const bool checkMissing = !dialect_.missing.empty();
    const bool cp1252 = dialect_.encoding == CsvDialect::Encoding::Cp1252;
    // A fault ends the run: the message's line is the record's, shifted later.
    auto fault = [&](int number, std::vector<std::string> args, int lineArg) {
        t.error = number;
        t.errorArgs = std::move(args);
        t.errorLineArg = lineArg;
        t.errorLine = rd.recordLine();
    };
    CsvRecord rec;
    while (rd.tell() < stop) {
        CsvReader::Result r = rd.next(rec);
        if (r == CsvReader::Result::End) break;
        if (r == CsvReader::Result::Unterminated)
            return fault(datamsg::kUnterminatedQuote,
                         {path_, "", str(static_cast<std::int64_t>(rd.errorField()))}, 1);
        if (r == CsvReader::Result::IoError)
            return fault(datamsg::kReadError, {path_, "", rd.error()}, 1);
        if (rec.blankLine && n > 1) continue;
        if (rec.size() != n) {
            std::size_t col = std::min(rec.size(), n) + 1;
            return fault(datamsg::kRagged,
                         {path_, str(static_cast<std::int64_t>(rec.size())), "",
                          str(static_cast<std::int64_t>(n)), str(static_cast<std::int64_t>(col))},
                         2);
        }
        const bool high = rec.high;
        if (high && !cp1252 && t.badUtf8Line == 0 && !isValidUtf8(rec.bytes())) {
            t.badUtf8Line = rd.recordLine();
            if (dialect_.encoding == CsvDialect::Encoding::Utf8)
                return fault(datamsg::kNotUtf8, {path_, ""}, 1);
        }
        const std::string_view line = rec.bytes();
        const char* lineEnd = line.data() + line.size();
        std::size_t* maxLen = t.maxLen.data();
        char* numberSeen = t.numberSeen.data();
        for (std::size_t i = 0; i < n; ++i) {
            const std::string_view f = fieldOf(line.data(), rec.ends.data(), i);
            maxLen[i] = std::max(maxLen[i], f.size());
            if (high) t.maxLen1252[i] = std::max(t.maxLen1252[i], cp1252Utf8Length(f));
            if (checkMissing && isMissingText(f)) continue;
            // A cell of at most 16 bytes that starts 16 or more before its line ends is tested
            // 16 bytes at a time. A plain number of over 300 digits may pass the largest double:
            // it is read below.
            if (f.size() <= 16 && lineEnd - f.data() >= 16 ? isPlainNumberShort(f.data(), f.size())
                                                           : f.size() <= 300 && isPlainNumber(f)) {
                numberSeen[i] = 1;
                continue;
            }
            if (!t.canBeNumeric[i] && numberSeen[i]) continue;
            double v;
            CellKind kind = classify(f, v);
            if (kind == CellKind::Number) {
                numberSeen[i] = 1;
                if (!std::isfinite(v) && t.infiniteLine[i] == 0) {
                    t.infiniteLine[i] = rd.recordLine();
                    t.infiniteCell[i] = std::string(f);
                }
            }
            if (kind == CellKind::Text && t.canBeNumeric[i]) {
                if (explicitType[i])
                    return fault(datamsg::kNotANumber,
                                 {path_, std::string(f), "", str(static_cast<std::int64_t>(i + 1)),
                                  vars_[i].name},
                                 2);
                t.canBeNumeric[i] = 0;
                t.textLine[i] = rd.recordLine();
                t.textCell[i] = std::string(f);
            }
        }
        ++t.rows;
    }
    t.stop = {rd.tell(), rd.line()};
}

void CsvDataset::mergeTally(ScanTally& into, const ScanTally& from, std::int64_t lineShift) {
    for (std::size_t i = 0; i < into.maxLen.size(); ++i) {
        into.maxLen[i] = std::max(into.maxLen[i], from.maxLen[i]);
        into.maxLen1252[i] = std::max(into.maxLen1252[i], from.maxLen1252[i]);
        into.numberSeen[i] |= from.numberSeen[i];
        // The first text cell of the file is the first of the first chunk that has one.
        if (into.canBeNumeric[i] && !from.canBeNumeric[i]) {
            into.canBeNumeric[i] = 0;
            into.textLine[i] = from.textLine[i] + lineShift;
            into.textCell[i] = from.textCell[i];
        }
        if (into.infiniteLine[i] == 0 && from.infiniteLine[i] > 0) {
            into.infiniteLine[i] = from.infiniteLine[i] + lineShift;
            into.infiniteCell[i] = from.infiniteCell[i];
        }
    }
    into.rows += from.rows;
    if (into.badUtf8Line == 0 && from.badUtf8Line > 0)
        into.badUtf8Line = from.badUtf8Line + lineShift;
}

void CsvDataset::failScan(const ScanTally& t, std::int64_t lineShift) const {
    std::vector<std::string> args = t.errorArgs;
    args[static_cast<std::size_t>(t.errorLineArg)] = str(t.errorLine + lineShift);
    const std::vector<std::string>& a = args;
    switch (a.size()) {
    case 2:
        failDataSet(t.error, {a[0], a[1]});
    case 3:
        failDataSet(t.error, {a[0], a[1], a[2]});
    case 4:
        failDataSet(t.error, {a[0], a[1], a[2], a[3]});
    default:
        failDataSet(t.error, {a[0], a[1], a[2], a[3], a[4]});
    }
}

CsvDataset::ScanTally CsvDataset::scanData(const ScanTally& start,
                                           const std::vector<char>& explicitType) {
    struct stat st {};
    std::int64_t size = ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
    CsvParallelism par = csvParallelismFor(size - dataOffset_);
    std::vector<std::int64_t> cuts;
    std::string error;
    if (par.threads > 1) cuts = guessCsvCuts(path_, dataOffset_, size, par.chunkBytes, error);
    if (cuts.size() < 2) {
        ScanTally t = start;
        scanRecords(reader_, kNoStop, explicitType, t);
        if (t.error) failScan(t, 0);
        return t;
    }

    // Every chunk is scanned from its guessed start, its lines counted from 1 there.
    auto stopOf = [&](std::size_t k) { return k + 1 < cuts.size() ? cuts[k + 1] : kNoStop; };
    auto failed = [&](ScanTally& t, const CsvReader& rd) {
        t.error = datamsg::kReadError;
        t.errorArgs = {path_, "", rd.error()};
        t.errorLineArg = 1;
    };
    OrderedChunks<ScanTally> chunks(0, cuts.size(), par.threads, cuts.size(),
                                    [&](std::size_t k, ScanTally& t) {
                                        t = start;
                                        CsvReader rd;
                                        rd.setDelimiter(delim_);
                                        if (!rd.open(path_, cuts[k], 1)) return failed(t, rd);
                                        scanRecords(rd, stopOf(k), explicitType, t);
                                    });
    ScanTally total = start;
    CsvPlace at{dataOffset_, dataLine_};
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        std::unique_ptr<ScanTally> t = chunks.take();
        // A guess inside a quoted line break: scan the chunk again from the true start.
        if (cuts[k] != at.offset) {
            *t = start;
            if (!reader_.seek(at.offset, 1))
                failed(*t, reader_);
            else
                scanRecords(reader_, stopOf(k), explicitType, *t);
        }
        mergeTally(total, *t, at.line - 1);
        if (t->error) failScan(*t, at.line - 1);
        chunks_.push_back(at);
        at = {t->stop.offset, at.line - 1 + t->stop.line};
    }
    threads_ = par.threads;
    return total;
}

} // namespace velloc::host
