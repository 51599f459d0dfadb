#include "base/messages.h"

#include "base/run_state.h"

#include <array>
#include <iostream>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace velloc::host {

namespace {

struct Entry {
    Severity severity;
    std::string text;
};

// The catalogue is the one thing sessions share: texts, added by the registration functions
// (possibly from two sessions' threads at once) and read by every log line.
using Catalogue = std::map<std::pair<int, int>, Entry>;
Catalogue& catalogue() {
    static Catalogue table;
    return table;
}
std::shared_mutex& catalogueLock() {
    static std::shared_mutex lock;
    return lock;
}

// Copies the entry of a key out under the lock; false when the catalogue has none.
bool lookup(int group, int number, Entry& out) {
    std::shared_lock lock(catalogueLock());
    auto it = catalogue().find({group, number});
    if (it == catalogue().end()) return false;
    out = it->second;
    return true;
}

const char* prefix(Severity s) {
    switch (s) {
    case Severity::Note:
        return "NOTE: ";
    case Severity::Warning:
        return "WARNING: ";
    case Severity::Error:
        return "ERROR: ";
    case Severity::Text:
        return "";
    }
    return "";
}

std::string fill(std::string_view text, Args args) {
    std::string out;
    out.reserve(text.size() + 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 1 < text.size()) {
            char d = text[i + 1];
            if (d == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (d >= '1' && d <= '9') {
                std::size_t k = static_cast<std::size_t>(d - '1');
                if (k < args.size()) out.append(*(args.begin() + k));
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace

void addMessages(std::span<const MessageDef> defs) {
    std::unique_lock lock(catalogueLock());
    for (const auto& d : defs)
        catalogue()[{d.group, d.number}] = Entry{d.severity, d.text};
}

bool hasMessage(int group, int number) {
    std::shared_lock lock(catalogueLock());
    return catalogue().count({group, number}) != 0;
}

Severity messageSeverity(int group, int number) {
    Entry e;
    return lookup(group, number, e) ? e.severity : Severity::Error;
}

std::string wkread(int group, int number) {
    Entry e;
    if (!lookup(group, number, e))
        return "Message " + std::to_string(number) + " of group " + std::to_string(group) +
               " is not in the catalogue.";
    return e.text;
}

std::string xpmstr(int group, int number, Args args) {
    return fill(wkread(group, number), args);
}

void xpmlog(int group, int number, Args args) {
    Entry e;
    if (!lookup(group, number, e)) e = Entry{Severity::Error, wkread(group, number)};
    Log::write(e.severity, fill(e.text, args), group, number);
}

void Log::setStream(std::ostream* out) {
    currentRunState().logStream = out;
}

void Log::write(Severity severity, std::string_view text, int group, int number) {
    RunState& state = currentRunState();
    std::ostream& os = state.logStream ? *state.logStream : std::cerr;
    os << prefix(severity) << text << " [" << group << '-' << number << "]\n";
    os.flush();
    ++state.logCounts[static_cast<std::size_t>(severity)];
    if (severity == Severity::Error && state.logErrors.size() < kErrorsKept)
        state.logErrors.push_back(std::string(text) + " [" + std::to_string(group) + "-" +
                                  std::to_string(number) + "]");
}

const std::vector<std::string>& Log::errors() {
    return currentRunState().logErrors;
}

void Log::plain(std::string_view text) {
    RunState& state = currentRunState();
    std::ostream& os = state.logStream ? *state.logStream : std::cerr;
    os << text << '\n';
    os.flush();
}

int Log::count(Severity severity) {
    return currentRunState().logCounts[static_cast<std::size_t>(severity)];
}

void Log::resetCounts() {
    currentRunState().logCounts = {};
    currentRunState().logErrors.clear();
}

} // namespace velloc::host
