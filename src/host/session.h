// The host session: what the command line set for the whole program run, and the services
// that outlive one procedure step (the output object, libraries, the DEBUG option).
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/run_state.h"
#include "io/dataset.h"
#include "io/dataset_provider.h"
#include "render/output.h"

namespace velloc::host {

// A session holds everything that lives longer than one procedure step: the options, the
// output object and its sinks, the data set provider, and the run state of the lower layers
// (log, symbols, random stream). A session is bound to the thread that runs it by a
// SessionScope; two sessions on two threads share nothing but the message texts.
class Session {
  public:
    // The session bound to this thread, or the thread's own one when none is bound.
    static Session& current();

    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

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
    // The run state a SessionScope binds with the session. A thread that has bound no session
    // logs to the state of its own that currentRunState() gives, not to this one.
    RunState state;
};

// Binds a session (and its run state) to the calling thread for the scope's lifetime; the
// binding before it comes back at the end.
class SessionScope {
  public:
    explicit SessionScope(Session& session);
    ~SessionScope();
    SessionScope(const SessionScope&) = delete;
    SessionScope& operator=(const SessionScope&) = delete;

  private:
    Session* previous_;
    RunStateScope state_;
};

} // namespace velloc::host
