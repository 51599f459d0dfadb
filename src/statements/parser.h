// The host's grammar-driven statement parser. A procedure supplies its grammar as data (the
// statements, their options and value kinds); the parser reads a step's tokens into statement
// records, resolves variable names against the input data set and reports errors a user can
// act on (line, column, offending token, what was expected, a close known name).
#pragma once
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "io/dataset.h"
#include "statements/lexer.h"

namespace velloc::host {

// Message group of the parser's own messages.
inline constexpr int kGroupGrammar = 1040;

// Message numbers of group kGroupGrammar.
namespace grammarmsg {
inline constexpr int kUnexpectedToken = 1;
inline constexpr int kSyntaxError = 2;
inline constexpr int kUnknownVariable = 3;
inline constexpr int kUnknownStatement = 4;
inline constexpr int kUnknownOption = 5;
inline constexpr int kUnknownValue = 6;
inline constexpr int kOutsideStep = 7;
inline constexpr int kUnknownProcedure = 8;
} // namespace grammarmsg

enum class ValueKind {
    Flag,            // KEYWORD
    Number,          // KEYWORD=number (a leading '-' allowed)
    NumberOrMissing, // KEYWORD=number | .
    Name,            // KEYWORD=name (a new name, not resolved)
    NameList,        // KEYWORD=name <name ...>
    Var,             // KEYWORD=variable
    VarList,         // KEYWORD=variable | (variables)
    DataSet,         // KEYWORD='path' | name | lib.member
    Text,            // KEYWORD='text'
    TextList,        // KEYWORD='text' | ('text' ...)
    TextOrChoice,    // KEYWORD='text' | choice
    Choice,          // KEYWORD=choice<(sub-options)>
    ChoiceList,      // KEYWORD=choice<(...)> | (choice<(...)> ...)
    Group,           // KEYWORD=(options)
    NumberOrGroup    // KEYWORD=number | (options)
};

struct OptionSpec {
    std::string name;                 // canonical keyword
    std::vector<std::string> aliases; // secondary forms
    ValueKind kind = ValueKind::Flag;
    std::vector<OptionSpec> pre;     // options in parentheses right after the keyword
    std::vector<OptionSpec> choices; // the values of Choice kinds; a choice's `pre` are its options
    std::vector<OptionSpec> group;   // the options of "=(...)" values
    std::vector<OptionSpec> post;    // options in parentheses after the value
    bool valueOptional = false;      // "KEYWORD(pre)" may stand without "="
    bool psLpsItems = false;         // a variable list that may also hold the items PS and LPS
    // A variable list whose names need not be in the data set: they are kept with variable
    // number kUnknownVar, for the statement to report as a data error in its own terms.
    bool keepUnknown = false;
};

inline constexpr int kUnknownVar = -2;

enum class Positional {
    None,
    VarList, // CLASS a b c
    Var,     // FREQ f
    ByList,  // BY <DESCENDING> a ...
    Special  // parsed by the statement's semantic routine (PSMODEL effects)
};

struct StatementSpec {
    std::string name;
    std::vector<std::string> aliases;
    Positional positional = Positional::None;
    std::vector<OptionSpec> options; // before '/'
    std::vector<OptionSpec> after;   // after '/'
};

struct Grammar {
    std::vector<StatementSpec> statements;
    std::vector<std::string> keywords;  // the whole vocabulary, for suggestions and checks
    std::vector<std::string> secondary; // secondary forms
};

// One model effect: crossed variables and the variables it is nested within.
struct Effect {
    std::vector<int> vars;
    std::vector<int> nested;
    bool operator==(const Effect&) const = default;
};

struct ParsedOption {
    std::string path;    // canonical keywords joined by '/': "METHOD/GREEDY/K"
    std::string written; // the keyword as written, upper-cased ("STAT")
    std::string value;   // choice keyword (canonical), name, quoted text or data-set name
    bool quoted = false;
    bool missing = false;
    double number = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::string> names; // list items as written
    std::vector<int> vars; // resolved variable numbers (0: not a variable, e.g. PS; kUnknownVar)
    int line = 0;
    int column = 0;
    int seq = 0; // source order within the step
    bool hasNumber() const { return !std::isnan(number); }
};

struct ParsedStatement {
    std::string keyword; // canonical
    int line = 0;
    int column = 0;
    std::vector<ParsedOption> options;
    // Positional part: variable names and numbers (BY: `descending` per variable).
    std::vector<std::string> names;
    std::vector<int> vars;
    std::vector<bool> descending;
    // PSMODEL: response, its options, and the effects.
    std::vector<Effect> effects;

    const ParsedOption* find(std::string_view path) const; // first occurrence
    int count(std::string_view path) const;
    bool has(std::string_view path) const { return find(path) != nullptr; }
    // Options whose path starts with prefix + "/" (or equals it), in source order.
    std::vector<const ParsedOption*> under(std::string_view prefix) const;
};

class Parser;

// Callbacks of the procedure.
class ParserHooks {
  public:
    virtual ~ParserHooks() = default;
    // Called at the start of each statement (after its keyword). 0: go on; 2: errors already
    // reported (the statement is still checked). May end the procedure (xexit).
    virtual int statementStart(Parser& parser, ParsedStatement& stmt) = 0;
    // Called after a statement parsed without error.
    virtual void statementEnd(Parser&, ParsedStatement&) {}
    // The semantic routine for Positional::Special; returns false after reporting an error.
    virtual bool parseSpecial(Parser&, ParsedStatement&) { return false; }
    // The data set variables resolve against (nullptr: names are kept unresolved).
    virtual const Dataset* dataset() const { return nullptr; }
};

class Parser {
  public:
    Parser(const Grammar& grammar, std::string_view text, int firstLine, int firstColumn,
           ParserHooks& hooks, std::string fileName);
    // Parses every statement up to RUN; / QUIT; or the end. Returns the records of the
    // statements that parsed without error; errors() counts the reported errors.
    std::vector<ParsedStatement> parse();
    int errors() const { return errors_; }

    // Services for semantic routines.
    const Token& peek(int ahead = 0) const;
    Token next();
    bool atPunct(char c, int ahead = 0) const;
    bool accept(char c);
    // Reports "expected ..." at the current token; returns false.
    bool expected(std::string_view what, std::string_view context);
    // Reports an error at a token with a free text.
    void error(const Token& at, std::string_view text);
    // Resolves a variable name token; reports an unknown variable (naming the data set and a
    // close name) and returns -1, or returns kUnknownVar silently inside a list that keeps
    // unknown names. Returns 0 when no data set is open.
    int resolve(const Token& name, std::string_view context);
    // Reads one variable or a variable list item (a range x1-x5, _ALL_, _NUMERIC_, _CHAR_).
    bool readListItem(std::vector<std::string>& names, std::vector<int>& vars,
                      std::string_view context, bool psLpsItems);
    const std::string& fileName() const { return file_; }
    bool traceSyntax = false;
    bool traceSemantic = false;

  private:
    const Grammar& g_;
    std::vector<Token> toks_;
    std::size_t pos_ = 0;
    ParserHooks& hooks_;
    std::string file_;
    int errors_ = 0;
    int seq_ = 0;
    bool keepUnknown_ = false; // inside a list whose grammar entry keeps unknown names

    bool statement(ParsedStatement& st, const StatementSpec& decl);
    bool options(ParsedStatement& st, const std::vector<OptionSpec>& specs,
                 const std::string& prefix, std::string_view context, char closer,
                 const std::vector<OptionSpec>* otherSide);
    bool option(ParsedStatement& st, const OptionSpec& decl, const std::string& prefix,
                std::string_view context);
    bool value(ParsedStatement& st, const OptionSpec& decl, ParsedOption& opt,
               const std::string& path, std::string_view context);
    bool choice(ParsedStatement& st, const OptionSpec& decl, ParsedOption& opt,
                const std::string& path, std::string_view context);
    bool varList(ParsedOption& opt, std::string_view context, bool psLpsItems);
    void skipStatement();
    std::string suggestion(std::string_view word, const std::vector<std::string>& known) const;
};

// Finds an option decl by keyword or alias (upper-case); nullptr when none.
const OptionSpec* findOption(const std::vector<OptionSpec>& specs, std::string_view upper);
// Whether two words are at most one edit apart (insert, delete, replace, swap).
bool oneEditApart(std::string_view a, std::string_view b);
// Registers the parser's messages (group kGroupGrammar).
void addParserMessages();

} // namespace velloc::host
