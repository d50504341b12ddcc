// Splitting Jet SQL into tokens.
#include <cctype>

#include "platform/clock.h"
#include "platform/dao/jet_sql.h"
#include "platform/error.h"

namespace platform::dao::jet {
namespace {

// Character classes by their ASCII codes, whatever the process's locale (and without its cost: every
// insert of a long copy passes through here).
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordChar(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// The value between `quote` characters, an inner `quote` doubled.
std::string Quoted(std::string_view value, char quote) {
    std::string out(1, quote);
    for (char c : value) {
        if (c == quote) out += quote;
        out += c;
    }
    return out + quote;
}

std::string TextLiteral(std::string_view value) { return Quoted(value, '\''); }

[[noreturn]] void Syntax(std::string_view sql) { Raise(3075, ErrorDescription(3075, std::string(sql))); }

// Reads a literal closed by `close`; a doubled `close` inside stands for one. Returns the end index.
size_t ReadQuoted(std::string_view sql, size_t start, char close, bool doubling, std::string &value) {
    for (size_t j = start; j < sql.size(); ++j) {
        if (sql[j] != close) {
            value += sql[j];
        } else if (doubling && j + 1 < sql.size() && sql[j + 1] == close) {
            value += close;
            ++j;
        } else {
            return j + 1;
        }
    }
    Syntax(sql);
}

size_t ReadNumber(std::string_view sql, size_t i) {
    while (i < sql.size() && (IsDigit(sql[i]) || sql[i] == '.')) ++i;
    if (i < sql.size() && (sql[i] == 'e' || sql[i] == 'E')) {
        size_t j = i + 1;
        if (j < sql.size() && (sql[j] == '+' || sql[j] == '-')) ++j;
        if (j < sql.size() && IsDigit(sql[j])) {
            i = j;
            while (i < sql.size() && IsDigit(sql[i])) ++i;
        }
    }
    return i;
}

}  // namespace

std::string QuoteName(std::string_view name) { return Quoted(name, '"'); }

std::vector<Token> Tokenize(std::string_view sql) {
    std::vector<Token> out;
    size_t i = 0;
    const size_t n = sql.size();
    while (true) {
        const size_t blanks = i;
        while (i < n && IsSpace(sql[i])) ++i;
        if (i >= n) break;
        Token t{TokenKind::Punct, {}, {}, std::string(sql.substr(blanks, i - blanks))};
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            t.kind = TokenKind::Text;
            i = ReadQuoted(sql, i + 1, c, true, t.value);
            t.text = TextLiteral(t.value);
        } else if (c == '[' || c == '`') {
            t.kind = TokenKind::Name;
            i = ReadQuoted(sql, i + 1, c == '[' ? ']' : '`', false, t.value);
            t.text = QuoteName(t.value);
        } else if (c == '#') {
            std::string inner;
            i = ReadQuoted(sql, i + 1, '#', false, inner);
            auto when = RecognizeDate(inner);
            if (!when) Syntax(sql);
            t.kind = TokenKind::Text;
            t.date = true;
            t.value = StorageText(*when);
            t.text = TextLiteral(t.value);
        } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(sql[i + 1]))) {
            const size_t end = ReadNumber(sql, i);
            t.kind = TokenKind::Number;
            t.text = t.value = std::string(sql.substr(i, end - i));
            i = end;
        } else if (IsWordChar(c)) {
            const size_t start = i;
            while (i < n && IsWordChar(sql[i])) ++i;
            t.kind = TokenKind::Word;
            t.text = t.value = std::string(sql.substr(start, i - start));
        } else {
            static const char *const pairs[] = {"<=", ">=", "<>", "!=", "||", "=="};
            t.text = std::string(1, c);
            for (const char *p : pairs)
                if (i + 1 < n && sql[i] == p[0] && sql[i + 1] == p[1]) t.text = p;
            i += t.text.size();
            t.value = t.text;
            if (t.text == "&") t.text = "||";  // Jet's text concatenation
        }
        out.push_back(std::move(t));
    }
    return out;
}

}  // namespace platform::dao::jet

namespace platform::dao::jet {

bool Shape(std::string_view sql, std::string &shape, std::vector<Token> &literals) {
    shape.clear();
    shape.reserve(sql.size());
    // The tokens of the last call are reused, so their texts keep what they allocated.
    size_t used = 0;
    auto next = [&](TokenKind kind) -> Token & {
        if (used == literals.size()) literals.emplace_back();
        Token &t = literals[used++];
        t.kind = kind;
        t.text.clear();
        t.space.clear();
        t.date = false;
        return t;
    };
    const size_t n = sql.size();
    size_t i = 0;
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            size_t j = i + 1;
            for (;; ++j) {
                if (j >= n) return false;  // unterminated: the full lexer reports it
                if (sql[j] != c) continue;
                if (j + 1 < n && sql[j + 1] == c) {
                    ++j;
                    continue;
                }
                break;
            }
            const std::string_view inner = sql.substr(i + 1, j - i - 1);
            Token &t = next(TokenKind::Text);
            if (inner.find(c) == std::string_view::npos) {
                t.value.assign(inner);
            } else {
                t.value.clear();
                for (size_t k = 0; k < inner.size(); ++k) {
                    t.value += inner[k];
                    if (inner[k] == c) ++k;  // doubled
                }
            }
            shape += kTextMark;
            i = j + 1;
        } else if (c == '[' || c == '`') {
            const size_t close = sql.find(c == '[' ? ']' : '`', i + 1);
            if (close == std::string_view::npos) return false;
            shape.append(sql.substr(i, close + 1 - i));
            i = close + 1;
        } else if (c == '#' || c == kTextMark || c == kNumberMark) {
            return false;  // dates are read by the full lexer
        } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(sql[i + 1]))) {
            const size_t end = ReadNumber(sql, i);
            next(TokenKind::Number).value.assign(sql.substr(i, end - i));
            shape += kNumberMark;
            i = end;
        } else if (IsWordChar(c)) {
            const size_t start = i;
            while (i < n && IsWordChar(sql[i])) ++i;
            shape.append(sql.substr(start, i - start));
        } else {
            shape += c;
            ++i;
        }
    }
    literals.resize(used);
    return true;
}

}  // namespace platform::dao::jet
