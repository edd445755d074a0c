#pragma once

#include "db/Cell.h"
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
    Error open(const QString& select);
    // The same with values bound to the statement's parameters ("?"), in
    // order (see Statement::bind); they are never written into its text.
    // Fails with 3061 when their number is not the statement's.
    Error open(const QString& select, const QVariantList& params);
    bool isOpen() const { return m_open; }
    void close() override;

    // The number of rows reached so far: 1 or more on a non-empty result
    // right after opening, 0 on an empty one.
    int recordCount() const { return m_count; }
    bool eof() const { return m_eof; }
    Error moveNext();

    // Field access on the current row.
    int fieldIndex(const QString& field) const;
    QVariant value(const QString& field, Error* error = nullptr) const;
    QVariant value(int index) const;

    // Field `index` of the current row as the engine stores it, read
    // without converting it: its kind and its number or its bytes (UTF-8
    // for a text), valid until the walk moves. Null off a row or for an
    // unknown field.
    // (The engine layer's one value type, under the names it has here.)
    using Stored = CellKind;
    using Field = Cell;
    Field field(int index) const;

    // Changes whenever the walk moves, is opened again or closed: a value
    // taken from the current row is valid while this stays the same.
    quint64 position() const { return m_position; }

private:
    Error fetch();

    Statement m_stmt;
    bool m_open = false;
    bool m_eof = true;
    int m_count = 0;
    quint64 m_position = 0;
    QHash<QString, int> m_byName; // lower-case name -> column
};

} // namespace mirsalex
