// The host session: what the command line set for the whole program run, and the services
// that outlive one procedure step (the output object, libraries, the DEBUG option).
#pragma once
#include <map>
#include <string>

#include "host/output.h"

namespace velloc::host {

struct SessionOptions {
    bool traceSyntax = false;   // DEBUG=SYN
    bool traceSemantic = false; // DEBUG=SEM
    bool graphics = true;
    std::map<std::string, std::string> libraries; // upper-cased libref -> folder
};

class Session {
  public:
    static Session& current();

    SessionOptions options;
    Output output;

    // Resolves a data set name: a quoted path as it is; "lib.member" to folder/member.csv of
    // the library; a one-level name to ./name.csv (or the WORK library when defined).
    // Returns an empty string and logs when the library is unknown.
    std::string resolveDataSet(const std::string& name, bool quoted) const;
};

} // namespace velloc::host
