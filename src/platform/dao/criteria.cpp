// Parsing a criterion (once per shape, its literals filled in afterwards) and matching a record against it.
#include "platform/dao/criteria.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/dao/jet_sql.h"
#include "platform/error.h"

namespace platform::dao {
namespace {

using jet::Token;
using jet::TokenKind;

// Markers of jet::Shape standing for a text and a number literal.
bool IsLiteralMark(const Token &t) {
    return t.kind == TokenKind::Punct && t.value.size() == 1 &&
           (t.value[0] == jet::kTextMark || t.value[0] == jet::kNumberMark);
}

Variant NumberValue(const std::string &s, bool negative) {
    if (s.find_first_of(".eE") == std::string::npos && s.size() < 19) {
        std::int64_t v = std::stoll(s);
        return negative ? -v : v;
    }
    double d = std::stod(s);
    return negative ? -d : d;
}

class Parser {
public:
    // `parsed` is the text or its shape; `text` names the criterion in an error.
    Parser(std::string_view parsed, std::string_view text) : text_(text), toks_(jet::Tokenize(parsed)) {}

    Criterion Whole() {
        Criterion c = Or();
        if (i_ != toks_.size()) Fail();
        return c;
    }

private:
    [[noreturn]] void Fail() const { Raise(3075, ErrorDescription(3075, std::string(text_))); }
    const Token *Peek() const { return i_ < toks_.size() ? &toks_[i_] : nullptr; }
    bool TakeWord(std::string_view w) {
        const Token *t = Peek();
        if (t && t->kind == TokenKind::Word && Lower(t->value) == w) return ++i_, true;
        return false;
    }
    bool TakePunct(std::string_view p) {
        const Token *t = Peek();
        if (t && t->kind == TokenKind::Punct && t->value == p) return ++i_, true;
        return false;
    }

    Criterion Join(Criterion::Op op, Criterion (Parser::*next)(), std::string_view word) {
        Criterion first = (this->*next)();
        if (!TakeWord(word)) return first;
        Criterion all;
        all.op = op;
        all.parts.push_back(std::move(first));
        do all.parts.push_back((this->*next)());
        while (TakeWord(word));
        return all;
    }
    Criterion Or() { return Join(Criterion::Op::Or, &Parser::And, "or"); }
    Criterion And() { return Join(Criterion::Op::And, &Parser::Unary, "and"); }

    Criterion Unary() {
        if (TakeWord("not")) {
            Criterion c;
            c.op = Criterion::Op::Not;
            c.parts.push_back(Unary());
            return c;
        }
        if (TakePunct("(")) {
            Criterion c = Or();
            if (!TakePunct(")")) Fail();
            return c;
        }
        return Comparison();
    }

    Criterion Comparison() {
        const Token *name = Peek();
        if (!name || (name->kind != TokenKind::Word && name->kind != TokenKind::Name)) Fail();
        ++i_;
        Criterion c;
        c.field = name->value;
        if (TakeWord("is")) {
            c.op = TakeWord("not") ? Criterion::Op::NotNull : Criterion::Op::IsNull;
            if (!TakeWord("null")) Fail();
            return c;
        }
        const Token *op = Peek();
        static const std::string ops[] = {"=", "<>", "!=", "<", ">", "<=", ">="};
        if (!op || op->kind != TokenKind::Punct || std::find(std::begin(ops), std::end(ops), op->value) == std::end(ops))
            Fail();
        ++i_;
        c.comparison = op->value == "!=" ? "<>" : op->value;
        Literal(c);
        return c;
    }

    void Literal(Criterion &c) {
        const bool negative = TakePunct("-");
        const Token *t = Peek();
        if (t && IsLiteralMark(*t)) {
            ++i_;
            if (negative && t->value[0] != jet::kNumberMark) Fail();
            c.slot = slots_++;
            c.negated = negative;
            return;
        }
        c.value = Value(negative);
    }

    Variant Value(bool negative) {
        const Token *t = Peek();
        if (!t) Fail();
        ++i_;
        if (t->kind == TokenKind::Number) return NumberValue(t->value, negative);
        if (negative) Fail();
        if (t->kind == TokenKind::Text) return t->date ? Variant(*ParseStorageText(t->value)) : Variant(t->value);
        if (t->kind == TokenKind::Word) {
            const std::string w = Lower(t->value);
            if (w == "null") return {};
            if (w == "true") return -1;
            if (w == "false") return 0;
        }
        Fail();
    }

    std::string_view text_;
    std::vector<Token> toks_;
    size_t i_ = 0;
    int slots_ = 0;
};

// Numbers compare by value, texts exactly as stored (as the SQL comparisons do), dates by instant;
// other pairs are unequal.
std::optional<int> Compare(const Variant &a, const Variant &b) {
    using K = Variant::Kind;
    auto numeric = [](K k) { return k == K::Long || k == K::Double; };
    if (numeric(a.kind()) && numeric(b.kind())) {
        if (a.kind() == K::Long && b.kind() == K::Long) return (a.ToLong() > b.ToLong()) - (a.ToLong() < b.ToLong());
        double x = a.ToDouble(), y = b.ToDouble();
        return (x > y) - (x < y);
    }
    if (a.kind() == K::Date || b.kind() == K::Date) {
        if (a.kind() == K::Null || b.kind() == K::Null || numeric(a.kind()) || numeric(b.kind())) return std::nullopt;
        try {
            DateTime x = a.ToDate(), y = b.ToDate();
            return (x > y) - (x < y);
        } catch (const Error &) {
            return std::nullopt;
        }
    }
    if (a.kind() == K::Text && b.kind() == K::Text) {
        const int c = a.ToText().compare(b.ToText());
        return (c > 0) - (c < 0);
    }
    return std::nullopt;
}

}  // namespace

Criterion Criterion::Parse(std::string_view text) { return Parser(text, text).Whole(); }

Criterion Criterion::ParseShape(std::string_view shape, std::string_view text) { return Parser(shape, text).Whole(); }

void Criterion::Fill(const std::vector<jet::Token> &literals) {
    if (slot >= 0) {
        const Token &t = literals.at(static_cast<size_t>(slot));
        value = t.kind == TokenKind::Number ? NumberValue(t.value, negated) : Variant(t.value);
    }
    for (Criterion &part : parts) part.Fill(literals);
}

bool Criterion::Matches(const std::function<Variant(const std::string &)> &valueOf) const {
    switch (op) {
    case Op::And:
        return std::all_of(parts.begin(), parts.end(), [&](auto &p) { return p.Matches(valueOf); });
    case Op::Or:
        return std::any_of(parts.begin(), parts.end(), [&](auto &p) { return p.Matches(valueOf); });
    case Op::Not: return !parts[0].Matches(valueOf);
    case Op::IsNull: return valueOf(field).IsNull();
    case Op::NotNull: return !valueOf(field).IsNull();
    case Op::Compare: break;
    }
    auto r = Compare(valueOf(field), value);
    if (!r) return false;
    if (comparison == "=") return *r == 0;
    if (comparison == "<>") return *r != 0;
    if (comparison == "<") return *r < 0;
    if (comparison == ">") return *r > 0;
    if (comparison == "<=") return *r <= 0;
    return *r >= 0;
}

std::optional<std::string> MatchKey(const Variant &v) {
    switch (v.kind()) {
    case Variant::Kind::Null: return std::nullopt;
    case Variant::Kind::Long: return "n" + std::to_string(v.ToLong());
    case Variant::Kind::Double: {
        double d = v.ToDouble();
        if (std::nearbyint(d) == d && std::fabs(d) < 9e18) return "n" + std::to_string(static_cast<std::int64_t>(d));
        char buf[40];
        std::snprintf(buf, sizeof buf, "n%.17g", d);
        return std::string(buf);
    }
    case Variant::Kind::Text: return "t" + v.ToText();
    case Variant::Kind::Date: return "d" + StorageText(v.ToDate());
    }
    return std::nullopt;
}

}  // namespace platform::dao
