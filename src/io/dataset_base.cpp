#include "io/dataset_base.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace velloc::host {

void failDataSet(int number, Args args) {
    xpmlog(kGroupHostData, number, args);
    throw DataSetError{xpmstr(kGroupHostData, number, args)};
}

std::string upperCase(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

bool validVariableName(std::string_view n) {
    if (n.empty() || n.size() > 32) return false;
    if (std::isdigit(static_cast<unsigned char>(n[0]))) return false;
    return std::all_of(n.begin(), n.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

std::string_view trimRightBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::string_view trimLeftBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    return s;
}

int compareByNumber(double x, double y) {
    bool mx = std::isnan(x), my = std::isnan(y);
    return mx && my ? 0 : mx ? -1 : my ? 1 : x < y ? -1 : x > y ? 1 : 0;
}

int compareByText(std::string_view x, std::string_view y) {
    x = trimRightBlanks(x);
    y = trimRightBlanks(y);
    // A missing text is an empty view that may have no data pointer, which memcmp must not get.
    const std::size_t n = std::min(x.size(), y.size());
    const int m = n == 0 ? 0 : std::memcmp(x.data(), y.data(), n);
    return m != 0 ? (m < 0 ? -1 : 1) : x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
}

int ByGroupDataset::find(std::string_view name) const {
    for (int i = 1; i <= nvars(); ++i) {
        const std::string& v = var(i).name;
        if (v.size() == name.size() &&
            std::equal(v.begin(), v.end(), name.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) ==
                       std::toupper(static_cast<unsigned char>(b));
            }))
            return i;
    }
    return 0;
}

void ByGroupDataset::setBy(std::vector<ByKey> keys, bool notsorted) {
    by_.clear();
    for (const ByKey& k : keys)
        if (k.var >= 1 && k.var <= nvars()) by_.push_back(k);
    notsorted_ = notsorted;
}

int ByGroupDataset::leaveGroup() {
    if (failed_) return -1;
    if (state_ == State::Finished) return 0;
    if (state_ == State::InGroup)
        while (nextObs()) {
        }
    if (failed_) return -1;
    if (unsorted_) {
        logUnsorted();
        failed_ = true;
        return -1;
    }
    return 1;
}

std::string ByGroupDataset::byNames() const {
    std::string s;
    for (const ByKey& k : by_) {
        if (!s.empty()) s += ' ';
        if (k.descending) s += "DESCENDING ";
        s += var(k.var).name;
    }
    return s;
}

} // namespace velloc::host
