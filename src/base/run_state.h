// What a session keeps that the lowest layers reach: the log's destination and counts, the
// host symbols, the session's random stream and where its step is.
//
// Each thread works for one session at a time. RunStateScope binds a session's state to the
// calling thread for its lifetime; a thread that never bound one works on a state of its own.
// Two sessions therefore share nothing but the message texts, and can run one after another or
// side by side on two threads.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace velloc::host {

struct RunState {
    std::ostream* logStream = nullptr;  // nullptr: standard error
    std::array<int, 4> logCounts{};     // lines written, by severity
    std::vector<std::string> logErrors; // the first ERROR lines, for the report of the run
    std::map<std::string, std::string, std::less<>> symbols;
    // The matching stream's live state: a step without SEED= continues the stream an earlier
    // step of the session left (0 until some step seeds it).
    std::int64_t randomStream = 0;
    const char* phase = "step set-up";            // the phase now running, for fault messages
    int byGroup = 0;                              // its BY group, 0 outside the BY-group loop
    void (*utilFaultHandler)(int code) = nullptr; // what a utility-file fault does in a step
};

// The state of the session bound to this thread, or the thread's own.
RunState& currentRunState();

class RunStateScope {
  public:
    explicit RunStateScope(RunState& state);
    ~RunStateScope();
    RunStateScope(const RunStateScope&) = delete;
    RunStateScope& operator=(const RunStateScope&) = delete;

  private:
    RunState* previous_;
};

} // namespace velloc::host
