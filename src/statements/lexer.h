// The statement lexer: turns program text into tokens with line and column.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace velloc::host {

enum class TokenKind {
    Name,     // letters, digits, '_'; not starting with a digit; upper-cased in `upper`
    Compound, // two-level name "lib.member"
    String,   // quoted text; `text` holds it without quotes, doubled quotes undone
    Number,   // integer or decimal number, `number` holds its value
    Missing,  // a lone '.'
    Punct,    // one of ( ) * - / : = @ |
    Semi,     // ';'
    End,      // end of the text
    Bad       // a character that starts no token, or an unterminated string or comment
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;  // as written (strings: the unquoted value)
    std::string upper; // upper-cased text, for keyword comparison
    double number = 0.0;
    bool integer = false;
    int line = 1;
    int column = 1;
    std::size_t offset = 0;       // of the first character in the lexed text
    std::string describe() const; // for messages: "name FOO", "';'", "end of the step"
};

inline constexpr int kMaxNameLength = 32;

// Tokenizes text. Comments (/* */ and statements starting with '*') are skipped. Line and
// column count from firstLine/firstColumn. The vector always ends with an End token.
std::vector<Token> lex(std::string_view text, int firstLine = 1, int firstColumn = 1);

} // namespace velloc::host
