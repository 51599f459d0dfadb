#include "statements/parser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>

#include <fmt/format.h>

#include "base/messages.h"
#include "base/text.h"

namespace velloc::host {

namespace {

const std::array<MessageDef, 8> kParserMessages{{
    {kGroupGrammar, grammarmsg::kUnexpectedToken, Severity::Error,
     "%1, line %2, column %3: in the %4 statement, found %5 where %6 was expected.%7"},
    {kGroupGrammar, grammarmsg::kSyntaxError, Severity::Error, "%1, line %2, column %3: %4"},
    {kGroupGrammar, grammarmsg::kUnknownVariable, Severity::Error,
     "%1, line %2, column %3: the variable %4 (in %5) is not in the data set %6.%7"},
    {kGroupGrammar, grammarmsg::kUnknownStatement, Severity::Error,
     "%1, line %2, column %3: %4 is not a statement of PROC VELLOC.%5"},
    {kGroupGrammar, grammarmsg::kUnknownOption, Severity::Error,
     "%1, line %2, column %3: %4 is not an option of %5.%6"},
    {kGroupGrammar, grammarmsg::kUnknownValue, Severity::Error,
     "%1, line %2, column %3: %4 is not a value of %5; expected one of %6.%7"},
    {kGroupGrammar, grammarmsg::kOutsideStep, Severity::Error,
     "%1, line %2, column %3: text outside a PROC VELLOC step: %4. Every statement must "
     "follow PROC VELLOC and come before RUN;."},
    {kGroupGrammar, grammarmsg::kUnknownProcedure, Severity::Error,
     "%1, line %2, column %3: %4 is not a procedure of this program; only PROC VELLOC is "
     "known."},
}};

std::string upperOf(std::string_view s) {
    std::string u(s);
    wzstrup(u);
    return u;
}

bool isPsLps(std::string_view upper) {
    return upper == "PS" || upper == "LPS";
}

std::string joinNames(const std::vector<OptionSpec>& specs) {
    std::string out;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        if (i) out += i + 1 == specs.size() ? " or " : ", ";
        out += specs[i].name;
    }
    return out;
}

std::vector<std::string> namesOf(const std::vector<OptionSpec>& specs) {
    std::vector<std::string> out;
    for (const auto& s : specs) {
        out.push_back(s.name);
        for (const auto& a : s.aliases)
            out.push_back(a);
    }
    return out;
}

// Splits "x12" into "x" and 12; false when the name has no trailing digits.
bool splitNumbered(const std::string& name, std::string& prefix, long& number) {
    std::size_t k = name.size();
    while (k > 0 && std::isdigit(static_cast<unsigned char>(name[k - 1])))
        --k;
    if (k == name.size() || k == 0 || name.size() - k > 9) return false;
    prefix = name.substr(0, k);
    number = std::stol(name.substr(k));
    return true;
}

} // namespace

void addParserMessages() {
    static std::once_flag once;
    std::call_once(once, [] { addMessages(kParserMessages); });
}

bool oneEditApart(std::string_view a, std::string_view b) {
    if (a == b) return false;
    std::size_t n = a.size(), m = b.size();
    if (n + 1 < m || m + 1 < n) return false;
    std::size_t i = 0;
    while (i < n && i < m && a[i] == b[i])
        ++i;
    if (n == m) {
        if (a.substr(i + 1) == b.substr(i + 1)) return true; // replace
        return i + 1 < n && a[i] == b[i + 1] && a[i + 1] == b[i] &&
               a.substr(i + 2) == b.substr(i + 2); // swap
    }
    if (n > m) return a.substr(i + 1) == b.substr(i);
    return a.substr(i) == b.substr(i + 1);
}

const OptionSpec* findOption(const std::vector<OptionSpec>& specs, std::string_view upper) {
    for (const auto& s : specs) {
        if (s.name == upper) return &s;
        for (const auto& a : s.aliases)
            if (a == upper) return &s;
    }
    return nullptr;
}

const ParsedOption* ParsedStatement::find(std::string_view path) const {
    for (const auto& o : options)
        if (o.path == path) return &o;
    return nullptr;
}

int ParsedStatement::count(std::string_view path) const {
    int n = 0;
    for (const auto& o : options)
        if (o.path == path) ++n;
    return n;
}

std::vector<const ParsedOption*> ParsedStatement::under(std::string_view prefix) const {
    std::vector<const ParsedOption*> out;
    for (const auto& o : options) {
        std::string_view p = o.path;
        if (p == prefix || (p.size() > prefix.size() && p.substr(0, prefix.size()) == prefix &&
                            p[prefix.size()] == '/'))
            out.push_back(&o);
    }
    std::sort(out.begin(), out.end(),
              [](const ParsedOption* a, const ParsedOption* b) { return a->seq < b->seq; });
    return out;
}

Parser::Parser(const Grammar& grammar, std::string_view text, int firstLine, int firstColumn,
               ParserHooks& hooks, std::string fileName)
    : g_(grammar), toks_(lex(text, firstLine, firstColumn)), hooks_(hooks),
      file_(std::move(fileName)) {
    addParserMessages();
}

const Token& Parser::peek(int ahead) const {
    std::size_t k = std::min(pos_ + static_cast<std::size_t>(ahead), toks_.size() - 1);
    return toks_[k];
}

Token Parser::next() {
    Token t = peek();
    if (pos_ + 1 < toks_.size()) ++pos_;
    return t;
}

bool Parser::atPunct(char c, int ahead) const {
    const Token& t = peek(ahead);
    if (c == ';') return t.kind == TokenKind::Semi;
    return t.kind == TokenKind::Punct && t.text[0] == c;
}

bool Parser::accept(char c) {
    if (!atPunct(c)) return false;
    next();
    return true;
}

void Parser::error(const Token& at, std::string_view text) {
    ++errors_;
    xpmlog(kGroupGrammar, grammarmsg::kSyntaxError,
           {file_, std::to_string(at.line), std::to_string(at.column), text});
}

bool Parser::expected(std::string_view what, std::string_view context) {
    const Token& t = peek();
    ++errors_;
    xpmlog(
        kGroupGrammar, grammarmsg::kUnexpectedToken,
        {file_, std::to_string(t.line), std::to_string(t.column), context, t.describe(), what, ""});
    return false;
}

std::string Parser::suggestion(std::string_view word, const std::vector<std::string>& known) const {
    std::string w = upperOf(word);
    if (w.size() < 3) return {}; // one edit away from a short name says little
    for (const auto& k : known)
        if (oneEditApart(w, upperOf(k))) return " Did you mean " + k + "?";
    return {};
}

int Parser::resolve(const Token& name, std::string_view context) {
    const Dataset* ds = hooks_.dataset();
    if (!ds) return 0;
    int v = ds->find(name.text);
    if (v > 0) return v;
    if (keepUnknown_) return kUnknownVar;
    std::vector<std::string> known;
    for (int i = 1; i <= ds->nvars(); ++i)
        known.push_back(ds->var(i).name);
    ++errors_;
    xpmlog(kGroupGrammar, grammarmsg::kUnknownVariable,
           {file_, std::to_string(name.line), std::to_string(name.column), name.text, context,
            ds->path(), suggestion(name.text, known)});
    return -1;
}

bool Parser::readListItem(std::vector<std::string>& names, std::vector<int>& vars,
                          std::string_view context, bool psLpsItems) {
    const Token& t = peek();
    if (t.kind != TokenKind::Name) return expected("a variable name", context);
    Token name = next();
    if (name.text.size() > static_cast<std::size_t>(kMaxNameLength)) {
        error(name, "the name " + name.text + " is longer than 32 characters.");
        return false;
    }
    const Dataset* ds = hooks_.dataset();
    if (name.upper == "_ALL_" || name.upper == "_NUMERIC_" || name.upper == "_CHARACTER_" ||
        name.upper == "_CHAR_") {
        if (!ds) {
            names.push_back(name.text);
            vars.push_back(0);
            return true;
        }
        for (int i = 1; i <= ds->nvars(); ++i) {
            VarType ty = ds->var(i).type;
            if (name.upper == "_NUMERIC_" && ty != VarType::Numeric) continue;
            if ((name.upper == "_CHARACTER_" || name.upper == "_CHAR_") && ty != VarType::Character)
                continue;
            names.push_back(ds->var(i).name);
            vars.push_back(i);
        }
        return true;
    }
    if (psLpsItems && isPsLps(name.upper)) {
        names.push_back(name.upper);
        vars.push_back(0);
        return true;
    }
    if (atPunct('-') && peek(1).kind == TokenKind::Name) {
        next();
        Token last = next();
        std::string p1, p2;
        long a = 0, b = 0;
        if (!splitNumbered(name.text, p1, a) || !splitNumbered(last.text, p2, b) ||
            upperOf(p1) != upperOf(p2) || b < a || b - a > 100000) {
            error(name, "the range " + name.text + "-" + last.text +
                            " must run from a numbered name up to one with the same prefix "
                            "(for example x1-x5).");
            return false;
        }
        for (long k = a; k <= b; ++k) {
            Token item = name;
            item.text = p1 + std::to_string(k);
            int v = resolve(item, context);
            if (v == -1) return false;
            names.push_back(ds && v > 0 ? ds->var(v).name : item.text);
            vars.push_back(v);
        }
        return true;
    }
    int v = resolve(name, context);
    if (v == -1) return false;
    names.push_back(ds && v > 0 ? ds->var(v).name : name.text);
    vars.push_back(v);
    return true;
}

bool Parser::varList(ParsedOption& opt, std::string_view context, bool psLpsItems) {
    if (accept('(')) {
        while (!atPunct(')')) {
            if (peek().kind != TokenKind::Name) return expected("a variable name or ')'", context);
            if (!readListItem(opt.names, opt.vars, context, psLpsItems)) return false;
        }
        next();
        return true;
    }
    return readListItem(opt.names, opt.vars, context, psLpsItems);
}

void Parser::skipStatement() {
    while (peek().kind != TokenKind::Semi && peek().kind != TokenKind::End)
        next();
    if (peek().kind == TokenKind::Semi) next();
}

std::vector<ParsedStatement> Parser::parse() {
    std::vector<ParsedStatement> out;
    bool first = true;
    for (;;) {
        while (peek().kind == TokenKind::Semi)
            next();
        const Token& t = peek();
        if (t.kind == TokenKind::End) break;
        if (t.kind != TokenKind::Name) {
            expected("a statement keyword", "PROC VELLOC");
            skipStatement();
            continue;
        }
        const StatementSpec* decl = nullptr;
        Token kw = next();
        if (kw.upper == "RUN" || kw.upper == "QUIT") break;
        if (kw.upper == "PROC") {
            if (!first) break; // the next step starts here
            Token name = next();
            if (name.upper != "VELLOC") {
                ++errors_;
                xpmlog(kGroupGrammar, grammarmsg::kUnknownProcedure,
                       {file_, std::to_string(name.line), std::to_string(name.column),
                        name.describe()});
                skipStatement();
                first = false;
                continue;
            }
            decl = &g_.statements.front();
        } else {
            for (const auto& s : g_.statements) {
                if (&s == &g_.statements.front()) continue;
                if (s.name == kw.upper ||
                    std::find(s.aliases.begin(), s.aliases.end(), kw.upper) != s.aliases.end())
                    decl = &s;
            }
            if (!decl) {
                std::vector<std::string> known;
                for (const auto& s : g_.statements)
                    known.push_back(s.name);
                ++errors_;
                xpmlog(kGroupGrammar, grammarmsg::kUnknownStatement,
                       {file_, std::to_string(kw.line), std::to_string(kw.column), kw.text,
                        suggestion(kw.text, known)});
                skipStatement();
                continue;
            }
        }
        first = false;
        ParsedStatement st;
        st.keyword = decl->name;
        st.line = kw.line;
        st.column = kw.column;
        int before = errors_;
        int check = hooks_.statementStart(*this, st);
        if (traceSyntax)
            Log::plain("SYN: statement " + st.keyword + " at line " + std::to_string(st.line) +
                       ", column " + std::to_string(st.column));
        bool ok = statement(st, *decl);
        if (!ok || errors_ > before) {
            skipStatement();
            continue;
        }
        next(); // the ';'
        if (traceSyntax)
            for (const auto& o : st.options) {
                std::string line = "SYN:   ";
                line += o.path;
                if (!o.value.empty()) line.append("=").append(o.value);
                if (o.hasNumber()) line.append(" ").append(fmt::format("{:.15g}", o.number));
                Log::plain(line);
            }
        if (check == 0) hooks_.statementEnd(*this, st);
        if (traceSemantic) {
            std::string vars;
            for (std::size_t i = 0; i < st.vars.size(); ++i)
                vars += " " + st.names[i] + "#" + std::to_string(st.vars[i]);
            for (const auto& o : st.options)
                for (std::size_t i = 0; i < o.vars.size(); ++i)
                    vars += " " + o.path + ":" + o.names[i] + "#" + std::to_string(o.vars[i]);
            Log::plain("SEM: " + st.keyword + " record, " + std::to_string(st.options.size()) +
                       " options, " + std::to_string(st.effects.size()) + " effects;" + vars);
        }
        out.push_back(std::move(st));
    }
    return out;
}

bool Parser::statement(ParsedStatement& st, const StatementSpec& decl) {
    std::string ctx = decl.name;
    switch (decl.positional) {
    case Positional::None:
        break;
    case Positional::Var: {
        if (peek().kind != TokenKind::Name) return expected("a variable name", ctx);
        if (!readListItem(st.names, st.vars, ctx, false)) return false;
        if (st.vars.size() > 1) {
            error(peek(), "the " + ctx + " statement takes one variable.");
            return false;
        }
        break;
    }
    case Positional::VarList:
    case Positional::ByList:
        if (peek().kind != TokenKind::Name) return expected("a variable name", ctx);
        while (peek().kind == TokenKind::Name) {
            bool desc = false;
            if (decl.positional == Positional::ByList && peek().upper == "DESCENDING") {
                next();
                desc = true;
                if (peek().kind != TokenKind::Name)
                    return expected("a variable name after DESCENDING", ctx);
            }
            std::size_t n = st.vars.size();
            if (!readListItem(st.names, st.vars, ctx, false)) return false;
            st.descending.resize(st.vars.size(), desc);
            (void)n;
        }
        break;
    case Positional::Special:
        if (!hooks_.parseSpecial(*this, st)) return false;
        break;
    }
    if (!options(st, decl.options, "", ctx, ';', &decl.after)) return false;
    if (accept('/')) {
        if (decl.after.empty()) {
            error(peek(), "the " + ctx + " statement has no options after '/'.");
            return false;
        }
        if (!options(st, decl.after, "", ctx, ';', nullptr)) return false;
    }
    if (!atPunct(';')) return expected("';'", ctx);
    return true;
}

bool Parser::options(ParsedStatement& st, const std::vector<OptionSpec>& specs,
                     const std::string& prefix, std::string_view context, char closer,
                     const std::vector<OptionSpec>* otherSide) {
    for (;;) {
        const Token& t = peek();
        if (atPunct(closer) || (closer == ';' && (atPunct('/') || t.kind == TokenKind::End)))
            return true;
        if (t.kind != TokenKind::Name) {
            if (specs.empty()) return expected(closer == ';' ? "';'" : "')'", context);
            return expected(std::string("an option (") + joinNames(specs) + ") or '" + closer + "'",
                            context);
        }
        const OptionSpec* decl = findOption(specs, t.upper);
        if (!decl) {
            if (otherSide && findOption(*otherSide, t.upper)) {
                error(t, t.upper + " belongs after the '/' in the " + std::string(context) +
                             " statement.");
                return false;
            }
            ++errors_;
            std::string where = prefix.empty() ? "the " + std::string(context) + " statement"
                                               : prefix.substr(0, prefix.size() - 1);
            std::string hint = suggestion(t.text, namesOf(specs));
            if (hint.empty() && !specs.empty()) hint = " Expected " + joinNames(specs) + ".";
            xpmlog(kGroupGrammar, grammarmsg::kUnknownOption,
                   {file_, std::to_string(t.line), std::to_string(t.column), t.text, where, hint});
            return false;
        }
        if (!option(st, *decl, prefix, context)) return false;
    }
}

bool Parser::option(ParsedStatement& st, const OptionSpec& decl, const std::string& prefix,
                    std::string_view context) {
    Token kw = next();
    std::size_t slot = st.options.size();
    st.options.emplace_back();
    {
        ParsedOption& o = st.options[slot];
        o.path = prefix + decl.name;
        o.written = kw.upper;
        o.line = kw.line;
        o.column = kw.column;
        o.seq = ++seq_;
    }
    std::string path = prefix + decl.name;
    bool pre = false;
    if (!decl.pre.empty() && atPunct('(')) {
        next();
        if (!options(st, decl.pre, path + "/", context, ')', nullptr)) return false;
        next();
        pre = true;
    }
    if (decl.kind == ValueKind::Flag) return true;
    if (!atPunct('=')) {
        if (decl.valueOptional && pre) return true;
        return expected("'=' after " + decl.name, context);
    }
    next();
    ParsedOption o = st.options[slot];
    bool ok = value(st, decl, o, path, context);
    st.options[slot] = std::move(o);
    if (ok && !decl.post.empty() && atPunct('(')) {
        next();
        if (!options(st, decl.post, path + "/", context, ')', nullptr)) return false;
        next();
    }
    return ok;
}

bool Parser::value(ParsedStatement& st, const OptionSpec& decl, ParsedOption& o,
                   const std::string& path, std::string_view context) {
    std::string what = "a value for " + decl.name;
    switch (decl.kind) {
    case ValueKind::Flag:
        return true;
    case ValueKind::NumberOrMissing:
        if (peek().kind == TokenKind::Missing) {
            next();
            o.missing = true;
            return true;
        }
        [[fallthrough]];
    case ValueKind::Number: {
        bool neg = accept('-');
        if (peek().kind != TokenKind::Number)
            return expected("a number after " + decl.name + "=", context);
        Token n = next();
        o.number = neg ? -n.number : n.number;
        o.value = (neg ? "-" : "") + n.text;
        return true;
    }
    case ValueKind::Name:
    case ValueKind::NameList: {
        if (peek().kind != TokenKind::Name)
            return expected("a variable name after " + decl.name + "=", context);
        do {
            Token n = next();
            if (n.text.size() > static_cast<std::size_t>(kMaxNameLength)) {
                error(n, "the name " + n.text + " is longer than 32 characters.");
                return false;
            }
            o.names.push_back(n.text);
        } while (decl.kind == ValueKind::NameList && peek().kind == TokenKind::Name &&
                 !atPunct('=', 1) && !atPunct('(', 1));
        o.value = o.names.front();
        return true;
    }
    case ValueKind::Var:
        if (peek().kind != TokenKind::Name)
            return expected("a variable name after " + decl.name + "=", context);
        if (!readListItem(o.names, o.vars, decl.name, false)) return false;
        if (o.vars.size() != 1) {
            error(peek(), decl.name + "= takes one variable.");
            return false;
        }
        o.value = o.names.front();
        return true;
    case ValueKind::VarList:
        if (peek().kind != TokenKind::Name && !atPunct('('))
            return expected("a variable or a list of variables in parentheses after " + decl.name +
                                "=",
                            context);
        {
            keepUnknown_ = decl.keepUnknown;
            bool ok = varList(o, decl.name, decl.psLpsItems);
            keepUnknown_ = false;
            return ok;
        }
    case ValueKind::DataSet: {
        const Token& t = peek();
        if (t.kind != TokenKind::String && t.kind != TokenKind::Name &&
            t.kind != TokenKind::Compound)
            return expected("a data set name or a quoted path after " + decl.name + "=", context);
        Token d = next();
        if (d.kind == TokenKind::String && d.text.empty()) {
            error(d, "the data set path after " + decl.name + "= is empty.");
            return false;
        }
        o.value = d.text;
        o.quoted = d.kind == TokenKind::String;
        return true;
    }
    case ValueKind::Text:
        if (peek().kind != TokenKind::String)
            return expected("a quoted text after " + decl.name + "=", context);
        o.value = next().text;
        o.quoted = true;
        return true;
    case ValueKind::TextList:
        if (accept('(')) {
            if (peek().kind != TokenKind::String)
                return expected("a quoted text in the list after " + decl.name + "=", context);
            while (peek().kind == TokenKind::String)
                o.names.push_back(next().text);
            if (!accept(')'))
                return expected("a quoted text or ')' in the list after " + decl.name + "=",
                                context);
        } else if (peek().kind == TokenKind::String) {
            o.names.push_back(next().text);
        } else {
            return expected(
                "a quoted text or a list of them in parentheses after " + decl.name + "=", context);
        }
        o.value = o.names.front();
        o.quoted = true;
        return true;
    case ValueKind::TextOrChoice:
        if (peek().kind == TokenKind::String) {
            o.value = next().text;
            o.quoted = true;
            return true;
        }
        return choice(st, decl, o, path, context);
    case ValueKind::Choice:
        return choice(st, decl, o, path, context);
    case ValueKind::ChoiceList:
        if (accept('(')) {
            if (atPunct(')')) return expected(what, context);
            while (!atPunct(')')) {
                ParsedOption item;
                if (!choice(st, decl, item, path, context)) return false;
                o.names.push_back(item.value);
            }
            next();
            o.value = o.names.front();
            return true;
        } else {
            ParsedOption item;
            if (!choice(st, decl, item, path, context)) return false;
            o.names.push_back(item.value);
            o.value = item.value;
            return true;
        }
    case ValueKind::NumberOrGroup:
        if (!atPunct('(')) {
            ParsedOption tmp;
            OptionSpec num = decl;
            num.kind = ValueKind::Number;
            if (!value(st, num, tmp, path, context)) return false;
            o.number = tmp.number;
            o.value = tmp.value;
            return true;
        }
        [[fallthrough]];
    case ValueKind::Group:
        if (!accept('(')) return expected("'(' after " + decl.name + "=", context);
        if (!options(st, decl.group, path + "/", context, ')', nullptr)) return false;
        next();
        return true;
    }
    return false;
}

bool Parser::choice(ParsedStatement& st, const OptionSpec& decl, ParsedOption& o,
                    const std::string& path, std::string_view context) {
    const Token& t = peek();
    if (t.kind != TokenKind::Name)
        return expected("one of " + joinNames(decl.choices) + " after " + decl.name + "=", context);
    const OptionSpec* c = findOption(decl.choices, t.upper);
    if (!c) {
        ++errors_;
        std::string hint = suggestion(t.text, namesOf(decl.choices));
        xpmlog(kGroupGrammar, grammarmsg::kUnknownValue,
               {file_, std::to_string(t.line), std::to_string(t.column), t.text, decl.name + "=",
                joinNames(decl.choices), hint});
        return false;
    }
    Token kw = next();
    o.value = c->name;
    std::string sub = path + "/" + c->name;
    // The choice itself is recorded so that its options have a parent.
    ParsedOption mark;
    mark.path = sub;
    mark.written = kw.upper;
    mark.value = c->name;
    mark.line = kw.line;
    mark.column = kw.column;
    mark.seq = ++seq_;
    st.options.push_back(mark);
    if (!c->pre.empty() && atPunct('(')) {
        next();
        if (!options(st, c->pre, sub + "/", context, ')', nullptr)) return false;
        next();
    }
    return true;
}

} // namespace velloc::host
