// The hook through which a front end that keeps data sets in memory takes part in reading
// and writing them.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "io/dataset.h"

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

} // namespace velloc::host
