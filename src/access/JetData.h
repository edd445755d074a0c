#pragma once

#include "db/Database.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex::access {

// The column types of a Jet file, numbered as the file (and libmdb) numbers them.
namespace JetType {
constexpr int Bool = 0x01;
constexpr int Byte = 0x02;
constexpr int Int = 0x03;
constexpr int LongInt = 0x04;
constexpr int Money = 0x05;
constexpr int Float = 0x06;
constexpr int Double = 0x07;
constexpr int DateTime = 0x08; // days since 30/12/1899, the time as the fraction
constexpr int Binary = 0x09;
constexpr int Text = 0x0a;
constexpr int Ole = 0x0b;
constexpr int Memo = 0x0c;
constexpr int RepId = 0x0f; // a GUID, read as its text
constexpr int Numeric = 0x10;
constexpr int Complex = 0x12;
} // namespace JetType

// One value read from a Jet file, as it is written to SQLite.
struct JetValue
{
    enum class Kind : quint8
    {
        Null,
        Integer,
        Real,
        Text,
        Blob
    };
    Kind kind = Kind::Null;
    qint64 whole = 0;
    double real = 0;
    QByteArray bytes; // a text in UTF-8, or a binary value

    static JetValue null() { return {}; }
    static JetValue integer(qint64 v) { return {Kind::Integer, v, 0, {}}; }
    static JetValue number(double v) { return {Kind::Real, 0, v, {}}; }
    static JetValue text(const QByteArray& utf8) { return {Kind::Text, 0, 0, utf8}; }
    static JetValue blob(const QByteArray& b) { return {Kind::Blob, 0, 0, b}; }
    bool operator==(const JetValue& o) const;
    // How the value is shown in a message: 5, 45321.5, 'AB', Null.
    QString display() const;
};
using JetRow = std::vector<JetValue>;

struct JetColumn
{
    QString name;
    int type = JetType::Text;
};

// One table as read from the Jet file: its columns and rows in the file's order.
struct JetTable
{
    QString name;
    std::vector<JetColumn> columns;
    std::vector<JetRow> rows;
};

// The SQLite type a Jet column type is written as in a table the schema does
// not know (and for a column the schema's table lacks): texts and memos TEXT;
// byte, integer, long, boolean INTEGER; money, float, double, numeric and
// dates REAL (dates as their day number); binary and OLE BLOB; a GUID TEXT.
QString sqliteTypeFor(int jetType);

// True for the Jet engine's own tables (MSys...), which are not converted.
bool isSystemTable(const QString& name);

// A table of the program's schema (any database section).
struct SchemaTable
{
    QString name;           // as the schema spells it
    QStringList statements; // CREATE TABLE, then the indexes named on it
    QStringList columns;    // in the schema's order
    std::vector<Database::ColumnKind> kinds;
    std::vector<bool> notNull;
    std::vector<std::vector<int>> keys; // the primary key first, then each unique index (column places)
};
// The schema's tables by lower-case name; empty with `error` set when the
// schema cannot be read.
QHash<QString, SchemaTable> schemaTables(QString* error = nullptr);

// Where each Jet column goes: the schema's column of that name (without
// regard to case) with its kind, or a column of its own added with the
// mapped type.
struct TargetColumn
{
    QString name;
    QString type; // the SQLite type of an added column; empty for a schema column
    Database::ColumnKind kind = Database::ColumnKind::Any;
    int schemaColumn = -1; // place in SchemaTable::columns, -1 when added
};
std::vector<TargetColumn> targetColumns(const JetTable& table, const SchemaTable* schema);

// A value made into the storage class the target column gives it, as the
// engine would by its type affinity (so that what is bound is what is
// stored): numbers of an INTEGER column whole when they are, texts of a
// number column numbers when they read as one, numbers of a TEXT column texts.
JetValue toColumnKind(const JetValue& value, Database::ColumnKind kind);

// The rows of `table` that break a key of the schema's table (a Null in a key
// or NOT NULL column, a key value an earlier row already has), one line each:
// "Clienti, riga 12: chiave duplicata (CliCodice = 5)", "Clienti, riga 13:
// Null in CliCodice". Rows are counted from 1 in the file's order. At most
// `cap` lines; `total` (when given) receives the number of rows found.
QStringList keyViolations(const JetTable& table, const SchemaTable& schema, int cap, int* total = nullptr);

// A checksum of a multiset of rows, independent of their order: each row's
// values are hashed (kind and exact bytes), and the sorted row hashes hashed
// again with the row count.
class RowChecksum
{
public:
    void addRow(const JetRow& row);
    QByteArray result() const;
    qint64 rows() const { return qint64(m_rows.size()); }

private:
    std::vector<QByteArray> m_rows;
};

} // namespace mirsalex::access
