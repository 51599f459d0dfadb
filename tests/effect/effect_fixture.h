// The adjusted job-training data sets and their R references (tests/data/effect), read into
// effect samples the way the EFFECT phase builds them.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "effect/estimators.h"

namespace velloc::effect::testing {

// A comma-separated file with a header row; quotes around cells are dropped.
struct Table {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> rows;
    int column(const std::string& name) const {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return static_cast<int>(i);
        return -1;
    }
};

inline std::vector<std::string> splitCells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (char ch : line) {
        if (ch == '"')
            quoted = !quoted;
        else if (ch == ',' && !quoted)
            cells.push_back(cell), cell.clear();
        else if (ch != '\r')
            cell += ch;
    }
    cells.push_back(cell);
    return cells;
}

inline Table readTable(const std::string& path) {
    Table t;
    std::ifstream in(path);
    std::string line;
    if (std::getline(in, line)) t.names = splitCells(line);
    while (std::getline(in, line))
        if (!line.empty()) t.rows.push_back(splitCells(line));
    return t;
}

inline std::string dataPath(const std::string& name) {
    return std::string(VELLOC_TEST_DATA) + "/effect/" + name;
}

inline double number(const std::string& s) {
    return s.empty() || s == "." ? std::nan("") : std::stod(s);
}

// The sample of one outcome: every row of the adjusted data set (matched rows only when it has
// a set column), weight w (1 when absent), cluster = set or stratum.
inline Sample loadSample(const std::string& caseName, const std::string& outcome,
                         const std::vector<std::string>& covariates = {}) {
    Table t = readTable(dataPath(caseName + ".csv"));
    const int y = t.column(outcome), tr = t.column("treat"), w = t.column("w");
    int cl = t.column("set");
    if (cl < 0) cl = t.column("stratum");
    std::vector<int> xs;
    for (const std::string& c : covariates)
        xs.push_back(t.column(c));
    Sample s;
    s.p = static_cast<int>(xs.size());
    for (const auto& r : t.rows) {
        if (cl >= 0 && std::isnan(number(r[cl]))) continue;
        s.y.push_back(number(r[y]));
        s.treat.push_back(number(r[tr]));
        s.weight.push_back(w >= 0 ? number(r[w]) : 1.0);
        s.freq.push_back(1.0);
        if (cl >= 0) s.cluster.push_back(number(r[cl]));
        for (int x : xs)
            s.x.push_back(number(r[x]));
    }
    return s;
}

inline std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    std::string w;
    while (ss >> w)
        out.push_back(w);
    return out;
}

} // namespace velloc::effect::testing
