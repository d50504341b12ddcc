#pragma once
// Private to platform_dao: Jet SQL as the tools write it, turned into SQLite SQL.
//
// [bracketed] names become "quoted" names, #m/d/yyyy# date literals become storage-text literals,
// Jet column types map onto the storage types, the column lists of inserts are quoted, and the
// literal values of an insert's VALUES list become parameters (so many inserts share one prepared
// statement). Text literals keep their own quoting.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::dao::jet {

enum class TokenKind { Word, Name, Text, Number, Punct };

struct Token {
    TokenKind kind;
    std::string text;   // as written into the SQLite statement
    std::string value;  // Text: the unquoted value; Name: the bare name; Word/Number/Punct: as read
    std::string space;  // the blanks before the token
    bool date = false;  // a Text made from a #date# literal
};

// Splits Jet SQL into tokens; raises 3075 for an unterminated literal or a #date# that is no date.
std::vector<Token> Tokenize(std::string_view sql);

// A name as an SQLite identifier: "name" with inner quotes doubled.
std::string QuoteName(std::string_view name);

struct Statement {
    std::string verb;             // the first word, lower case ("select", "insert", ...)
    std::string sql;              // the SQLite text
    std::vector<Token> params;    // values bound to the ? of `sql`, in order
    // A select from one table (a dynaset can edit its rows):
    bool singleTable = false;
    std::string table;            // the table's name
    std::string withRowid;        // the select with the row's rowid as its first column
    std::string fetchOne;         // the select list of one row, by rowid (?1)
};

Statement Translate(std::string_view sql);

// Markers standing for a blanked literal in a shape; a text holding them outside literals gets no shape.
inline constexpr char kTextMark = '\x01';
inline constexpr char kNumberMark = '\x02';

// The text with each text and number literal replaced by a marker (the "shape" of a statement),
// and those literals in order. False when the text has a #date#, an unterminated literal or a
// marker character: such texts have no shape.
bool Shape(std::string_view sql, std::string &shape, std::vector<Token> &literals);

// Translate for inserts run many times with different values: inserts of one shape whose literals
// all become parameters share one translation, and only their values are read again. `params`
// receives the values to bind (the statement's own `params` are those of the first text).
std::shared_ptr<const Statement> TranslateShared(std::string_view sql, std::vector<Token> &params);

// OpenRecordset's source: a select statement, or a table name (brackets optional).
std::string SourceToSql(std::string_view source);

}  // namespace platform::dao::jet
