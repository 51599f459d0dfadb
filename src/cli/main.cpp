// The velloc command: runs a program of procedure steps and writes the log, the listing, the
// HTML report, table CSV files and graphs where the flags say.
#include <CLI/CLI.hpp>
#include <cblas.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "base/run_messages.h"
#include "driver/message_catalogue.h"
#include "driver/program_run.h"
#include "driver/step_driver.h"
#include "host/host.h"
#include "io/mapping_pool.h"
#include "render/graph_renderers.h"
#include "statements/statements.h"

// OpenBLAS stops its worker threads (exported for its fork handler; not in cblas.h).
extern "C" int blas_thread_shutdown_(void);

namespace {

constexpr int kUsage = 64;

// The procedure splits its work across the cores itself (the fit's passes, the model rows, the
// reading), so the BLAS library's own threads could only compete with it; worse, they spin for
// about a tenth of a second after the library starts, taking a core from the scan of the data
// set. The library is made single-threaded and its workers stopped before any work starts.
void serialBlas() {
    openblas_set_num_threads(1);
    blas_thread_shutdown_();
}

struct Flags {
    std::string program;
    std::string log;
    std::string listing = "-";
    std::string html;
    std::string tablesDir;
    std::string graphsDir;
    bool noGraphics = false;
    std::vector<std::string> libs;
    std::string debug;
};

bool readProgram(const std::string& path, std::string& text) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

bool makeDir(const std::string& dir, const char* flag) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        velloc::host::xpmlog(velloc::host::kGroupHostRun, velloc::host::runmsg::kCannotCreateFolder,
                             {dir, flag, ec.message()});
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace velloc;
    serialBlas();
    Flags f;
    CLI::App app{"velloc: propensity score analysis of observational data.\n"
                 "Runs the PROC VELLOC steps of PROGRAM (a file, or - for standard input).",
                 "velloc"};
    app.set_version_flag("--version", std::string("velloc ") + VELLOC_VERSION);
    app.add_option("PROGRAM", f.program, "program file, or - for standard input")->required();
    app.add_option("--log", f.log, "write the log to FILE instead of standard error");
    app.add_option("--listing", f.listing, "write the listing to FILE (- = standard output)");
    app.add_option("--html", f.html, "write the HTML report of the whole run to FILE");
    app.add_option("--tables-dir", f.tablesDir, "write one CSV file per table into DIR");
    app.add_option("--graphs-dir", f.graphsDir, "write one SVG file per graph into DIR");
    app.add_flag("--no-graphics", f.noGraphics, "switch graphics off");
    app.add_option("--lib", f.libs, "assign library NAME to folder DIR (NAME=DIR), repeatable");
    app.add_option("--debug", f.debug, "trace the statement parser: SYN, SEM or SYN,SEM");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : kUsage;
    }

    host::keepFreedHeap();
    registerCatalogue();
    // The files outlive the session whose log and listing write to them.
    std::ofstream logFile, listingFile;
    host::Session session;
    host::SessionScope bind(session);

    if (!f.log.empty()) {
        logFile.open(f.log, std::ios::out | std::ios::trunc);
        if (!logFile) {
            std::cerr << "velloc: cannot write the log file " << f.log << ": "
                      << std::strerror(errno) << "\n";
            return kUsage;
        }
        host::Log::setStream(&logFile);
    }

    for (const std::string& lib : f.libs) {
        auto eq = lib.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == lib.size()) {
            std::cerr << "velloc: --lib expects NAME=DIR, got '" << lib << "'\n";
            return kUsage;
        }
        std::string name = lib.substr(0, eq);
        host::wzstrup(name);
        session.options.libraries[name] = lib.substr(eq + 1);
    }
    std::string dbg = f.debug;
    host::wzstrup(dbg);
    session.options.traceSyntax = dbg.find("SYN") != std::string::npos;
    session.options.traceSemantic = dbg.find("SEM") != std::string::npos;
    session.options.graphics = !f.noGraphics;
    session.output.setGraphicsEnabled(!f.noGraphics);

    std::string text;
    if (!readProgram(f.program, text)) {
        std::cerr << "velloc: cannot read the program file " << f.program << ": "
                  << std::strerror(errno) << "\n";
        return kUsage;
    }

    // An output that cannot be set up runs no step; the log still ends on the status line.
    auto setupFailed = [] {
        host::xpmlog(host::kGroupHostRun, host::runmsg::kAllStepsEnded,
                     {"0", std::to_string(host::kExitOutputSetup)});
        return 3;
    };
    if (f.listing == "-") {
        session.output.addSink(host::makeListingSink(std::cout));
    } else {
        listingFile.open(f.listing, std::ios::out | std::ios::trunc);
        if (!listingFile) {
            host::xpmlog(host::kGroupHostRun, host::runmsg::kCannotWriteListing,
                         {f.listing, std::strerror(errno)});
            return setupFailed();
        }
        session.output.addSink(host::makeListingSink(listingFile, f.listing));
    }
    if (!f.html.empty()) session.output.addSink(host::makeHtmlSink(f.html, host::renderGraphSvg));
    if (!f.tablesDir.empty()) {
        if (!makeDir(f.tablesDir, "--tables-dir")) return setupFailed();
        session.output.addSink(host::makeCsvSink(f.tablesDir));
    }
    if (!f.graphsDir.empty()) {
        if (!makeDir(f.graphsDir, "--graphs-dir")) return setupFailed();
        session.output.addSink(host::makeGraphSink(f.graphsDir, host::renderGraphSvg));
    }

    std::string fileName = f.program == "-" ? std::string("<stdin>") : f.program;
    int status = runProgram(text, fileName, f.html).exitStatus;
    if (!f.log.empty()) {
        logFile.flush();
        // The log is where every other failure is reported: one that cannot be written is
        // said on standard error, and the run does not pass for a clean one.
        if (!logFile) {
            std::cerr << "velloc: the log file " << f.log
                      << " could not be written in full: " << std::strerror(errno ? errno : EIO)
                      << "\n";
            status = std::max(status, 1);
        }
    }
    return status;
}
