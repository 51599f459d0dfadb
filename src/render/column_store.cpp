// Column-by-column rows of graph phantom tables.
#include <cmath>

#include "render/output.h"

namespace velloc::host {

namespace {

// Buffers of finished graphs, kept so the next graph of a family writes into pages that are
// already mapped: first-touch page faults cost more than filling the columns.
constexpr std::size_t kPooledMin = 1u << 16; // smaller buffers are not worth keeping
constexpr std::size_t kPoolMax = 16;
thread_local std::vector<ColumnStore::NumberColumn> numberPool;
thread_local std::vector<ColumnStore::CodeColumn> codePool;

template <class V> void give(std::vector<V>& pool, V& v) {
    if (v.capacity() < kPooledMin || pool.size() >= kPoolMax) return;
    v.clear();
    pool.push_back(std::move(v));
}

template <class V> V take(std::vector<V>& pool) {
    if (pool.empty()) return {};
    V v = std::move(pool.back());
    pool.pop_back();
    return v;
}

} // namespace

ColumnStore::~ColumnStore() {
    recycle();
}

void ColumnStore::recycle() {
    for (auto& v : numbers_)
        give(numberPool, v);
    for (auto& v : codes_)
        give(codePool, v);
}

void ColumnStore::releaseBuffers() {
    numberPool.clear();
    numberPool.shrink_to_fit();
    codePool.clear();
    codePool.shrink_to_fit();
}

void ColumnStore::reset(const TableDefinition& def) {
    recycle();
    kinds_.clear();
    for (const auto& c : def.columns)
        kinds_.push_back(c.kind);
    numbers_.assign(kinds_.size(), {});
    codes_.assign(kinds_.size(), {});
    numericAt_.clear();
    codeAt_.clear();
    for (std::size_t c = 0; c < kinds_.size(); ++c) {
        if (numeric(c)) {
            numbers_[c] = take(numberPool);
            numericAt_.push_back(static_cast<std::uint32_t>(c));
        } else {
            codes_[c] = take(codePool);
            codeAt_.push_back(static_cast<std::uint32_t>(c));
        }
    }
    texts_.clear();
    rows_ = 0;
}

std::uint32_t ColumnStore::intern(const std::string& s) {
    for (std::size_t i = texts_.size(); i-- > 0;)
        if (texts_[i] == s) return static_cast<std::uint32_t>(i);
    texts_.push_back(s);
    return static_cast<std::uint32_t>(texts_.size() - 1);
}

bool ColumnStore::addCoded(std::initializer_list<double> numbers,
                           std::initializer_list<std::uint32_t> codes) {
    return addCoded(std::span<const double>(numbers.begin(), numbers.size()),
                    std::span<const std::uint32_t>(codes.begin(), codes.size()));
}

bool ColumnStore::addCoded(std::span<const double> numbers, std::span<const std::uint32_t> codes) {
    if (numbers.size() != numericAt_.size() || codes.size() != codeAt_.size()) return false;
    const std::uint32_t* code = codes.data();
    for (std::size_t k = 0; k < codeAt_.size(); ++k)
        if (code[k] >= texts_.size()) return false;
    const double* number = numbers.data();
    for (std::size_t k = 0; k < numericAt_.size(); ++k)
        numbers_[numericAt_[k]].push_back(number[k]);
    for (std::size_t k = 0; k < codeAt_.size(); ++k)
        codes_[codeAt_[k]].push_back(code[k]);
    ++rows_;
    return true;
}

template <class It> bool ColumnStore::add(It first, It last) {
    if (static_cast<std::size_t>(last - first) != kinds_.size()) return false;
    std::size_t c = 0;
    for (It it = first; it != last; ++it, ++c)
        if (std::holds_alternative<double>(*it) != (kinds_[c] == ColumnKind::Numeric)) return false;
    c = 0;
    for (It it = first; it != last; ++it, ++c) {
        if (const double* v = std::get_if<double>(&*it)) {
            numbers_[c].push_back(*v);
            continue;
        }
        // A phantom holds a handful of distinct texts (levels, panel titles).
        codes_[c].push_back(intern(std::get<std::string>(*it)));
    }
    ++rows_;
    return true;
}

bool ColumnStore::addRow(std::initializer_list<Cell> row) {
    return add(row.begin(), row.end());
}

bool ColumnStore::addRow(const std::vector<Cell>& row) {
    return add(row.begin(), row.end());
}

void ColumnStore::reserve(std::size_t rows) {
    // Capacity is address space only: pages are touched as rows arrive, so an upper bound
    // costs no memory.
    for (std::size_t c = 0; c < kinds_.size(); ++c)
        if (numeric(c))
            numbers_[c].reserve(rows);
        else
            codes_[c].reserve(rows);
}

double ColumnStore::number(std::size_t r, std::size_t c) const {
    return numeric(c) ? numbers_[c][r] : NAN;
}

const std::string& ColumnStore::text(std::size_t r, std::size_t c) const {
    static const std::string none;
    return numeric(c) ? none : texts_[codes_[c][r]];
}

Cell ColumnStore::cell(std::size_t r, std::size_t c) const {
    if (numeric(c)) return numbers_[c][r];
    return texts_[codes_[c][r]];
}

Cell GraphRecord::cell(std::size_t r, std::size_t c) const {
    if (!data.rows.empty()) return data.rows[r][c];
    return columns.cell(r, c);
}

double GraphRecord::number(std::size_t r, std::size_t c) const {
    if (!data.rows.empty()) {
        if (r >= data.rows.size() || c >= data.rows[r].size()) return NAN;
        const double* v = std::get_if<double>(&data.rows[r][c]);
        return v ? *v : NAN;
    }
    if (r >= columns.rows() || c >= columns.columns()) return NAN;
    return columns.number(r, c);
}

const std::string& GraphRecord::text(std::size_t r, std::size_t c) const {
    static const std::string none;
    if (!data.rows.empty()) {
        if (r >= data.rows.size() || c >= data.rows[r].size()) return none;
        const std::string* s = std::get_if<std::string>(&data.rows[r][c]);
        return s ? *s : none;
    }
    if (r >= columns.rows() || c >= columns.columns()) return none;
    return columns.text(r, c);
}

} // namespace velloc::host
