#include "host/session.h"

#include <filesystem>

#include "base/messages.h"
#include "base/text.h"

namespace velloc::host {

namespace {
thread_local Session* bound = nullptr;
} // namespace

Session& Session::current() {
    if (bound) return *bound;
    thread_local Session own;
    return own;
}

SessionScope::SessionScope(Session& session) : previous_(bound), state_(session.state) {
    bound = &session;
}

SessionScope::~SessionScope() {
    bound = previous_;
}

std::unique_ptr<Dataset> Session::openDataSet(const std::string& path) const {
    if (provider)
        if (auto ds = provider->open(path)) return ds;
    return Dataset::open(path);
}

std::string Session::resolveDataSet(const std::string& name, bool quoted) const {
    if (provider)
        if (auto path = provider->resolve(name, quoted)) return *path;
    if (quoted) return name;
    auto dot = name.find('.');
    std::string lib = dot == std::string::npos ? std::string("WORK") : name.substr(0, dot);
    std::string member = dot == std::string::npos ? name : name.substr(dot + 1);
    wzstrup(lib);
    auto it = options.libraries.find(lib);
    if (it == options.libraries.end()) {
        if (dot == std::string::npos) return member + ".csv";
        xpmlog(kGroupHostData, 20, {lib, name});
        return {};
    }
    std::filesystem::path dir(it->second);
    // Members are matched case-insensitively: prefer an exact file name, else lower case.
    std::filesystem::path exact = dir / (member + ".csv");
    if (std::filesystem::exists(exact)) return exact.string();
    std::string lower = member;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return (dir / (lower + ".csv")).string();
}

} // namespace velloc::host
