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

#include "driver/message_catalogue.h"
#include "driver/program_run.h"
#include "driver/step_driver.h"
#include "host/host.h"
#include "io/memory_dataset.h"
#include "memory_sink.h"
#include "render/graph_renderers.h"
#include "statements/statements.h"

namespace py = pybind11;
using namespace velloc;

namespace {

// One session for the module, so that a later run continues what an earlier one left (the
// random stream, the symbols) as later steps of one program would; runs take turns on it.
std::mutex runMutex;
host::Session& moduleSession() {
    static host::Session session;
    return session;
}

std::string upper(std::string s) {
    host::wzstrup(s);
    return s;
}

// Data set names of one run. Every name the program uses gets a path in the run's private
// folder: an OUT= data set at that path is kept in memory (never written), a later DATA= of the
// same name reads it, a name given from Python opens its frame, and any other name opens its file.
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
    // The OUT= data sets, by path, as their steps committed them (never written to a file).
    std::map<std::string, std::shared_ptr<const host::MemoryTable>> kept;

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

    bool keepsOutput(const std::string& path) const override {
        for (const auto& [k, e] : entries)
            if (e.path == path) return true;
        return false;
    }
    void takeOutput(const std::string& path, std::shared_ptr<host::MemoryTable> table) override {
        kept[path] = std::move(table);
    }

    std::unique_ptr<host::Dataset> open(const std::string& path) override {
        for (const auto& [k, e] : entries) {
            if (e.path != path) continue;
            if (auto out = kept.find(path); out != kept.end()) // an earlier step's OUT=
                return host::openMemoryDataset(out->second, e.name);
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

// An OUT= data set as Python takes it: per column (name, "num", array, label) or (name,
// "text", list of str, label), a blank text as "".
py::list columnsOf(const host::MemoryTable& t) {
    py::list out;
    for (const host::MemoryColumn& c : t.columns) {
        if (c.type == host::VarType::Numeric) {
            out.append(py::make_tuple(
                c.name, "num",
                py::array_t<double>(static_cast<py::ssize_t>(c.numbers.size()), c.numbers.data()),
                c.label));
            continue;
        }
        // One str object per distinct text, shared by its rows.
        std::vector<py::str> texts;
        texts.reserve(c.texts.size());
        for (const std::string& text : c.texts)
            texts.emplace_back(text);
        py::str blank("");
        py::list cells(static_cast<py::ssize_t>(c.codes.size()));
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            const std::int32_t k = c.codes[i];
            cells[static_cast<py::ssize_t>(i)] = k < 0 ? blank : texts[static_cast<std::size_t>(k)];
        }
        out.append(py::make_tuple(c.name, "text", cells, c.label));
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
    std::vector<std::pair<const Provider::Entry*, std::shared_ptr<const host::MemoryTable>>>
        outData;
    int exitStatus = 0;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(runMutex);
        host::Session& session = moduleSession();
        host::SessionScope bind(session);
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

        ProgramResult run = runProgram(program, "<python>");
        stepStatus = run.stepStatus;
        exitStatus = run.exitStatus;

        // The OUT= data sets, the last step's last.
        for (const auto& [k, e] : provider.entries)
            if (auto t = provider.kept.find(e.path); t != provider.kept.end())
                outData.emplace_back(&e, t->second);
        std::sort(outData.begin(), outData.end(),
                  [](const auto& a, const auto& b) { return a.first->lastUse < b.first->lastUse; });
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
    for (const auto& [e, t] : outData)
        outs.append(py::make_tuple(e->name, columnsOf(*t)));
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
