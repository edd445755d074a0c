#pragma once

#include "db/Database.h"
#include "db/Statement.h"

#include <QHash>
#include <QVariant>

namespace mirsalex {

// A read-only, forward-only walk over the rows of a SELECT. The rows are read
// from the file as the walk goes, and a field is converted only when it is
// asked for; a snapshot must not walk a table that the same connection
// changes during the walk.
class Snapshot : public RecordsetBase
{
public:
    explicit Snapshot(Database& db);
    ~Snapshot() override;

    // Runs the SELECT and stands on its first row (eof() when none).
    DbError open(const QString& select);
    bool isOpen() const { return m_open; }
    void close() override;

    // The number of rows reached so far: 1 or more on a non-empty result
    // right after opening, 0 on an empty one.
    int recordCount() const { return m_count; }
    bool eof() const { return m_eof; }
    DbError moveNext();

    // Field access on the current row.
    int fieldIndex(const QString& field) const;
    QVariant value(const QString& field, DbError* error = nullptr) const;
    QVariant value(int index) const;

    // Field `index` of the current row as the engine stores it, read
    // without converting it: its kind and its number or its bytes (UTF-8
    // for a text), valid until the walk moves. Null off a row or for an
    // unknown field.
    enum class Stored
    {
        Null,
        Integer,
        Real,
        Text,
        Bytes
    };
    struct Field
    {
        Stored kind = Stored::Null;
        qint64 whole = 0;
        double real = 0;
        QByteArrayView bytes;
        // The value as value() gives it.
        QVariant toVariant() const;
    };
    Field field(int index) const;

    // Changes whenever the walk moves, is opened again or closed: a value
    // taken from the current row is valid while this stays the same.
    quint64 position() const { return m_position; }

private:
    DbError fetch();

    Statement m_stmt;
    bool m_open = false;
    bool m_eof = true;
    int m_count = 0;
    quint64 m_position = 0;
    QHash<QString, int> m_byName; // lower-case name -> column
};

} // namespace mirsalex
