// The host session: what the command line set for the whole program run, and the services
// that outlive one procedure step (the output object, libraries, the DEBUG option).
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "host/dataset.h"
#include "host/output.h"

namespace velloc::host {

struct MemoryTable;

struct SessionOptions {
    bool traceSyntax = false;   // DEBUG=SYN
    bool traceSemantic = false; // DEBUG=SEM
    bool graphics = true;
    std::map<std::string, std::string> libraries; // upper-cased libref -> folder
};

// A front end that keeps data sets in memory (the Python package) resolves and opens data
// set names itself; a name it leaves alone is a file as usual.
class DataSetProvider {
  public:
    virtual ~DataSetProvider() = default;
    // The path that stands for the name, or nothing to resolve it as a file.
    virtual std::optional<std::string> resolve(const std::string& name, bool quoted) = 0;
    // The data set at a path resolve() gave, or nullptr to open the path as a file.
    virtual std::unique_ptr<Dataset> open(const std::string& path) = 0;
    // Whether an OUT= data set at a path resolve() gave is kept in memory rather than
    // written; such a data set reaches takeOutput() when its step commits it, and never
    // when the step fails.
    virtual bool keepsOutput(const std::string& /*path*/) const { return false; }
    virtual void takeOutput(const std::string& /*path*/, std::shared_ptr<MemoryTable> /*table*/) {}
};

class Session {
  public:
    static Session& current();

    SessionOptions options;
    Output output;

    // Resolves a data set name: a quoted path as it is; "lib.member" to folder/member.csv of
    // the library; a one-level name to ./name.csv (or the WORK library when defined).
    // Returns an empty string and logs when the library is unknown.
    // A provider, when one is installed, is asked first.
    std::string resolveDataSet(const std::string& name, bool quoted) const;
    // Opens a resolved input data set: the provider's, else the file (Dataset::open).
    std::unique_ptr<Dataset> openDataSet(const std::string& path) const;

    DataSetProvider* provider = nullptr; // not owned
};

} // namespace velloc::host
