// What the data set readers (CSV, Stata and SPSS, in memory) share: variable names, the BY
// keys and the group states, the BY order of values (internal to the host).
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "io/dataset.h"

namespace velloc::host {

// Logs data set message number and throws DataSetError with its text.
[[noreturn]] void failDataSet(int number, Args args);

std::string upperCase(std::string_view s);
// A variable name: 1 to 32 letters, digits or underscores, not starting with a digit.
bool validVariableName(std::string_view n);
std::string_view trimRightBlanks(std::string_view s);
std::string_view trimLeftBlanks(std::string_view s);

// The BY order of two values, < 0, 0 or > 0: a missing number before every other, texts as
// their blank-padded values compare.
int compareByNumber(double x, double y);
int compareByText(std::string_view x, std::string_view y);

// A value as its variable's format shows it (see Dataset::formatted).
std::string formatValue(const Variable& v, double num, std::string_view text);

// The part of a data set that BY-group reading shares: the keys, the state of the current
// group and the first observation out of BY order.
class ByGroupDataset : public Dataset {
  public:
    int find(std::string_view name) const override;
    void setBy(std::vector<ByKey> keys, bool notsorted) override;

  protected:
    enum class State { Start, InGroup, GroupEnd, Finished };

    // The start of nextGroup: reads past the rest of the current group. -1 after a failure
    // or an observation out of BY order (logged by logUnsorted; the data set has then
    // failed), 0 after the last group, 1 when the next group may be made ready.
    int leaveGroup();
    // Whether a row that ends the group with order c against the group's key (> 0: it comes
    // before the key) is the first out of BY order; sorted data only, the data set then
    // counts as unsorted.
    bool firstOutOfOrder(int c) {
        if (c <= 0 || notsorted_ || unsorted_) return false;
        unsorted_ = true;
        return true;
    }
    virtual void logUnsorted() const = 0;
    std::string byNames() const; // the BY statement's variable list, for the messages

    std::vector<ByKey> by_;
    bool notsorted_ = false;
    State state_ = State::Start;
    bool firstPending_ = false; // the group's first row is current but not yet delivered
    bool failed_ = false;
    bool unsorted_ = false;
};

} // namespace velloc::host
