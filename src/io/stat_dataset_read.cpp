// Sequential reading of a Stata or SPSS data set in BY groups.
#include <cmath>
#include <cstring>

#include "base/messages.h"
#include "base/missing.h"
#include "io/csv_dataset.h"
#include "io/data_messages.h"
#include "io/stat_dataset_impl.h"

namespace velloc::host {

namespace {

const std::string* labelFor(const StatDataset::Var& v, double x) {
    if (!v.labels || isMissing(x)) return nullptr;
    auto it = v.labels->find(x);
    return it == v.labels->end() ? nullptr : &it->second;
}

} // namespace

double StatDataset::numAt(std::int64_t row, int var) const {
    std::size_t i = static_cast<std::size_t>(var - 1);
    if (i >= vars_.size() || vars_[i].v.type != VarType::Numeric || row < chunk_.first ||
        row >= chunk_.first + chunk_.count)
        return missingValue();
    return chunk_.num[static_cast<std::size_t>((row - chunk_.first) * nNum_ + vars_[i].slot)];
}

std::string_view StatDataset::textAt(std::int64_t row, int var) const {
    std::size_t i = static_cast<std::size_t>(var - 1);
    if (i >= vars_.size() || vars_[i].v.type != VarType::Character || row < chunk_.first ||
        row >= chunk_.first + chunk_.count)
        return {};
    std::size_t k = static_cast<std::size_t>((row - chunk_.first) * nStr_ + vars_[i].slot);
    std::size_t b = k == 0 ? 0 : chunk_.end[k - 1];
    std::size_t e = chunk_.end[k];
    if (e < b || e > chunk_.text.size()) return {};
    return std::string_view(chunk_.text).substr(b, e - b);
}

std::string StatDataset::formatAt(std::int64_t row, int var) const {
    const Var& v = vars_.at(static_cast<std::size_t>(var - 1));
    if (v.v.type == VarType::Character) return std::string(textAt(row, var));
    double x = numAt(row, var);
    if (const std::string* l = labelFor(v, x)) return *l;
    return formatValue(v.v, x, {});
}

void StatDataset::setKey(std::int64_t row) {
    keyNum_.assign(by_.size(), 0.0);
    keyText_.assign(by_.size(), std::string());
    for (std::size_t j = 0; j < by_.size(); ++j) {
        if (vars_[static_cast<std::size_t>(by_[j].var - 1)].v.type == VarType::Numeric)
            keyNum_[j] = numAt(row, by_[j].var);
        else
            keyText_[j] = std::string(textAt(row, by_[j].var));
    }
}

// < 0 when the row comes after the group's key in BY order, 0 in the same group, > 0 when it
// comes before it (out of order).
int StatDataset::compareToKey(std::int64_t row) const {
    for (std::size_t j = 0; j < by_.size(); ++j) {
        const int var = by_[j].var;
        int c = vars_[static_cast<std::size_t>(var - 1)].v.type == VarType::Numeric
                    ? compareByNumber(keyNum_[j], numAt(row, var))
                    : compareByText(keyText_[j], textAt(row, var));
        if (by_[j].descending) c = -c;
        if (c != 0) return c;
    }
    return 0;
}

bool StatDataset::nextObs() {
    if (state_ != State::InGroup) return false;
    if (firstPending_) {
        firstPending_ = false;
        cur_ = groupStart_;
        next_ = cur_ + 1;
        return true;
    }
    if (next_ >= nobs_) {
        state_ = State::GroupEnd;
        return false;
    }
    if (!load(next_)) {
        failed_ = true;
        state_ = State::GroupEnd;
        return false;
    }
    int c = compareToKey(next_);
    if (c == 0) {
        cur_ = next_++;
        return true;
    }
    if (firstOutOfOrder(c)) unsortedObs_ = next_ + 1;
    state_ = State::GroupEnd;
    return false;
}

void StatDataset::logUnsorted() const {
    xpmlog(kGroupHostData, datamsg::kStatNotSorted,
           {path_, byNames(), std::to_string(unsortedObs_)});
}

int StatDataset::nextGroup() {
    if (int r = leaveGroup(); r <= 0) return r;
    if (next_ >= nobs_) {
        state_ = State::Finished;
        return 0;
    }
    if (!load(next_)) {
        failed_ = true;
        return -1;
    }
    groupStart_ = next_;
    setKey(groupStart_);
    firstPending_ = true;
    state_ = State::InGroup;
    return 1;
}

void StatDataset::rewindGroup() {
    if (state_ != State::InGroup && state_ != State::GroupEnd) return;
    cur_ = -1;
    next_ = groupStart_;
    if (!load(groupStart_)) {
        failed_ = true;
        state_ = State::GroupEnd;
        return;
    }
    firstPending_ = true;
    unsorted_ = false;
    failed_ = false;
    state_ = State::InGroup;
}

double StatDataset::num(int var) const {
    return cur_ < 0 ? missingValue() : numAt(cur_, var);
}

std::string_view StatDataset::text(int var) const {
    return cur_ < 0 ? std::string_view() : textAt(cur_, var);
}

std::string StatDataset::formatted(int var) const {
    if (cur_ < 0 || var < 1 || var > nvars()) return {};
    return formatAt(cur_, var);
}

std::vector<std::string> StatDataset::byDescription() const {
    std::vector<std::string> out;
    for (std::size_t j = 0; j < by_.size(); ++j) {
        const Var& v = vars_[static_cast<std::size_t>(by_[j].var - 1)];
        std::string f;
        if (v.v.type == VarType::Character) {
            f = keyText_[j];
        } else if (const std::string* l = labelFor(v, keyNum_[j])) {
            f = *l;
        } else {
            f = formatValue(v.v, keyNum_[j], {});
            f.erase(0, std::min(f.size(), f.find_first_not_of(' ')));
        }
        out.push_back(v.v.name + "=" + f);
    }
    return out;
}

} // namespace velloc::host
