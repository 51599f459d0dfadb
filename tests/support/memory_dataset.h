// An in-memory data set for tests and fuzz targets: named variables and, optionally, BY groups
// of one observation each whose values are all zero. Phases that only look at variables
// (statement checking, vlcinit) or only walk the groups (the driver) run over it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host.h"

namespace velloc::testing {

class MemoryDataset : public host::Dataset {
  public:
    struct Col {
        const char* name;
        host::VarType type = host::VarType::Numeric;
        int length = 8;
        int formatWidth = 0;
    };
    explicit MemoryDataset(std::vector<Col> cols, std::string path = "study.csv",
                           std::string label = "", int groups = 0)
        : path_(std::move(path)), label_(std::move(label)), groups_(groups) {
        for (const auto& c : cols) {
            host::Variable v;
            v.name = c.name;
            v.type = c.type;
            v.length = c.length;
            v.formatWidth = c.formatWidth;
            vars_.push_back(v);
        }
    }
    const std::string& path() const override { return path_; }
    const std::string& label() const override { return label_; }
    int nvars() const override { return static_cast<int>(vars_.size()); }
    const host::Variable& var(int n) const override { return vars_[n - 1]; }
    int find(std::string_view name) const override {
        std::string u(name);
        host::wzstrup(u);
        for (std::size_t i = 0; i < vars_.size(); ++i) {
            std::string v = vars_[i].name;
            host::wzstrup(v);
            if (u == v) return static_cast<int>(i) + 1;
        }
        return 0;
    }
    std::int64_t nobs() const override { return groups_; }
    void setBy(std::vector<host::ByKey> keys, bool notsorted) override {
        by = std::move(keys);
        byNotSorted = notsorted;
    }
    int nextGroup() override { return group_ < groups_ ? ++group_ : 0; }
    bool nextObs() override { return false; }
    void rewindGroup() override {}
    std::int64_t obsNumber() const override { return group_; }
    double num(int) const override { return 0; }
    std::string_view text(int) const override { return {}; }
    std::string formatted(int) const override { return {}; }
    std::vector<std::string> byDescription() const override {
        if (groups_ == 0) return {};
        return {"g=" + std::to_string(group_)};
    }

    std::vector<host::ByKey> by; // as the last setBy left them
    bool byNotSorted = false;

  private:
    std::string path_, label_;
    int groups_ = 0, group_ = 0;
    std::vector<host::Variable> vars_;
};

} // namespace velloc::testing
