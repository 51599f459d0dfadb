#include "base/messages.h"

#include <array>
#include <iostream>
#include <map>
#include <mutex>
#include <utility>

namespace velloc::host {

namespace {

struct Entry {
    Severity severity;
    std::string text;
};

std::map<std::pair<int, int>, Entry>& catalogue() {
    static std::map<std::pair<int, int>, Entry> table;
    return table;
}

std::ostream* logStream = nullptr;
std::array<int, 4> counts{};

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
    for (const auto& d : defs)
        catalogue()[{d.group, d.number}] = Entry{d.severity, d.text};
}

bool hasMessage(int group, int number) {
    return catalogue().count({group, number}) != 0;
}

Severity messageSeverity(int group, int number) {
    auto it = catalogue().find({group, number});
    return it == catalogue().end() ? Severity::Error : it->second.severity;
}

std::string wkread(int group, int number) {
    auto it = catalogue().find({group, number});
    if (it == catalogue().end())
        return "Message " + std::to_string(number) + " of group " + std::to_string(group) +
               " is not in the catalogue.";
    return it->second.text;
}

std::string xpmstr(int group, int number, Args args) {
    return fill(wkread(group, number), args);
}

void xpmlog(int group, int number, Args args) {
    Log::write(messageSeverity(group, number), xpmstr(group, number, args), group, number);
}

void Log::setStream(std::ostream* out) {
    logStream = out;
}

void Log::write(Severity severity, std::string_view text, int group, int number) {
    std::ostream& os = logStream ? *logStream : std::cerr;
    os << prefix(severity) << text << " [" << group << '-' << number << "]\n";
    os.flush();
    ++counts[static_cast<std::size_t>(severity)];
}

void Log::plain(std::string_view text) {
    std::ostream& os = logStream ? *logStream : std::cerr;
    os << text << '\n';
    os.flush();
}

int Log::count(Severity severity) {
    return counts[static_cast<std::size_t>(severity)];
}

void Log::resetCounts() {
    counts = {};
}

} // namespace velloc::host
