// TableRecordset: adding, editing and removing rows.

#include "common/Helpers.h"
#include "db/TableRecordset.h"

#include <QLocale>
#include <sqlite3.h>

namespace mirsalex {

Error TableRecordset::addNew()
{
    if (!m_open)
        return dbError(DbErr::ObjectClosed);
    cancelUpdate();
    m_mode = Mode::AddNew;
    return {};
}

Error TableRecordset::edit()
{
    if (!m_open)
        return dbError(DbErr::ObjectClosed);
    if (!m_hasRow)
        return dbError(DbErr::NoCurrentRecord);
    cancelUpdate();
    m_mode = Mode::Edit;
    return {};
}

void TableRecordset::cancelUpdate()
{
    m_mode = Mode::None;
    std::fill(m_assigned.begin(), m_assigned.end(), 0);
    for (StoredValue& v : m_stored)
        v.clear(); // the room of its bytes stays for the next row
    if (m_anyFromRow) {
        for (RowSource& r : m_fromRow)
            r.row = nullptr;
        m_anyFromRow = false;
    }
}

Error TableRecordset::convert(int index, const QVariant& in, QVariant& out) const
{
    if (in.isNull()) {
        out = QVariant();
        return {};
    }
    switch (m_columns[index].kind) {
    case Kind::Any:
        out = in;
        return {};
    case Kind::Text:
        if (in.typeId() == QMetaType::QString)
            out = in;
        else if (in.typeId() == QMetaType::Double)
            out = QString::number(in.toDouble(), 'g', 15);
        else if (IsNumberValue(in) || in.typeId() == QMetaType::QByteArray || in.typeId() == QMetaType::QChar)
            out = in.toString();
        else if (in.typeId() == QMetaType::Bool)
            out = in.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
        else
            return dbError(DbErr::ConversionError);
        return {};
    case Kind::Integer:
    case Kind::Real:
        if (IsNumberValue(in)) {
            out = in;
            return {};
        }
        if (in.typeId() == QMetaType::Bool) {
            out = in.toBool() ? -1 : 0;
            return {};
        }
        if (in.typeId() == QMetaType::QString) {
            const QString t = in.toString().trimmed();
            bool ok = false;
            const qlonglong whole = t.toLongLong(&ok);
            if (ok) {
                out = whole;
                return {};
            }
            double real = t.toDouble(&ok);
            if (!ok)
                real = QLocale::system().toDouble(t, &ok);
            if (ok) {
                out = real;
                return {};
            }
        }
        return dbError(DbErr::ConversionError);
    }
    return dbError(DbErr::ConversionError);
}

Error TableRecordset::assignable(int index) const
{
    if (!m_open)
        return dbError(DbErr::ObjectClosed);
    if (m_mode == Mode::None)
        return dbError(DbErr::UpdateWithoutEdit);
    if (index < 0 || index >= m_columns.size())
        return dbError(DbErr::ItemNotFound);
    return {};
}

bool TableRecordset::keepsAsStored(int index, const Snapshot::Field& value) const
{
    const Snapshot::Stored stored = value.kind;
    // Null, and empty bytes (which read as a null value), go the converting
    // way, which stores them as Null.
    if (stored == Snapshot::Stored::Null || (stored == Snapshot::Stored::Bytes && value.bytes.isEmpty()))
        return false;
    switch (m_columns[index].kind) {
    case Kind::Any:
        return true;
    case Kind::Text:
        return stored == Snapshot::Stored::Text;
    case Kind::Integer:
    case Kind::Real:
        return stored == Snapshot::Stored::Integer || stored == Snapshot::Stored::Real;
    }
    return false;
}

Error TableRecordset::setValue(int index, const QVariant& value)
{
    if (Error e = assignable(index))
        return e;
    QVariant converted;
    if (Error e = convert(index, value, converted))
        return e;
    m_pending[index] = converted;
    m_stored[size_t(index)].clear();
    m_fromRow[size_t(index)].row = nullptr;
    m_assigned[size_t(index)] = 1;
    return {};
}

Error TableRecordset::setValue(int index, const Snapshot::Field& value)
{
    if (Error e = assignable(index))
        return e;
    if (!keepsAsStored(index, value))
        return setValue(index, value.toVariant());
    m_stored[size_t(index)].take(value);
    m_pending[index] = QVariant();
    m_fromRow[size_t(index)].row = nullptr;
    m_assigned[size_t(index)] = 1;
    return {};
}

Error TableRecordset::setValue(int index, const Snapshot& row, const Snapshot::Field& value)
{
    if (Error e = assignable(index))
        return e;
    if (!keepsAsStored(index, value))
        return setValue(index, value.toVariant());
    RowSource& source = m_fromRow[size_t(index)];
    source.row = &row;
    source.value = value;
    source.position = row.position();
    m_anyFromRow = true;
    m_stored[size_t(index)].clear();
    if (std::as_const(m_pending)[index].isValid())
        m_pending[index] = QVariant();
    m_assigned[size_t(index)] = 1;
    return {};
}

Error TableRecordset::setValue(const QString& field, const QVariant& value)
{
    return setValue(fieldIndex(field), value);
}

Error TableRecordset::remove()
{
    if (!m_open || !m_db)
        return dbError(DbErr::ObjectClosed);
    cancelUpdate();
    if (!m_hasRow)
        return dbError(DbErr::NoCurrentRecord);
    if (Error e = m_db->prepareWrite())
        return e;
    if (Error e = m_db->aboutToChange())
        return e;
    Error error;
    Statement* st =
        statement(QStringLiteral("DELETE FROM ") + m_qualified + QStringLiteral(" WHERE rowid = ?"), error);
    if (!st)
        return error;
    int rc = st->bindInt64(0, m_rowid);
    const qint64 changesBefore = sqlite3_total_changes64(m_db->handle());
    if (rc == SQLITE_OK)
        rc = st->step();
    if (rc != SQLITE_DONE)
        error = m_db->noteFailure(st->error(m_location.table));
    st->reset();
    if (error)
        return error;
    noteOwnWrite(changesBefore, m_rowid <= m_forward.lastKey);
    // The row is gone: nothing is current until the next seek.
    m_hasRow = false;
    m_fetched.fill(false);
    std::fill(m_rawState.begin(), m_rawState.end(), NoRaw);
    return {};
}

Error TableRecordset::update()
{
    if (!m_open || !m_db)
        return dbError(DbErr::ObjectClosed);
    if (m_mode == Mode::None)
        return dbError(DbErr::UpdateWithoutEdit);
    if (Error e = m_db->prepareWrite())
        return e;
    if (Error e = m_db->aboutToChange())
        return e;

    // A required field must hold a value (the engine would otherwise number
    // a missing whole-number key by itself).
    std::vector<int>& cols = m_writeCols;
    cols.clear();
    const QVector<Column>& columns = m_columns;
    for (int i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        if (m_assigned[size_t(i)]) {
            if (c.required && m_stored[size_t(i)].kind == CellKind::Null && !m_fromRow[size_t(i)].row &&
                std::as_const(m_pending)[i].isNull())
                return dbError(DbErr::NullInRequiredField, c.name);
            cols.push_back(i);
        } else if (m_mode == Mode::AddNew && c.required && !c.hasDefault) {
            return dbError(DbErr::NullInRequiredField, c.name);
        }
    }
    if (m_mode == Mode::Edit && cols.empty()) {
        m_mode = Mode::None;
        return {};
    }
    QByteArray& key = m_writeKey;
    key.fill('0', m_columns.size() + 1);
    char* keyData = key.data();
    keyData[0] = m_mode == Mode::AddNew ? 'A' : 'E';
    for (int i : std::as_const(cols))
        keyData[i + 1] = '1';
    Error error;
    // Row after row assigns the same fields: the last statement serves again.
    if (!m_lastWrite || key != m_lastWriteKey) {
        m_lastWrite = nullptr;
        m_lastWriteKey = key;
    }
    Statement*& st = m_lastWrite ? m_lastWrite : m_writes[key];
    if (!st) {
        QString sql;
        if (m_mode == Mode::AddNew && cols.empty()) {
            sql = QStringLiteral("INSERT INTO ") + m_qualified + QStringLiteral(" DEFAULT VALUES");
        } else if (m_mode == Mode::AddNew) {
            QString names, marks;
            for (int i : cols) {
                if (!names.isEmpty()) {
                    names += QLatin1Char(',');
                    marks += QLatin1Char(',');
                }
                names += Database::quoted(m_columns[i].name);
                marks += QLatin1Char('?');
            }
            sql = QStringLiteral("INSERT INTO ") + m_qualified + QStringLiteral(" (") + names +
                  QStringLiteral(") VALUES (") + marks + QLatin1Char(')');
        } else {
            QString sets;
            for (int i : cols) {
                if (!sets.isEmpty())
                    sets += QLatin1Char(',');
                sets += Database::quoted(m_columns[i].name) + QStringLiteral(" = ?");
            }
            sql = QStringLiteral("UPDATE ") + m_qualified + QStringLiteral(" SET ") + sets +
                  QStringLiteral(" WHERE rowid = ?");
        }
        st = statement(sql, error);
        if (!st) {
            m_writes.remove(key);
            return error;
        }
    }
    m_lastWrite = st;
    int rc = SQLITE_OK;
    int pos = 0;
    for (int i : std::as_const(cols)) {
        if (rc != SQLITE_OK)
            break;
        const RowSource& source = m_fromRow[size_t(i)];
        if (source.row) {
            if (source.row->position() != source.position) {
                // The snapshot moved on: the value set is no longer there.
                st->reset();
                return dbError(DbErr::NoCurrentRecord);
            }
            const Snapshot::Field& f = source.value;
            rc = st->bindInPlace(pos, f);
            ++pos;
            continue;
        }
        const StoredValue& v = m_stored[size_t(i)];
        // A held value lasts until the row is stored: bound where it lies.
        rc = v.kind == CellKind::Null ? st->bind(pos, std::as_const(m_pending)[i]) : st->bindInPlace(pos, v);
        ++pos;
    }
    if (rc == SQLITE_OK && m_mode == Mode::Edit)
        rc = st->bindInt64(pos, m_rowid);
    const qint64 changesBefore = sqlite3_total_changes64(m_db->handle());
    if (rc == SQLITE_OK)
        rc = st->step();
    if (rc != SQLITE_DONE) {
        // A bind refused, or the engine refused the row: nothing was stored.
        error = m_db->noteFailure(st->error(m_location.table));
        st->reset();
        return error;
    }
    st->reset();
    if (m_forward.st) {
        // A new row behind the cursor, or a row changed but not its key,
        // leaves the rows ahead as the cursor sees them.
        bool behind = true;
        if (m_mode == Mode::AddNew) {
            behind = sqlite3_last_insert_rowid(m_db->handle()) <= m_forward.lastKey;
        } else {
            for (int i : std::as_const(cols))
                behind = behind && !m_index.contains(i) && !m_primary.contains(i);
        }
        noteOwnWrite(changesBefore, behind);
    }
    if (m_mode == Mode::Edit) {
        for (int i : std::as_const(cols)) {
            const RowSource& source = m_fromRow[size_t(i)];
            if (source.row)
                m_row[i] = source.value.toVariant();
            else
                m_row[i] = m_stored[size_t(i)].kind != CellKind::Null ? m_stored[size_t(i)].toVariant()
                                                                      : m_pending[i];
            m_fetched[i] = true;
            m_rawState[size_t(i)] = NoRaw;
        }
    }
    cancelUpdate();
    return {};
}

} // namespace mirsalex
