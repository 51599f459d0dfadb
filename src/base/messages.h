// The message catalogue and the log.
//
// A message is keyed by (group, number) and has a severity and a text whose placeholders %1..%9
// take the caller's arguments. Log lines read "NOTE: text [group-number]" so a user can look a
// message up; the severity prefix comes from the catalogue, never from the caller.
#pragma once
#include <initializer_list>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velloc::host {

enum class Severity { Note, Warning, Error, Text };

struct MessageDef {
    int group;
    int number;
    Severity severity;
    const char* text;
};

// Procedure message group and the host's own groups.
inline constexpr int kGroupProc = 1049;
inline constexpr int kGroupPlot = 210;
inline constexpr int kGroupHostOutput = 1; // table labels 2..12 and output-system messages
inline constexpr int kGroupHostData = 900; // data set, CSV and library messages
inline constexpr int kGroupHostRun = 901;  // command line, driver notes, utility files

// Adds definitions to the catalogue; a later definition of the same key replaces the earlier.
void addMessages(std::span<const MessageDef> defs);
bool hasMessage(int group, int number);
Severity messageSeverity(int group, int number);

using Args = std::initializer_list<std::string_view>;

// The catalogue text with arguments filled in (%1..%9; "%%" is a literal percent sign).
std::string xpmstr(int group, int number, Args args = {});
// The raw catalogue text, placeholders left as they are.
std::string wkread(int group, int number);
// Writes the message to the log with its severity prefix and id.
void xpmlog(int group, int number, Args args = {});

// The log: standard error unless redirected. Counts lines by severity.
class Log {
  public:
    static void setStream(std::ostream* out); // nullptr: standard error
    static void write(Severity severity, std::string_view text, int group, int number);
    static void plain(std::string_view text); // a line without prefix or id
    static int count(Severity severity);
    // The first ERROR lines written (text and id), at most kErrorsKept of them.
    static const std::vector<std::string>& errors();
    static constexpr std::size_t kErrorsKept = 20;
    static void resetCounts();
};

} // namespace velloc::host
