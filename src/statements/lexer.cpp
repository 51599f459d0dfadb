#include "statements/lexer.h"

#include <cctype>
#include <charconv>
#include <cstdlib>

#include "base/text.h"

namespace velloc::host {

namespace {

bool nameStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool nameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}

class Lexer {
  public:
    Lexer(std::string_view text, int line, int column) : s_(text), line_(line), col_(column) {}

    std::vector<Token> run() {
        std::vector<Token> out;
        bool atStatementStart = true;
        for (;;) {
            // A comment left open runs to the end of the text: it is a token, so that the
            // parser names where it starts instead of missing everything after it.
            if (Token open; skipSpaceAndComments(open)) out.push_back(std::move(open));
            // A statement that starts with '*' is a comment up to the next ';'.
            if (atStatementStart && peek() == '*') {
                while (!eof() && peek() != ';')
                    advance();
                if (!eof()) advance();
                continue;
            }
            Token t = next();
            atStatementStart = t.kind == TokenKind::Semi;
            out.push_back(std::move(t));
            if (out.back().kind == TokenKind::End) break;
        }
        return out;
    }

  private:
    std::string_view s_;
    std::size_t i_ = 0;
    int line_;
    int col_;

    bool eof() const { return i_ >= s_.size(); }
    char peek(std::size_t ahead = 0) const {
        return i_ + ahead < s_.size() ? s_[i_ + ahead] : '\0';
    }
    void advance() {
        if (s_[i_] == '\n') {
            ++line_;
            col_ = 1;
        } else {
            ++col_;
        }
        ++i_;
    }

    // Skips blanks and comments; true, with the comment's start in open, when a comment has
    // no end.
    bool skipSpaceAndComments(Token& open) {
        for (;;) {
            while (!eof() && std::isspace(static_cast<unsigned char>(peek())))
                advance();
            if (peek() == '/' && peek(1) == '*') {
                Token at = start(TokenKind::Bad);
                advance();
                advance();
                while (!eof() && !(peek() == '*' && peek(1) == '/'))
                    advance();
                if (eof()) {
                    at.text = "/*";
                    at.upper = "unterminated comment";
                    open = std::move(at);
                    return true;
                }
                advance();
                advance();
                continue;
            }
            return false;
        }
    }

    Token start(TokenKind kind) {
        Token t;
        t.kind = kind;
        t.line = line_;
        t.column = col_;
        t.offset = i_;
        return t;
    }

    Token next() {
        if (eof()) return start(TokenKind::End);
        char c = peek();
        if (nameStart(c)) return name();
        if (digit(c) || (c == '.' && digit(peek(1)))) return number();
        if (c == '\'' || c == '"') return quoted();
        Token t = start(TokenKind::Punct);
        t.text = std::string(1, c);
        t.upper = t.text;
        advance();
        switch (c) {
        case ';':
            t.kind = TokenKind::Semi;
            break;
        case '.':
            t.kind = TokenKind::Missing;
            break;
        case '(':
        case ')':
        case '*':
        case '-':
        case '/':
        case ':':
        case '=':
        case '@':
        case '|':
            break;
        default:
            t.kind = TokenKind::Bad;
            break;
        }
        return t;
    }

    Token name() {
        Token t = start(TokenKind::Name);
        std::size_t b = i_;
        while (!eof() && nameChar(peek()))
            advance();
        if (peek() == '.' && nameStart(peek(1))) {
            t.kind = TokenKind::Compound;
            advance();
            while (!eof() && nameChar(peek()))
                advance();
        }
        t.text = std::string(s_.substr(b, i_ - b));
        t.upper = t.text;
        wzstrup(t.upper);
        return t;
    }

    Token number() {
        Token t = start(TokenKind::Number);
        std::size_t b = i_;
        bool integer = true;
        while (digit(peek()))
            advance();
        if (peek() == '.') {
            integer = false;
            advance();
            while (digit(peek()))
                advance();
        }
        if ((peek() == 'e' || peek() == 'E') &&
            (digit(peek(1)) || ((peek(1) == '+' || peek(1) == '-') && digit(peek(2))))) {
            integer = false;
            advance();
            if (peek() == '+' || peek() == '-') advance();
            while (digit(peek()))
                advance();
        }
        t.text = std::string(s_.substr(b, i_ - b));
        t.upper = t.text;
        t.integer = integer;
        t.number = std::strtod(t.text.c_str(), nullptr);
        // A number glued to letters (e.g. "3abc") is not a token of the language.
        if (nameChar(peek())) {
            while (nameChar(peek()))
                advance();
            t.text = std::string(s_.substr(b, i_ - b));
            t.kind = TokenKind::Bad;
        }
        return t;
    }

    Token quoted() {
        Token t = start(TokenKind::String);
        char q = peek();
        advance();
        for (;;) {
            if (eof()) {
                t.kind = TokenKind::Bad;
                t.upper = "unterminated";
                return t;
            }
            char c = peek();
            advance();
            if (c == q) {
                if (peek() == q) {
                    t.text += q;
                    advance();
                    continue;
                }
                break;
            }
            t.text += c;
        }
        t.upper = t.text;
        wzstrup(t.upper);
        return t;
    }
};

} // namespace

std::string Token::describe() const {
    switch (kind) {
    case TokenKind::Name:
    case TokenKind::Compound:
        return text;
    case TokenKind::String:
        return "the quoted text '" + text + "'";
    case TokenKind::Number:
        return "the number " + text;
    case TokenKind::Missing:
        return "the missing value '.'";
    case TokenKind::Punct:
        return "'" + text + "'";
    case TokenKind::Semi:
        return "';'";
    case TokenKind::End:
        return "the end of the step";
    case TokenKind::Bad:
        if (upper == "unterminated") return "an unterminated quoted text";
        if (upper == "unterminated comment") return "a comment '/*' that is never closed by '*/'";
        return "'" + text + "'";
    }
    return text;
}

std::vector<Token> lex(std::string_view text, int firstLine, int firstColumn) {
    return Lexer(text, firstLine, firstColumn).run();
}

} // namespace velloc::host
