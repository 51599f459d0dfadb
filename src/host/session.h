// The host session: what the command line set for the whole program run, and the services
// that outlive one procedure step (the output object, libraries, the DEBUG option).
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "io/dataset.h"
#include "io/dataset_provider.h"
#include "render/output.h"

namespace velloc::host {

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
