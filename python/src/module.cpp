// velloc._velloc: runs a program through libvelloc with data sets from memory, and hands back
// the log, listing, HTML report, tables, graphs and OUT= data sets. The Python layer
// (velloc/__init__.py) turns pandas frames into columns and the columns back into frames.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "frame/catalogue.h"
#include "frame/driver.h"
#include "frame/statements.h"
#include "host/host.h"
#include "host/memory_dataset.h"
#include "host/render_svg.h"
#include "memory_sink.h"

namespace py = pybind11;
using namespace velloc;

namespace {

// The host session is one per process: runs take turns.
std::mutex runMutex;

std::string upper(std::string s) {
    host::wzstrup(s);
    return s;
}

// A data set under another name: an OUT= data set read again shows the name the program
// gave it, not the private file it is kept in.
class Renamed final : public host::Dataset {
  public:
    Renamed(std::unique_ptr<host::Dataset> in, std::string name)
        : in_(std::move(in)), name_(std::move(name)) {}
    const std::string& path() const override { return name_; }
    const std::string& label() const override { return in_->label(); }
    int nvars() const override { return in_->nvars(); }
    const host::Variable& var(int number) const override { return in_->var(number); }
    int find(std::string_view name) const override { return in_->find(name); }
    std::int64_t nobs() const override { return in_->nobs(); }
    void setBy(std::vector<host::ByKey> keys, bool notsorted) override {
        in_->setBy(std::move(keys), notsorted);
    }
    int nextGroup() override { return in_->nextGroup(); }
    bool nextObs() override { return in_->nextObs(); }
    void rewindGroup() override { in_->rewindGroup(); }
    std::int64_t obsNumber() const override { return in_->obsNumber(); }
    double num(int var) const override { return in_->num(var); }
    std::string_view text(int var) const override { return in_->text(var); }
    std::string formatted(int var) const override { return in_->formatted(var); }
    std::vector<std::string> byDescription() const override { return in_->byDescription(); }

  private:
    std::unique_ptr<host::Dataset> in_;
    std::string name_;
};

// Data set names of one run. Every name the program uses gets a path in the run's private
// folder: an OUT= data set is written there and read back, a later DATA= of the same name
// reads it, a name given from Python opens its frame, and any other name opens its file.
class Provider : public host::DataSetProvider {
  public:
    std::string dir;
    std::shared_ptr<const host::MemoryTable> every; // one frame for every DATA=
    std::map<std::string, std::shared_ptr<const host::MemoryTable>> named; // by key()

    struct Entry {
        std::string name; // as the program wrote it
        bool quoted = false;
        std::string path;
        int lastUse = 0;
    };
    std::map<std::string, Entry> entries; // by key()
    int uses = 0;

    static std::string key(const std::string& name, bool quoted) {
        return quoted ? "'" + name : upper(name);
    }

    std::optional<std::string> resolve(const std::string& name, bool quoted) override {
        auto [it, fresh] = entries.try_emplace(key(name, quoted));
        Entry& e = it->second;
        if (fresh) {
            e.name = name;
            e.quoted = quoted;
            e.path = (std::filesystem::path(dir) / ("d" + std::to_string(entries.size()) + ".csv"))
                         .string();
        }
        e.lastUse = ++uses;
        return e.path;
    }

    std::unique_ptr<host::Dataset> open(const std::string& path) override {
        for (const auto& [k, e] : entries) {
            if (e.path != path) continue;
            if (std::filesystem::exists(path)) // an earlier step's OUT=
                return std::make_unique<Renamed>(host::Dataset::open(path), e.name);
            std::shared_ptr<const host::MemoryTable> t = every;
            if (auto f = named.find(k); !t && f != named.end()) t = f->second;
            if (t) return host::openMemoryDataset(t, e.name);
            // A file: resolved as the command line would.
            host::DataSetProvider* self = host::Session::current().provider;
            host::Session::current().provider = nullptr;
            std::string file = host::Session::current().resolveDataSet(e.name, e.quoted);
            host::Session::current().provider = self;
            if (file.empty()) throw host::DataSetError{"unknown library"};
            return host::Dataset::open(file);
        }
        return nullptr;
    }
};

// Puts the session back as the command line would find it, whatever way the run ends.
struct SessionGuard {
    host::Session& s;
    ~SessionGuard() {
        s.output.clearSinks();
        s.provider = nullptr;
        s.options.graphics = true;
        s.output.setGraphicsEnabled(true);
        host::Log::setStream(nullptr);
    }
};

std::shared_ptr<host::MemoryTable> tableFrom(const std::string& name, const py::list& columns) {
    auto t = std::make_shared<host::MemoryTable>();
    t->name = name;
    for (const py::handle& item : columns) {
        auto c = item.cast<py::tuple>();
        host::MemoryColumn col;
        col.name = c[0].cast<std::string>();
        const std::string kind = c[1].cast<std::string>();
        if (kind == "num") {
            auto a = c[2].cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
            col.numbers.assign(a.data(), a.data() + a.size());
        } else {
            col.type = host::VarType::Character;
            auto a =
                c[2].cast<py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>>();
            col.codes.assign(a.data(), a.data() + a.size());
            col.texts = c[3].cast<std::vector<std::string>>();
        }
        t->columns.push_back(std::move(col));
    }
    return t;
}

py::list columnsOf(const velloc::python::GatheredTable& t) {
    py::list out;
    auto add = [&](const velloc::python::GatheredColumn& c) {
        if (!c.anyText && !c.by) {
            out.append(py::make_tuple(
                c.name, "num",
                py::array_t<double>(static_cast<py::ssize_t>(c.num.size()), c.num.data())));
            return;
        }
        py::list cells;
        for (std::size_t r = 0; r < c.num.size(); ++r) {
            if (c.code[r] >= 0)
                cells.append(py::str(c.texts[static_cast<std::size_t>(c.code[r])]));
            else if (c.anyNumber)
                cells.append(py::float_(c.num[r]));
            else
                cells.append(py::str(""));
        }
        out.append(py::make_tuple(c.name, c.anyNumber ? "mixed" : "text", cells));
    };
    if (t.severalSteps()) {
        velloc::python::GatheredColumn s;
        s.name = "Step";
        for (int v : t.step)
            s.addNumber(v);
        add(s);
    }
    for (const auto& c : t.byCols)
        add(c);
    for (const auto& c : t.cols)
        add(c);
    return out;
}

// An OUT= data set read back, column by column, with the types its sidecar keeps.
struct ReadBack {
    std::string name;
    std::vector<host::Variable> vars;
    std::vector<std::vector<double>> nums;
    std::vector<std::vector<std::string>> texts;
    std::string error;
};

ReadBack readBack(const std::string& name, const std::string& path) {
    ReadBack rb;
    rb.name = name;
    try {
        std::unique_ptr<host::Dataset> ds = host::Dataset::open(path);
        const int n = ds->nvars();
        rb.nums.resize(static_cast<std::size_t>(n));
        rb.texts.resize(static_cast<std::size_t>(n));
        for (int v = 1; v <= n; ++v)
            rb.vars.push_back(ds->var(v));
        ds->setBy({}, false);
        if (ds->nextGroup() > 0)
            while (ds->nextObs())
                for (int v = 1; v <= n; ++v) {
                    const std::size_t i = static_cast<std::size_t>(v - 1);
                    if (rb.vars[i].type == host::VarType::Numeric)
                        rb.nums[i].push_back(ds->num(v));
                    else
                        rb.texts[i].emplace_back(ds->text(v));
                }
    } catch (const host::DataSetError& e) {
        rb.error = e.message;
    }
    return rb;
}

py::list columnsOf(const ReadBack& rb) {
    py::list out;
    for (std::size_t i = 0; i < rb.vars.size(); ++i) {
        const host::Variable& var = rb.vars[i];
        if (var.type == host::VarType::Numeric)
            out.append(py::make_tuple(
                var.name, "num",
                py::array_t<double>(static_cast<py::ssize_t>(rb.nums[i].size()), rb.nums[i].data()),
                var.label));
        else
            out.append(py::make_tuple(var.name, "text", py::cast(rb.texts[i]), var.label));
    }
    return out;
}

py::dict run(const std::string& program, const py::list& inputs, py::object every, bool graphics,
             const std::string& dir) {
    registerCatalogue();
    Provider provider;
    provider.dir = dir;
    for (const py::handle& item : inputs) {
        auto in = item.cast<py::tuple>();
        auto name = in[0].cast<std::string>();
        auto t = tableFrom(name, in[1].cast<py::list>());
        if (std::string why = host::checkMemoryTable(*t); !why.empty())
            throw std::invalid_argument(why);
        // DATA=name and DATA='name' both read the frame.
        provider.named[Provider::key(name, false)] = t;
        provider.named[Provider::key(name, true)] = t;
    }
    if (!every.is_none()) {
        auto in = every.cast<py::tuple>();
        auto t = tableFrom(in[0].cast<std::string>(), in[1].cast<py::list>());
        if (std::string why = host::checkMemoryTable(*t); !why.empty())
            throw std::invalid_argument(why);
        provider.every = t;
    }

    std::ostringstream log, listing;
    auto sink = std::make_shared<velloc::python::MemorySink>(
        graphics ? host::GraphRenderer(host::renderGraphSvg) : host::GraphRenderer());
    const std::string htmlPath = (std::filesystem::path(dir) / "report.html").string();
    std::vector<int> stepStatus;
    std::vector<ReadBack> outData;
    int exitStatus = 0;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(runMutex);
        host::Session& session = host::Session::current();
        SessionGuard guard{session};
        host::Log::setStream(&log);
        host::Log::resetCounts();
        session.provider = &provider;
        session.options.graphics = graphics;
        session.output.setGraphicsEnabled(graphics);
        session.output.clearSinks();
        session.output.addSink(host::makeListingSink(listing));
        session.output.addSink(host::makeHtmlSink(htmlPath, host::renderGraphSvg));
        session.output.addSink(sink);

        // The command line's sequence: split, run each step, finish the outputs, close.
        const std::string fileName = "<python>";
        int errors = 0;
        std::vector<StepSource> steps = splitProgram(program, fileName, &errors);
        int worst = 0;
        if (errors) {
            worst = errors;
        } else if (steps.empty()) {
            host::xpmlog(host::kGroupHostRun, 4, {fileName});
            worst = 1;
        }
        int worstExit = steps.empty() && !errors ? 3 : exitStatusFor(worst);
        if (!errors) {
            int n = 0;
            for (const StepSource& step : steps) {
                int code = runProcedureStep(step, ++n);
                stepStatus.push_back(code);
                worst = std::max(worst, code);
                worstExit = std::max(worstExit, exitStatusFor(code));
            }
        }
        if (!session.output.finish()) worstExit = std::max(worstExit, 1);
        host::xpmlog(host::kGroupHostRun, 2, {std::to_string(steps.size()), std::to_string(worst)});
        exitStatus = runExitStatus(worstExit, host::Log::count(host::Severity::Error));

        // The OUT= data sets, the last step's last; what reading them logs is not the run's.
        std::vector<const Provider::Entry*> written;
        for (const auto& [k, e] : provider.entries)
            if (std::filesystem::exists(e.path)) written.push_back(&e);
        std::sort(written.begin(), written.end(),
                  [](const auto* a, const auto* b) { return a->lastUse < b->lastUse; });
        std::ostringstream readLog;
        host::Log::setStream(&readLog);
        for (const Provider::Entry* e : written)
            outData.push_back(readBack(e->name, e->path));
    }

    py::dict result;
    result["status"] = exitStatus;
    result["step_status"] = stepStatus;
    result["log"] = log.str();
    result["listing"] = listing.str();
    std::ifstream html(htmlPath, std::ios::binary);
    result["html"] = html ? std::string(std::istreambuf_iterator<char>(html), {}) : std::string();
    py::dict tables;
    for (const auto& [name, t] : sink->tables)
        tables[py::str(name)] = columnsOf(t);
    result["tables"] = tables;
    py::list graphs;
    for (const auto& g : sink->graphs)
        graphs.append(py::make_tuple(g.name, g.svg));
    result["graphs"] = graphs;

    py::list outs;
    for (const ReadBack& rb : outData) {
        if (!rb.error.empty())
            throw std::runtime_error("The OUT= data set " + rb.name +
                                     " cannot be read back: " + rb.error);
        outs.append(py::make_tuple(rb.name, columnsOf(rb)));
    }
    result["outs"] = outs;
    return result;
}

} // namespace

PYBIND11_MODULE(_velloc, m) {
    m.doc() = "libvelloc: propensity score analysis";
    m.attr("version") = VELLOC_VERSION;
    m.def("run", &run, py::arg("program"), py::arg("inputs"), py::arg("every"), py::arg("graphics"),
          py::arg("dir"),
          "Runs a program; inputs are (name, columns), every is (name, columns) or None.");
}
