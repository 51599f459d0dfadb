#include "io/memory_dataset.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>

#include "base/messages.h"
#include "base/missing.h"
#include "io/data_messages.h"
#include "io/dataset_base.h"

namespace velloc::host {

namespace {

class MemoryDataset final : public ByGroupDataset {
  public:
    MemoryDataset(std::shared_ptr<const MemoryTable> t, std::string name)
        : t_(std::move(t)), name_(std::move(name)) {
        for (const MemoryColumn& c : t_->columns) {
            Variable v;
            v.name = c.name;
            v.type = c.type;
            if (c.type == VarType::Character) {
                // The longest text the rows use, as a CSV of the same rows would have it;
                // categories no row takes do not count.
                std::vector<char> used(c.texts.size(), 0);
                for (std::int32_t k : c.codes)
                    if (k >= 0) used[static_cast<std::size_t>(k)] = 1;
                std::size_t len = 1;
                for (std::size_t k = 0; k < c.texts.size(); ++k)
                    if (used[k]) len = std::max(len, c.texts[k].size());
                v.length = static_cast<int>(len);
            } else {
                // NaN is the missing value; an infinity is a value no analysis can use.
                for (std::size_t r = 0; r < c.numbers.size(); ++r)
                    if (std::isinf(c.numbers[r])) {
                        v.infiniteCell = c.numbers[r] > 0 ? "inf" : "-inf";
                        v.infiniteWhere = "row " + std::to_string(r + 1);
                        break;
                    }
            }
            vars_.push_back(std::move(v));
        }
        nobs_ = t_->columns.empty()
                    ? 0
                    : static_cast<std::int64_t>(t_->columns[0].type == VarType::Numeric
                                                    ? t_->columns[0].numbers.size()
                                                    : t_->columns[0].codes.size());
    }

    const std::string& path() const override { return name_; }
    const std::string& label() const override { return label_; }
    int nvars() const override { return static_cast<int>(vars_.size()); }
    const Variable& var(int number) const override { return vars_.at(number - 1); }
    std::int64_t nobs() const override { return nobs_; }

    int nextGroup() override {
        if (int r = leaveGroup(); r <= 0) return r;
        if (state_ == State::Start) pending_ = 0;
        if (pending_ >= nobs_) {
            state_ = State::Finished;
            return 0;
        }
        groupStart_ = cur_ = pending_;
        firstPending_ = true;
        state_ = State::InGroup;
        return 1;
    }

    bool nextObs() override {
        if (state_ != State::InGroup) return false;
        if (firstPending_) {
            firstPending_ = false;
            return true;
        }
        const std::int64_t next = cur_ + 1;
        if (next >= nobs_) {
            pending_ = nobs_;
            state_ = State::GroupEnd;
            return false;
        }
        const int c = compareRows(groupStart_, next);
        if (c == 0) {
            cur_ = next;
            return true;
        }
        if (firstOutOfOrder(c)) unsortedRow_ = next;
        pending_ = next;
        state_ = State::GroupEnd;
        return false;
    }

    void rewindGroup() override {
        if (state_ != State::InGroup && state_ != State::GroupEnd) return;
        cur_ = groupStart_;
        firstPending_ = true;
        unsorted_ = false;
        state_ = State::InGroup;
    }

    std::int64_t obsNumber() const override { return cur_ + 1; }

    double num(int var) const override {
        const MemoryColumn* c = column(var);
        if (!c || c->type != VarType::Numeric) return missingValue();
        return c->numbers[static_cast<std::size_t>(cur_)];
    }

    std::string_view text(int var) const override {
        const MemoryColumn* c = column(var);
        if (!c || c->type != VarType::Character) return {};
        return textAt(*c, cur_);
    }

    std::string formatted(int var) const override {
        const MemoryColumn* c = column(var);
        if (!c) return {};
        return formatValue(vars_[static_cast<std::size_t>(var - 1)],
                           c->type == VarType::Numeric ? c->numbers[static_cast<std::size_t>(cur_)]
                                                       : missingValue(),
                           c->type == VarType::Character ? textAt(*c, cur_) : std::string_view());
    }

    std::vector<std::string> byDescription() const override {
        std::vector<std::string> out;
        if (state_ == State::Start || groupStart_ >= nobs_) return out;
        for (const ByKey& k : by_) {
            const std::size_t i = static_cast<std::size_t>(k.var - 1);
            const MemoryColumn& c = t_->columns[i];
            const double x = c.type == VarType::Numeric
                                 ? c.numbers[static_cast<std::size_t>(groupStart_)]
                                 : missingValue();
            const std::string_view s =
                c.type == VarType::Character ? textAt(c, groupStart_) : std::string_view();
            out.push_back(vars_[i].name + "=" +
                          std::string(trimLeftBlanks(formatValue(vars_[i], x, s))));
        }
        return out;
    }

  private:
    void logUnsorted() const override {
        // The line is the one the row would have in a CSV file with a header row.
        xpmlog(
            kGroupHostData, datamsg::kNotSorted,
            {name_, byNames(), std::to_string(unsortedRow_ + 1), std::to_string(unsortedRow_ + 2)});
    }

    const MemoryColumn* column(int var) const {
        if (var < 1 || var > nvars() || state_ == State::Start || cur_ >= nobs_) return nullptr;
        return &t_->columns[static_cast<std::size_t>(var - 1)];
    }

    static std::string_view textAt(const MemoryColumn& c, std::int64_t row) {
        const std::int32_t k = c.codes[static_cast<std::size_t>(row)];
        return k < 0 ? std::string_view() : std::string_view(c.texts[static_cast<std::size_t>(k)]);
    }

    // < 0 when row a comes before row b in BY order, 0 when they are in one group, > 0 else;
    // the order the CSV data set keeps: missing numbers first, texts as blank-padded values.
    int compareRows(std::int64_t a, std::int64_t b) const {
        for (const ByKey& k : by_) {
            const MemoryColumn& col = t_->columns[static_cast<std::size_t>(k.var - 1)];
            int c = col.type == VarType::Numeric
                        ? compareByNumber(col.numbers[static_cast<std::size_t>(a)],
                                          col.numbers[static_cast<std::size_t>(b)])
                        : compareByText(textAt(col, a), textAt(col, b));
            if (k.descending) c = -c;
            if (c != 0) return c;
        }
        return 0;
    }

    std::shared_ptr<const MemoryTable> t_;
    std::string name_;
    std::vector<Variable> vars_;
    std::string label_;
    std::int64_t nobs_ = 0;
    std::int64_t groupStart_ = 0, cur_ = 0, pending_ = 0, unsortedRow_ = 0;
};

} // namespace

std::string checkMemoryTable(const MemoryTable& t) {
    if (t.columns.empty()) return "The data set " + t.name + " has no columns.";
    std::map<std::string, std::string> seen;
    std::size_t rows = 0;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const MemoryColumn& c = t.columns[i];
        if (!validVariableName(c.name))
            return "The column \"" + c.name + "\" of the data set " + t.name +
                   " is not a valid variable name: a name has 1 to 32 letters, digits or "
                   "underscores and does not start with a digit.";
        auto [it, fresh] = seen.emplace(upperCase(c.name), c.name);
        if (!fresh)
            return "The data set " + t.name + " has two columns named " + c.name +
                   (it->second == c.name ? "" : " and " + it->second) +
                   " (names are compared without regard to case).";
        const std::size_t n = c.type == VarType::Numeric ? c.numbers.size() : c.codes.size();
        if (i == 0) rows = n;
        if (n != rows)
            return "The column " + c.name + " of the data set " + t.name + " has " +
                   std::to_string(n) + " rows where the first column has " + std::to_string(rows) +
                   ".";
        if (c.type == VarType::Character)
            for (std::int32_t k : c.codes)
                if (k < -1 || k >= static_cast<std::int64_t>(c.texts.size()))
                    return "The column " + c.name + " of the data set " + t.name +
                           " has a code outside its list of texts.";
    }
    if (rows == 0) return "The data set " + t.name + " has no rows.";
    return {};
}

std::unique_ptr<Dataset> openMemoryDataset(std::shared_ptr<const MemoryTable> table,
                                           std::string name) {
    if (!hasMessage(kGroupHostData, datamsg::kNotSorted)) addDataSetMessages();
    return std::make_unique<MemoryDataset>(std::move(table), std::move(name));
}

} // namespace velloc::host
