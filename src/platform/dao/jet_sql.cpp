// Jet SQL statements rewritten for SQLite.
#include "platform/dao/jet_sql.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/error.h"

namespace platform::dao::jet {
namespace {

bool IsWord(const Token &t, std::string_view lower) { return t.kind == TokenKind::Word && Lower(t.value) == lower; }
bool IsPunct(const Token &t, std::string_view p) { return t.kind == TokenKind::Punct && t.value == p; }

std::string Join(const std::vector<Token> &toks, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to && i < toks.size(); ++i) out += toks[i].space + toks[i].text;
    return out;
}

// The storage type of a Jet column type, or "" to leave the word as written.
std::string StorageType(std::string_view jetType) {
    static const std::map<std::string, std::string> types = {
        {"long", "INTEGER"},      {"integer", "INTEGER"},  {"int", "INTEGER"},       {"short", "INTEGER"},
        {"smallint", "INTEGER"},  {"byte", "INTEGER"},     {"tinyint", "INTEGER"},   {"counter", "INTEGER"},
        {"autoincrement", "INTEGER"}, {"bit", "INTEGER"},  {"yesno", "INTEGER"},     {"logical", "INTEGER"},
        {"text", "TEXT"},         {"char", "TEXT"},        {"varchar", "TEXT"},      {"memo", "TEXT"},
        {"string", "TEXT"},       {"longtext", "TEXT"},    {"note", "TEXT"},         {"alphanumeric", "TEXT"},
        {"datetime", "DATETIME"}, {"date", "DATETIME"},    {"time", "DATETIME"},     {"timestamp", "DATETIME"},
        {"double", "REAL"},       {"float", "REAL"},       {"single", "REAL"},       {"real", "REAL"},
        {"currency", "REAL"},     {"money", "REAL"},       {"numeric", "REAL"},      {"decimal", "REAL"},
        {"binary", "BLOB"},       {"varbinary", "BLOB"},   {"longbinary", "BLOB"},   {"oleobject", "BLOB"},
    };
    auto it = types.find(Lower(jetType));
    return it == types.end() ? std::string() : it->second;
}

// create table t (name type, ...): column names quoted, Jet types mapped.
void TranslateCreate(std::vector<Token> &toks) {
    if (toks.size() < 3 || !IsWord(toks[1], "table")) return;
    static const std::set<std::string> constraints = {"constraint", "primary", "unique", "foreign", "check"};
    int depth = 0;
    bool expectName = false;
    bool expectType = false;
    for (auto &t : toks) {
        if (IsPunct(t, "(")) {
            ++depth;
            expectName = depth == 1;
            continue;
        }
        if (IsPunct(t, ")")) --depth;
        if (depth != 1) continue;
        if (IsPunct(t, ",")) {
            expectName = true;
            expectType = false;
        } else if (expectName) {
            expectName = false;
            if (t.kind == TokenKind::Word && constraints.count(Lower(t.value))) continue;
            if (t.kind == TokenKind::Word) t.text = QuoteName(t.value);
            expectType = true;
        } else if (expectType) {
            expectType = false;
            if (t.kind != TokenKind::Word) continue;
            std::string type = StorageType(t.value);
            if (!type.empty()) t.text = type;
        }
    }
}

// insert into t (a, b) values (...): names quoted, literals of the values lists made parameters.
void TranslateInsert(std::vector<Token> &toks, std::vector<Token> &params) {
    size_t i = 1;
    if (i < toks.size() && IsWord(toks[i], "into")) ++i;
    ++i;  // the table
    while (i + 1 < toks.size() && IsPunct(toks[i], ".")) i += 2;
    if (i < toks.size() && IsPunct(toks[i], "(")) {
        for (++i; i < toks.size() && !IsPunct(toks[i], ")"); ++i)
            if (toks[i].kind == TokenKind::Word) toks[i].text = QuoteName(toks[i].value);
        ++i;
    }
    if (i >= toks.size() || !IsWord(toks[i], "values")) return;
    int depth = 0;
    for (++i; i < toks.size(); ++i) {
        Token &t = toks[i];
        if (IsPunct(t, "(")) ++depth;
        if (IsPunct(t, ")")) --depth;
        if (depth > 0 && (t.kind == TokenKind::Text || t.kind == TokenKind::Number)) {
            params.push_back(t);
            t.text = "?";
        }
    }
}

// LIKE patterns use * and ?. Text comparisons stay exact, as stored: a correction restricted to one
// reading code must never reach the records of a code that differs only in letter case.
void JetTextRules(std::vector<Token> &toks) {
    for (size_t i = 1; i < toks.size(); ++i) {
        Token &t = toks[i];
        if (t.kind != TokenKind::Text || t.date || !IsWord(toks[i - 1], "like")) continue;
        t.text = "'";
        for (char c : t.value) t.text += c == '*' ? "%" : c == '?' ? "_" : c == '\'' ? "''" : std::string(1, c);
        t.text += "'";
    }
}

// A select of one table, without grouping, distinct or aggregates: its rows have rowids.
void AnalyseSelect(const std::vector<Token> &toks, Statement &st) {
    static const std::set<std::string> aggregates = {"count", "sum", "avg", "min", "max", "first", "last",
                                                     "group_concat", "total"};
    static const std::set<std::string> multi = {"join", "inner", "left", "right", "cross", "natural", "outer"};
    static const std::set<std::string> clauseEnd = {"where", "order", "limit"};
    static const std::set<std::string> refuse = {"group", "having", "union", "intersect", "except"};
    if (toks.size() < 4 || IsWord(toks[1], "distinct") || IsWord(toks[1], "distinctrow") || IsWord(toks[1], "top"))
        return;
    int depth = 0;
    size_t from = 0;
    size_t fromEnd = toks.size();
    for (size_t i = 1; i < toks.size(); ++i) {
        const Token &t = toks[i];
        if (IsPunct(t, "(")) ++depth;
        if (IsPunct(t, ")")) --depth;
        if (depth != 0) continue;
        const std::string w = t.kind == TokenKind::Word ? Lower(t.value) : std::string();
        if (!from) {
            if (w == "from") from = i;
            else if (aggregates.count(w) && i + 1 < toks.size() && IsPunct(toks[i + 1], "(")) return;
            continue;
        }
        if (refuse.count(w)) return;
        if (fromEnd != toks.size()) continue;
        if (multi.count(w) || IsPunct(t, ",")) return;
        if (clauseEnd.count(w)) fromEnd = i;
    }
    if (!from || from + 1 >= toks.size()) return;
    const Token &table = toks[from + 1];
    if (table.kind != TokenKind::Word && table.kind != TokenKind::Name) return;
    if (from + 2 < toks.size() && IsPunct(toks[from + 2], ".")) return;  // schema-qualified: left alone
    st.singleTable = true;
    st.table = table.value;
    st.withRowid = toks[0].space + "SELECT rowid," + Join(toks, 1, toks.size());
    st.fetchOne = "SELECT" + Join(toks, 1, fromEnd) + " WHERE rowid = ?1";
}

// The bare column names of a comma-separated list toks[from, to) (each optionally followed by
// ASC or DESC when `directions`), lower case; false when an item is anything else.
bool NameList(const std::vector<Token> &toks, size_t from, size_t to, bool directions, std::set<std::string> &names) {
    size_t i = from;
    while (i < to) {
        const Token &t = toks[i];
        if (t.kind != TokenKind::Word && t.kind != TokenKind::Name) return false;
        if (!names.insert(Lower(t.value)).second) return false;
        ++i;
        if (directions && i < to && (IsWord(toks[i], "asc") || IsWord(toks[i], "desc"))) ++i;
        if (i == to) break;
        if (!IsPunct(toks[i], ",") || ++i == to) return false;
    }
    return !names.empty();
}

// "select distinct a, b from ... order by b, a": SQLite would sort every row to find the distinct
// ones; the distinct rows are found first instead, and only they are sorted. That holds when both
// lists name the same plain columns, so the order of the rows is fully given either way. Returns the
// rewritten text, or "" to leave the statement as it is.
std::string DistinctBeforeOrder(const std::vector<Token> &toks) {
    static const std::set<std::string> refuse = {"group", "having", "union", "intersect", "except", "limit",
                                                 "offset", "top"};
    if (toks.size() < 7 || !IsWord(toks[1], "distinct")) return {};
    size_t from = 0, order = 0;
    int depth = 0;
    for (size_t i = 2; i < toks.size(); ++i) {
        if (IsPunct(toks[i], "(")) ++depth;
        if (IsPunct(toks[i], ")")) --depth;
        if (depth != 0 || toks[i].kind != TokenKind::Word) continue;
        const std::string w = Lower(toks[i].value);
        if (refuse.count(w) || (w == "from" && from) || (w == "order" && (order || !from))) return {};
        if (w == "from") from = i;
        if (w == "order") {
            if (i + 1 >= toks.size() || !IsWord(toks[i + 1], "by")) return {};
            order = i++;
        }
    }
    std::set<std::string> selected, ordered;
    if (!from || !order || !NameList(toks, 2, from, false, selected) ||
        !NameList(toks, order + 2, toks.size(), true, ordered) || selected != ordered)
        return {};
    return "SELECT * FROM (" + Join(toks, 0, order) + ") ORDER BY" + Join(toks, order + 2, toks.size());
}

}  // namespace

Statement Translate(std::string_view sql) {
    std::vector<Token> toks = Tokenize(sql);
    while (!toks.empty() && IsPunct(toks.back(), ";")) toks.pop_back();
    if (toks.empty() || toks[0].kind != TokenKind::Word) Raise(3075, ErrorDescription(3075, std::string(sql)));
    Statement st;
    st.verb = Lower(toks[0].value);
    if (st.verb == "create") TranslateCreate(toks);
    if (st.verb == "insert") TranslateInsert(toks, st.params);
    if (st.verb == "select" || st.verb == "update" || st.verb == "delete") JetTextRules(toks);
    if (st.verb == "select") AnalyseSelect(toks, st);
    if (st.verb == "select") st.sql = DistinctBeforeOrder(toks);
    if (st.sql.empty()) st.sql = Join(toks, 0, toks.size());
    return st;
}

std::shared_ptr<const Statement> TranslateShared(std::string_view sql, std::vector<Token> &params) {
    constexpr size_t kShapes = 64;
    thread_local std::unordered_map<std::string, std::shared_ptr<const Statement>> shapes;
    thread_local std::string shape;
    size_t b = 0;
    while (b < sql.size() && std::isspace(static_cast<unsigned char>(sql[b]))) ++b;
    const bool insert = sql.size() >= b + 6 && Lower(sql.substr(b, 6)) == "insert" &&
                        (sql.size() == b + 6 || !std::isalnum(static_cast<unsigned char>(sql[b + 6])));
    const bool shaped = insert && Shape(sql, shape, params);
    if (shaped) {
        auto it = shapes.find(shape);
        if (it != shapes.end()) return it->second;
    }
    auto st = std::make_shared<Statement>(Translate(sql));
    if (!shaped || st->params.size() != params.size()) {
        params = st->params;
        return st;
    }
    for (size_t i = 0; i < params.size(); ++i)
        if (params[i].kind != st->params[i].kind || params[i].value != st->params[i].value) {
            params = st->params;  // a literal outside the values lists: this text is its own
            return st;
        }
    if (shapes.size() >= kShapes) shapes.clear();
    shapes.emplace(shape, st);
    return st;
}

std::string SourceToSql(std::string_view source) {
    size_t b = 0;
    while (b < source.size() && std::isspace(static_cast<unsigned char>(source[b]))) ++b;
    size_t e = source.size();
    while (e > b && std::isspace(static_cast<unsigned char>(source[e - 1]))) --e;
    std::string_view s = source.substr(b, e - b);
    std::string head = Lower(s.substr(0, 7));
    if (head.rfind("select", 0) == 0 && (s.size() == 6 || !std::isalnum(static_cast<unsigned char>(s[6]))))
        return std::string(s);
    if (s.size() >= 2 && s.front() == '[' && s.back() == ']') s = s.substr(1, s.size() - 2);
    return "select * from [" + std::string(s) + "]";
}

}  // namespace platform::dao::jet
