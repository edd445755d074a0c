#pragma once

#include "db/Cell.h"
#include "db/Database.h"
#include "db/Snapshot.h"
#include "db/Statement.h"

#include <QHash>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <vector>

namespace mirsalex {

// A table opened for indexed search and writing: Seek "=" on an index, then
// read the current row, change it (Edit/Update) or add rows (AddNew/Update).
// Values set on a field are converted to the field's declared kind (text,
// whole or real number); a value that cannot be converted is refused with
// 3421 before anything is written.
class TableRecordset : public RecordsetBase
{
public:
    explicit TableRecordset(Database& db);
    ~TableRecordset() override;

    // Opens a table of the database (or an attached table by its local name).
    Error open(const QString& table);
    bool isOpen() const { return m_open; }
    void close() override;
    void releaseReads() override { stopForward(); }

    // Chooses the index used by seek(). "primaria" is the table's primary
    // key; any other name must be an index of the table.
    Error setIndex(const QString& name);

    // Looks up the row whose index fields equal `keys` (one value per index
    // field, in the index's order; fewer values match on the leading fields).
    // A pending new row or edit is discarded. Sets noMatch().
    Error seek(const QVariantList& keys);
    bool noMatch() const { return m_noMatch; }

    // Reading the current row (or the values set on a pending row).
    QVariant value(const QString& field, Error* error = nullptr) const;
    int fieldIndex(const QString& field) const;
    QVariant value(int index) const;
    // Field `index` of the current row as the engine stored it, when seek()
    // read it and nothing has been written to it since: its bytes lie in
    // this recordset and last until the next seek(), update() or close().
    // False (and `out` untouched) otherwise: value() then gives it.
    bool stored(int index, Snapshot::Field& out) const;

    // Writing.
    Error addNew();
    Error edit();
    Error setValue(const QString& field, const QVariant& value);
    Error setValue(int index, const QVariant& value);
    // Sets field `index` to a field of a snapshot's current row. A value
    // that already is of the field's kind is copied as the engine holds it,
    // with no conversion on the way; any other goes through
    // setValue(index, value.toVariant()). The same result, faster.
    Error setValue(int index, const Snapshot::Field& value);
    // Sets field `index` to `value`, a field of the current row of `row` as
    // row.field() gave it (or a value whose bytes lie in storage that lasts
    // at least as long). A value that already is of the field's kind is
    // bound by update() where it lies, with no copy and no conversion on
    // the way; any other goes through setValue(index, value.toVariant()).
    // The snapshot must outlive the pending row and stay on its row until
    // update(): once it has moved, update() refuses the row with 3021.
    Error setValue(int index, const Snapshot& row, const Snapshot::Field& value);
    Error update();
    void cancelUpdate();
    // Deletes the current row (the one the last seek found); a pending new
    // row or edit is discarded first. Afterwards no row is current until the
    // next seek. Fails with 3021 when there is no current row.
    Error remove();

    QStringList fieldNames() const;

    // Performance hint: seek() reads only these fields (and the index's);
    // any other field is read from the row when first asked for.
    Error setFetchFields(const QStringList& fields);

private:
    enum class Mode
    {
        None,
        AddNew,
        Edit
    };
    enum class Kind
    {
        Text,
        Integer,
        Real,
        Any
    };
    struct Column
    {
        QString name;
        Kind kind = Kind::Any;
        bool required = false; // NOT NULL
        bool hasDefault = false;
        bool declaredInteger = false; // declared exactly INTEGER
    };

    QVector<int> readColumns() const;
    Error convert(int index, const QVariant& in, QVariant& out) const;
    // Whether a value may be set on column `index` now (recordset open, in
    // AddNew or Edit, column known).
    Error assignable(int index) const;
    // Whether a value read from a snapshot can be written as it is stored,
    // without going through the conversion of setValue(QVariant).
    bool keepsAsStored(int index, const Snapshot::Field& value) const;
    // The statement of `sql`, compiled on first use and kept until close().
    Statement* statement(const QString& sql, Error& error) const;
    void forgetPlans();

    bool m_open = false;
    Database::TableLocation m_location;
    QString m_qualified; // "schema"."table"
    QVector<Column> m_columns;
    QHash<QString, int> m_byName;                    // lower-case name -> column
    QVector<int> m_primary;                          // columns of the primary key, in order
    QVector<int> m_index;                            // columns of the current index
    mutable QHash<QString, Statement*> m_statements; // compiled statements by text (owned)
    Statement* m_seekStmt[3] = {};                   // seek statements by number of keys
    Statement* m_foldSeekStmt[3] = {};               // the same, texts compared without regard to case
    // Seeks in ascending order on a whole-number primary key that is the
    // table's row number walk the table instead of searching it: one cursor
    // stays open on the first row at or after the last key sought. It serves
    // a seek only while nothing but this recordset's own writes behind the
    // cursor has changed the database since it last moved.
    bool m_rowidKey = false; // the primary key is the row number
    struct Forward
    {
        Statement* st = nullptr; // in m_statements; null: not running
        bool atEnd = false;
        qint64 rowKey = 0;  // key of the row the cursor stands on
        qint64 lastKey = 0; // the last key it served
        qint64 changes = 0; // the connection's count of changes it knows of
        quint64 epoch = 0;  // the database's epoch it started in
    };
    Forward m_forward;
    // Serves a seek of `key` with the forward cursor: true when it did (the
    // row, if any, is then in `st`, standing on it), false to search instead.
    bool seekForward(qint64 key, Statement*& st, int& rc);
    void stopForward();
    // Whether a seek of `keys` that found nothing must search again with
    // texts compared without regard to case.
    bool needsFoldedSeek(const QVariantList& keys) const;
    // After a write of this recordset: the cursor goes on only when the
    // write was the only change and lies behind it.
    void noteOwnWrite(qint64 changesBefore, bool behindCursor);
    QVector<int> m_read; // fields a seek reads, in its column order
    bool m_hasRow = false;
    bool m_noMatch = true;
    qint64 m_rowid = 0;
    mutable QVector<QVariant> m_row;
    mutable QVector<bool> m_fetched; // which fields of m_row are read
    // The fields seek() read, as stored; m_row holds one of them only once
    // value() has asked for it.
    // (Cells holding their bytes, their room reused from row to row.)
    using RawValue = Cell;
    std::vector<RawValue> m_raw;
    enum RawState : char
    {
        NoRaw,     // m_raw does not hold the field
        RawOnly,   // m_raw holds it, m_row does not yet
        RawAndRow, // both hold it
    };
    mutable std::vector<char> m_rawState;
    QVector<int> m_fetch;                   // fields read by seek (empty: all)
    QHash<QByteArray, Statement*> m_writes; // write statements by assigned fields
    QByteArray m_writeKey;                  // scratch key for m_writes
    QByteArray m_lastWriteKey;              // key of m_lastWrite
    Statement* m_lastWrite = nullptr;       // the last write statement used
    std::vector<int> m_writeCols;           // scratch: fields a write sets
    Mode m_mode = Mode::None;
    QVector<QVariant> m_pending;
    std::vector<char> m_assigned;
    // A pending value copied from a snapshot as stored (see setValue): a
    // cell holding its bytes, Null when not used.
    using StoredValue = Cell;
    std::vector<StoredValue> m_stored;
    // A pending value bound from a snapshot's current row (see setValue).
    struct RowSource
    {
        const Snapshot* row = nullptr; // null: not used
        Snapshot::Field value;         // its bytes lie in the snapshot
        quint64 position = 0;          // the snapshot's position when it was set
    };
    std::vector<RowSource> m_fromRow;
    bool m_anyFromRow = false;
};

} // namespace mirsalex
