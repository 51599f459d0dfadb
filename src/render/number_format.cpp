#include "render/number_format.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <system_error>
#include <unistd.h>

#include "base/file_target.h"
#include "base/messages.h"
#include "base/missing.h"
#include "base/text.h"
#include "render/output_messages.h"

namespace velloc::host {

namespace {

// "-0.0000" and "-0" say nothing a reader needs; show them unsigned.
std::string dropNegativeZero(std::string s) {
    if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("0.", 1) == std::string::npos)
        s.erase(0, 1);
    return s;
}

std::string best(double v) {
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    if (v == std::trunc(v) && std::fabs(v) < 1e15)
        return dropNegativeZero(fmt::format("{:.0f}", v));
    return dropNegativeZero(fmt::format("{:.8g}", v));
}

} // namespace

std::string formatNumber(double v, const NumberFormat& f) {
    if (isMissing(v)) return ".";
    if (f.decimals < 0 || std::isinf(v)) return best(v);
    int decimals = f.decimals;
    if (decimals == 0 && v != std::trunc(v)) decimals = 4;
    return dropNegativeZero(fmt::format("{:.{}f}", v, decimals));
}

std::string formatExact(double v) {
    if (isMissing(v)) return {};
    return fmt::format("{}", v);
}

std::string trimRight(std::string_view s) {
    auto end = s.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

std::string dynamicText(const DynValue& v) {
    if (auto s = std::get_if<std::string>(&v)) return trimRight(*s);
    if (auto i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    return best(std::get<double>(v));
}

std::size_t displayWidth(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string escapeMarkup(std::string_view text) {
    const std::string s = cutText(text); // invalid bytes would make the document unreadable
    std::string out;
    out.reserve(s.size() + 16);
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n')
                out += ' ';
            else
                out += c;
        }
    }
    return out;
}

std::string safeFileName(std::string_view name) {
    std::string out;
    for (char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-';
        out += ok ? c : '_';
    }
    return out;
}

bool writeAtomically(const std::string& path, std::string_view content) {
    return writeAtomically(path, [&](std::ostream& f) {
        f.write(content.data(), static_cast<std::streamsize>(content.size()));
        return true;
    });
}

bool writeAtomically(const std::string& path, const std::function<bool(std::ostream&)>& write) {
    namespace fs = std::filesystem;
    addOutputMessages();
    std::string target, reason;
    const TargetKind kind = fileTarget(path, target);
    if (kind == TargetKind::Folder) {
        xpmlog(kGroupHostOutput, kMsgOutputWrite, {path, "it is a folder"});
        return false;
    }
    // A device or pipe takes the bytes where it is; a file is written beside and renamed.
    const bool inPlace = kind == TargetKind::Other;
    const std::string into =
        inPlace ? target : target + fmt::format(".tmp{}", static_cast<long>(::getpid()));
    {
        errno = 0;
        std::ofstream f(into, std::ios::binary | std::ios::trunc);
        if (f && !write(f)) reason = "the data to write could not be read back";
        if (f) f.close();
        if (!f && reason.empty()) reason = errno ? std::strerror(errno) : "write failed";
    }
    if (reason.empty() && !inPlace) {
        std::error_code ec;
        fs::rename(into, target, ec);
        if (ec) reason = ec.message();
    }
    if (reason.empty()) return true;
    std::error_code ignore;
    if (!inPlace) fs::remove(into, ignore);
    xpmlog(kGroupHostOutput, kMsgOutputWrite, {path, reason});
    return false;
}

} // namespace velloc::host
