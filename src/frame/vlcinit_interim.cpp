// Interim statement handling until the grammar lands: PROC VELLOC DATA= and BY only.
#include <algorithm>
#include <regex>
#include <sstream>

#include "frame/statements.h"
#include "frame/vlcrun.h"
#include "host/host.h"

namespace velloc {

std::vector<StepSource> splitProgram(std::string_view program, const std::string& fileName,
                                     int* errors) {
    std::vector<StepSource> steps;
    std::string text(program);
    std::regex procRe(R"(\bproc\s+velloc\b)", std::regex::icase);
    auto begin = std::sregex_iterator(text.begin(), text.end(), procRe);
    std::vector<std::size_t> starts;
    for (auto it = begin; it != std::sregex_iterator(); ++it) starts.push_back(it->position());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        std::size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        StepSource s;
        s.fileName = fileName;
        s.text = text.substr(starts[i], end - starts[i]);
        s.firstLine = 1 + static_cast<int>(std::count(text.begin(), text.begin() + starts[i], '\n'));
        steps.push_back(std::move(s));
    }
    if (steps.empty() && errors) ++*errors;
    return steps;
}

void vlcinit(VlcRun& run, const StepSource& step) {
    std::smatch m;
    std::regex dataRe(R"re(data\s*=\s*(?:'([^']*)'|"([^"]*)"|([A-Za-z_][\w.]*)))re", std::regex::icase);
    if (!std::regex_search(step.text, m, dataRe)) host::xexit(host::kExitDataSet);
    bool quoted = m[1].matched || m[2].matched;
    std::string name = m[1].matched ? m[1].str() : m[2].matched ? m[2].str() : m[3].str();
    std::string path = host::Session::current().resolveDataSet(name, quoted);
    if (path.empty()) host::xexit(host::kExitDataSet);
    try {
        run.inDataOwned = host::Dataset::open(path);
    } catch (const host::DataSetError&) {
        host::xexit(host::kExitDataSet);
    }
    run.inData = run.inDataOwned.get();
    std::regex byRe(R"(;\s*by\s+([^;]*);)", std::regex::icase);
    std::vector<host::ByKey> keys;
    if (std::regex_search(step.text, m, byRe)) {
        std::istringstream in(m[1].str());
        std::string w;
        bool desc = false;
        while (in >> w) {
            std::string u = w;
            host::wzstrup(u);
            if (u == "DESCENDING") {
                desc = true;
                continue;
            }
            int v = run.inData->find(w);
            if (!v) host::xexit(host::kExitDataSet);
            keys.push_back({v, desc});
            desc = false;
        }
    }
    run.inData->setBy(std::move(keys), false);
}

} // namespace velloc
