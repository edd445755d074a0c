#pragma once

#include "db/Cell.h"
#include "db/DbError.h"

#include <QByteArray>
#include <QString>
#include <QStringEncoder>
#include <QVariant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace mirsalex {

// One statement compiled once on SQLite's own interface, for the paths that
// run it for every row of a large table: reset and bound again on each use,
// columns read one at a time and only when asked for.
//
// Values read as QVariant are whole numbers as 64-bit integers, reals as
// doubles, texts as QString, bytes as QByteArray, and a Null column as a null
// text (Cell::toVariant()); read as cells they come as the engine stores
// them. Every value is bound, never written into the statement's text.
//
// The statement belongs to the connection it was compiled on and must be
// finalized before that connection closes (its owner's close() does it).
class Statement
{
public:
    Statement() = default;
    ~Statement() { finalize(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Compiles `sql` on `db` (one statement). Returns the engine's result
    // code: 0 on success; error() then describes a failure.
    int prepare(sqlite3* db, const QString& sql);
    bool isPrepared() const { return m_stmt != nullptr; }
    // Releases the statement; harmless when there is none.
    void finalize();

    // The number of parameters of the statement.
    int parameterCount() const { return int(m_bound.size()); }
    // Binds parameter `index` (0-based). Returns the engine's result code.
    int bind(int index, const QVariant& value);
    // Binds a cell; its bytes are copied.
    int bind(int index, const Cell& value);
    // Binds every parameter, in order, from `values`: SQLITE_RANGE when
    // their number is not the statement's.
    int bindAll(const QVariantList& values);
    // Binds a cell's bytes where they lie (see the other bindInPlace).
    int bindInPlace(int index, const Cell& value);
    int bindInt64(int index, qint64 value);
    int bindDouble(int index, double value);
    // Binds a UTF-8 text or bytes; the bytes are copied.
    int bindText(int index, QByteArrayView utf8);
    int bindBlob(int index, QByteArrayView bytes);
    // Binds a UTF-8 text or bytes where they lie, without a copy: they must
    // stay unchanged until this statement has stepped, and the parameter be
    // bound again before any later step.
    int bindInPlace(int index, QByteArrayView bytes, bool blob);
    // One step: returns SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Back to the start, keeping the bindings; ends any read in progress.
    void reset();

    int columnCount() const;
    QString columnName(int index) const;
    // The value of column `index` of the current row.
    QVariant value(int index) const;
    qint64 int64(int index) const;
    // How column `index` of the current row is stored (SQLITE_INTEGER,
    // SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL), and the bytes
    // of a text or a blob as stored, valid until the statement moves. (Read
    // a blob as a blob: reading it as a text changes what the engine
    // reports as its kind.)
    int columnType(int index) const;
    QByteArrayView columnBytes(int index, bool blob) const;
    double columnDouble(int index) const;
    // Column `index` of the current row read at once: how it is stored (as
    // columnType() tells) and its number, or the bytes of a text (UTF-8) or
    // a blob, valid until the statement moves. SQLITE_NULL off a row.
    struct Column
    {
        int type = 5; // SQLITE_NULL
        qint64 whole = 0;
        double real = 0;
        QByteArrayView bytes;
    };
    Column column(int index) const;
    // The same as a cell borrowing the bytes, valid until the statement moves.
    Cell cell(int index) const;
    // The rows changed by the last statement of the connection that wrote.
    int changes() const;

    // The engine's last error on this statement's connection as an error of
    // this layer, `object` naming what was being worked on.
    Error error(const QString& object = QString()) const;

private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    int m_columns = 0;
    int bindBuffer(int index, bool blob);

    // Texts and bytes are bound from a buffer per parameter, kept (and its
    // room reused) until the parameter is bound again or the statement is
    // finalized.
    std::vector<QByteArray> m_bound;
    QStringEncoder m_utf8{QStringConverter::Utf8, QStringConverter::Flag::Stateless};
    QString m_ownError; // a refusal of this class's own (not the engine's)
};

} // namespace mirsalex
