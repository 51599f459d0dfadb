#include "statements/statements.h"

#include <algorithm>

#include "base/messages.h"
#include "statements/lexer.h"

namespace velloc {

std::vector<StepSource> splitProgram(std::string_view program, const std::string& fileName,
                                     int* errors) {
    host::addParserMessages();
    std::vector<StepSource> steps;
    std::vector<host::Token> toks = host::lex(program);
    // Byte offset to line and column of the step's first character.
    auto cut = [&](std::size_t from, std::size_t to, const host::Token& at) {
        StepSource s;
        s.fileName = fileName;
        s.text = std::string(program.substr(from, to - from));
        s.firstLine = at.line;
        s.firstColumn = at.column;
        steps.push_back(std::move(s));
    };
    bool inStep = false;
    std::size_t stepStart = 0;
    host::Token stepTok;
    std::size_t i = 0;
    while (i < toks.size() && toks[i].kind != host::TokenKind::End) {
        const host::Token& t = toks[i];
        if (t.kind == host::TokenKind::Semi) {
            ++i;
            continue;
        }
        // Find the end of this statement.
        std::size_t j = i;
        while (toks[j].kind != host::TokenKind::Semi && toks[j].kind != host::TokenKind::End)
            ++j;
        std::size_t end =
            toks[j].kind == host::TokenKind::Semi ? toks[j].offset + 1 : program.size();
        if (t.kind == host::TokenKind::Name && t.upper == "PROC") {
            if (inStep) cut(stepStart, t.offset, stepTok);
            inStep = true;
            stepStart = t.offset;
            stepTok = t;
        } else if (t.kind == host::TokenKind::Name && (t.upper == "RUN" || t.upper == "QUIT")) {
            if (inStep) {
                cut(stepStart, end, stepTok);
                inStep = false;
            }
        } else if (!inStep) {
            std::string shown(program.substr(t.offset, std::min<std::size_t>(end - t.offset, 40)));
            std::replace(shown.begin(), shown.end(), '\n', ' ');
            host::xpmlog(host::kGroupGrammar, host::grammarmsg::kOutsideStep,
                         {fileName, std::to_string(t.line), std::to_string(t.column), shown});
            if (errors) ++*errors;
        }
        i = toks[j].kind == host::TokenKind::Semi ? j + 1 : j;
    }
    if (inStep) cut(stepStart, program.size(), stepTok);
    return steps;
}

namespace {

// Union of two variable lists, keeping first occurrences in order.
void unite(std::vector<int>& into, const std::vector<int>& from) {
    for (int v : from)
        if (std::find(into.begin(), into.end(), v) == into.end()) into.push_back(v);
}

// A crossing is the product of its factors, so a repeated variable stays: x*x is x squared.
// (A repeated CLASS variable collapses later, once the CLASS list is known.)
Effect cross(const Effect& a, const Effect& b) {
    Effect e = a;
    e.vars.insert(e.vars.end(), b.vars.begin(), b.vars.end());
    unite(e.nested, b.nested);
    return e;
}

void addUnique(std::vector<Effect>& list, const Effect& e) {
    if (std::find(list.begin(), list.end(), e) == list.end()) list.push_back(e);
}

// factor := name <( names )>; term := factor <* factor ...>
bool parseTerm(host::Parser& p, Effect& term, std::vector<std::string>& names) {
    for (;;) {
        std::vector<std::string> n;
        std::vector<int> v;
        if (p.peek().kind != host::TokenKind::Name)
            return p.expected("a variable name in the model effects", "PSMODEL");
        host::Token name = p.next();
        int num = p.resolve(name, "PSMODEL");
        if (num < 0) return false;
        Effect f;
        f.vars = {num};
        names.push_back(name.text);
        if (p.accept('(')) {
            // Nesting: the variables the factor is nested within.
            while (!p.atPunct(')')) {
                if (p.peek().kind != host::TokenKind::Name)
                    return p.expected("a variable name or ')' in a nested effect", "PSMODEL");
                host::Token inner = p.next();
                int iv = p.resolve(inner, "PSMODEL");
                if (iv < 0) return false;
                unite(f.nested, {iv});
                names.back() += (f.nested.size() == 1 ? "(" : " ") + inner.text;
            }
            p.next();
            if (f.nested.empty()) {
                p.error(p.peek(), "a nested effect needs at least one variable inside '( )'.");
                return false;
            }
            names.back() += ")";
        }
        term = cross(term, f);
        if (!p.accept('*')) return true;
        names.push_back("*");
    }
}

} // namespace

std::string describeEffect(const Effect& e, const host::Dataset& ds) {
    auto name = [&](int v) { return v > 0 && v <= ds.nvars() ? ds.var(v).name : std::string("?"); };
    std::string s;
    for (std::size_t i = 0; i < e.vars.size(); ++i) {
        if (i) s.push_back('*');
        s.append(name(e.vars[i]));
    }
    for (std::size_t i = 0; i < e.nested.size(); ++i) {
        s.push_back(i ? ' ' : '(');
        s.append(name(e.nested[i]));
    }
    if (!e.nested.empty()) s.push_back(')');
    return s;
}

std::vector<Effect> expandBar(const std::vector<Effect>& terms, int maxOrder) {
    std::vector<Effect> all;
    for (const Effect& t : terms) {
        std::vector<Effect> fresh{t};
        for (const Effect& e : all)
            fresh.push_back(cross(e, t));
        for (const Effect& e : fresh)
            addUnique(all, e);
    }
    std::vector<Effect> out;
    for (const Effect& e : all)
        if (maxOrder <= 0 || static_cast<int>(e.vars.size()) <= maxOrder) out.push_back(e);
    return out;
}

bool parseModel(host::Parser& p, Statement& st) {
    if (p.peek().kind != host::TokenKind::Name)
        return p.expected("the treatment variable", "PSMODEL");
    if (!p.readListItem(st.names, st.vars, "PSMODEL", false)) return false;
    if (st.vars.size() != 1) {
        p.error(p.peek(), "PSMODEL takes one treatment variable before '='.");
        return false;
    }
    if (p.atPunct('(')) {
        p.next();
        host::OptionSpec treated;
        treated.name = "TREATED";
        treated.kind = host::ValueKind::TextOrChoice;
        host::OptionSpec first, last;
        first.name = "FIRST";
        last.name = "LAST";
        treated.choices = {first, last};
        if (p.peek().kind != host::TokenKind::Name || p.peek().upper != "TREATED")
            return p.expected("TREATED= inside the parentheses after the treatment variable",
                              "PSMODEL");
        host::Token kw = p.next();
        if (!p.accept('=')) return p.expected("'=' after TREATED", "PSMODEL");
        host::ParsedOption o;
        o.path = "TREATED";
        o.written = kw.upper;
        o.line = kw.line;
        o.column = kw.column;
        if (p.peek().kind == host::TokenKind::String) {
            o.value = p.next().text;
            o.quoted = true;
        } else if (p.peek().kind == host::TokenKind::Name &&
                   (p.peek().upper == "FIRST" || p.peek().upper == "LAST")) {
            o.value = p.next().upper;
        } else {
            return p.expected("a quoted level, FIRST or LAST after TREATED=", "PSMODEL");
        }
        st.options.push_back(o);
        if (!p.accept(')')) return p.expected("')'", "PSMODEL");
    }
    if (!p.accept('=')) return p.expected("'=' after the treatment variable", "PSMODEL");
    while (p.peek().kind == host::TokenKind::Name) {
        std::vector<Effect> terms;
        std::vector<std::string> written;
        for (;;) {
            Effect t;
            if (!parseTerm(p, t, written)) return false;
            terms.push_back(t);
            if (!p.accept('|')) break;
            written.push_back("|");
        }
        int limit = 0;
        if (p.accept('@')) {
            if (p.peek().kind != host::TokenKind::Number || !p.peek().integer ||
                p.peek().number < 1)
                return p.expected("a positive whole number after '@'", "PSMODEL");
            limit = static_cast<int>(std::min(p.next().number, 1000.0));
        }
        std::vector<Effect> expanded =
            terms.size() == 1 && limit == 0 ? terms : expandBar(terms, limit);
        for (const Effect& e : expanded) {
            if (std::find(st.effects.begin(), st.effects.end(), e) != st.effects.end()) continue;
            st.effects.push_back(e);
        }
    }
    if (!p.atPunct(';') && !p.atPunct('/'))
        return p.expected("a model effect, '/' or ';'", "PSMODEL");
    return true;
}

} // namespace velloc
