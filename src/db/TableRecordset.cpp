// TableRecordset: opening, seeking and reading rows (writes in
// TableRecordsetWrites.cpp).

#include "db/TableRecordset.h"

#include "db/Sqlite.h"

#include <cstring>
#include <sqlite3.h>

namespace mirsalex {

TableRecordset::TableRecordset(Database& db) : RecordsetBase(db) {}

TableRecordset::~TableRecordset()
{
    close();
}

void TableRecordset::close()
{
    // Every statement goes before the connection can close.
    forgetPlans();
    qDeleteAll(m_statements);
    m_statements.clear();
    m_writes.clear();
    m_lastWrite = nullptr;
    m_open = false;
    m_columns.clear();
    m_byName.clear();
    m_index.clear();
    m_primary.clear();
    m_hasRow = false;
    m_noMatch = true;
    m_mode = Mode::None;
    m_row.clear();
    m_fetched.clear();
    m_raw.clear();
    m_rawState.clear();
    m_fetch.clear();
    m_pending.clear();
    m_assigned.clear();
    m_stored.clear();
    m_fromRow.clear();
    m_anyFromRow = false;
}

Error TableRecordset::open(const QString& table)
{
    close();
    if (!m_db || !m_db->isOpen())
        return dbError(DbErr::ObjectClosed);
    m_location = m_db->locate(table);
    if (m_location.schema.isEmpty())
        return dbError(DbErr::TableNotFound, table);
    m_qualified = Database::quoted(m_location.schema) + QLatin1Char('.') + Database::quoted(m_location.table);

    Statement q;
    if (q.prepare(m_db->handle(), QStringLiteral("PRAGMA ") + Database::quoted(m_location.schema) +
                                      QStringLiteral(".table_info(") + Database::quoted(m_location.table) +
                                      QLatin1Char(')')) != SQLITE_OK)
        return m_db->noteFailure(q.error(table));
    QVector<QPair<int, int>> keyParts; // (position in key, column)
    int rc = SQLITE_OK;
    while ((rc = q.step()) == SQLITE_ROW) {
        Column c;
        c.name = q.value(1).toString();
        const QString type = q.value(2).toString().toUpper();
        // The engine's own rules for a declared type's kind.
        if (type.contains(QLatin1String("INT")))
            c.kind = Kind::Integer;
        else if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("CLOB")) ||
                 type.contains(QLatin1String("TEXT")))
            c.kind = Kind::Text;
        else if (type.isEmpty() || type.contains(QLatin1String("BLOB")))
            c.kind = Kind::Any;
        else
            c.kind = Kind::Real;
        c.declaredInteger = type.trimmed() == QLatin1String("INTEGER");
        c.required = q.value(3).toInt() != 0;
        c.hasDefault = !q.value(4).isNull();
        const int pk = q.value(5).toInt();
        if (pk > 0)
            keyParts.append({pk, int(m_columns.size())});
        m_byName.insert(c.name.toLower(), int(m_columns.size()));
        m_columns.append(c);
    }
    if (rc != SQLITE_DONE) {
        const Error e = m_db->noteFailure(q.error(table));
        m_columns.clear();
        m_byName.clear();
        return e;
    }
    q.finalize();
    if (m_columns.isEmpty())
        return dbError(DbErr::TableNotFound, table);
    std::sort(keyParts.begin(), keyParts.end());
    m_primary.clear();
    for (const auto& p : keyParts)
        m_primary.append(p.second);
    // A single INTEGER key column is the row number, unless the engine keeps
    // an index of its own for the key (then it is an ordinary column).
    m_rowidKey = false;
    if (m_primary.size() == 1 && m_columns[m_primary[0]].declaredInteger) {
        Statement list;
        if (list.prepare(m_db->handle(), QStringLiteral("PRAGMA ") + Database::quoted(m_location.schema) +
                                             QStringLiteral(".index_list(") +
                                             Database::quoted(m_location.table) + QLatin1Char(')')) ==
            SQLITE_OK) {
            bool keyIndex = false;
            int step = SQLITE_OK;
            while ((step = list.step()) == SQLITE_ROW)
                keyIndex = keyIndex || list.value(3).toString() == QLatin1String("pk");
            m_rowidKey = step == SQLITE_DONE && !keyIndex;
        }
    }
    m_row.resize(m_columns.size());
    m_fetched.fill(false, m_columns.size());
    m_raw.clear();
    m_raw.resize(size_t(m_columns.size()));
    m_rawState.assign(size_t(m_columns.size()), NoRaw);
    m_pending.resize(m_columns.size());
    m_assigned.assign(size_t(m_columns.size()), 0);
    m_stored.clear();
    m_stored.resize(size_t(m_columns.size()));
    m_fromRow.assign(size_t(m_columns.size()), RowSource());
    m_anyFromRow = false;
    m_open = true;
    return {};
}

QStringList TableRecordset::fieldNames() const
{
    QStringList out;
    for (const Column& c : m_columns)
        out << c.name;
    return out;
}

Error TableRecordset::setIndex(const QString& name)
{
    if (!m_open || !m_db)
        return dbError(DbErr::ObjectClosed);
    if (name.compare(QLatin1String("primaria"), Qt::CaseInsensitive) == 0) {
        if (m_primary.isEmpty())
            return dbError(DbErr::IndexNotFound, name);
        m_index = m_primary;
        forgetPlans();
        return {};
    }
    const QString schema = Database::quoted(m_location.schema);
    Statement list;
    if (list.prepare(m_db->handle(), QStringLiteral("PRAGMA ") + schema + QStringLiteral(".index_list(") +
                                         Database::quoted(m_location.table) + QLatin1Char(')')) != SQLITE_OK)
        return m_db->noteFailure(list.error(name));
    QString found;
    int rc = SQLITE_OK;
    while ((rc = list.step()) == SQLITE_ROW) {
        if (list.value(1).toString().compare(name, Qt::CaseInsensitive) == 0)
            found = list.value(1).toString();
    }
    if (rc != SQLITE_DONE)
        return m_db->noteFailure(list.error(name));
    list.finalize();
    if (found.isEmpty())
        return dbError(DbErr::IndexNotFound, name);
    Statement info;
    if (info.prepare(m_db->handle(), QStringLiteral("PRAGMA ") + schema + QStringLiteral(".index_info(") +
                                         Database::quoted(found) + QLatin1Char(')')) != SQLITE_OK)
        return m_db->noteFailure(info.error(name));
    QVector<QPair<int, int>> parts;
    while ((rc = info.step()) == SQLITE_ROW) {
        const int col = fieldIndex(info.value(2).toString());
        if (col < 0)
            return dbError(DbErr::IndexNotFound, name);
        parts.append({info.value(0).toInt(), col});
    }
    if (rc != SQLITE_DONE)
        return m_db->noteFailure(info.error(name));
    std::sort(parts.begin(), parts.end());
    forgetPlans();
    m_index.clear();
    for (const auto& p : parts)
        m_index.append(p.second);
    return {};
}

void TableRecordset::forgetPlans()
{
    // The statements stay compiled in m_statements; only the choice goes.
    stopForward();
    for (Statement*& st : m_seekStmt)
        st = nullptr;
    for (Statement*& st : m_foldSeekStmt)
        st = nullptr;
    m_read.clear();
}

Statement* TableRecordset::statement(const QString& sql, Error& error) const
{
    const auto it = m_statements.constFind(sql);
    if (it != m_statements.constEnd())
        return *it;
    auto* st = new Statement;
    if (st->prepare(m_db->handle(), sql) != SQLITE_OK) {
        error = m_db->noteFailure(st->error(m_location.table));
        delete st;
        return nullptr;
    }
    m_statements.insert(sql, st);
    return st;
}

Error TableRecordset::seek(const QVariantList& keys)
{
    if (!m_open || !m_db)
        return dbError(DbErr::ObjectClosed);
    cancelUpdate();
    m_hasRow = false;
    m_noMatch = true;
    if (m_index.isEmpty() || keys.isEmpty() || keys.size() > m_index.size())
        return dbError(DbErr::InvalidOperation);

    const int n = int(keys.size());
    if (m_read.isEmpty())
        m_read = readColumns();
    Error error;
    Statement* st = nullptr;
    int rc = SQLITE_OK;
    bool forward = false;
    if (n == 1 && m_rowidKey && m_index == m_primary) {
        switch (keys[0].typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::Long:
        case QMetaType::UInt:
        case QMetaType::UShort:
            forward = seekForward(keys[0].toLongLong(), st, rc);
            break;
        default:
            break;
        }
    }
    if (!forward && !(st = n <= 3 ? m_seekStmt[n - 1] : nullptr)) {
        QString columns;
        for (int i : std::as_const(m_read))
            columns += QLatin1Char(',') + Database::quoted(m_columns[i].name);
        QString where;
        for (int i = 0; i < n; ++i) {
            if (i)
                where += QStringLiteral(" AND ");
            where += Database::quoted(m_columns[m_index[i]].name) + QStringLiteral(" = ?");
        }
        st = statement(QStringLiteral("SELECT rowid") + columns + QStringLiteral(" FROM ") + m_qualified +
                           QStringLiteral(" WHERE ") + where + QStringLiteral(" LIMIT 1"),
                       error);
        if (!st)
            return error;
        if (n <= 3)
            m_seekStmt[n - 1] = st;
    }
    if (!forward) {
        for (int i = 0; rc == SQLITE_OK && i < n; ++i)
            rc = st->bind(i, keys[i]);
        if (rc == SQLITE_OK)
            rc = st->step();
        // Text keys match without regard to case, as the main application's
        // engine matches them: "tel" finds "TEL". The exact search comes
        // first, through the index; the wider one runs only when it found
        // nothing and a text part of the key has a letter.
        if (rc == SQLITE_DONE && needsFoldedSeek(keys)) {
            st->reset();
            st = n <= 3 ? m_foldSeekStmt[n - 1] : nullptr;
            if (!st) {
                QString columns;
                for (int i : std::as_const(m_read))
                    columns += QLatin1Char(',') + Database::quoted(m_columns[i].name);
                QString where;
                for (int i = 0; i < n; ++i) {
                    const Column& c = m_columns[m_index[i]];
                    if (i)
                        where += QStringLiteral(" AND ");
                    where += Database::quoted(c.name) + QStringLiteral(" = ?");
                    if (c.kind == Kind::Text || c.kind == Kind::Any)
                        where += QStringLiteral(" COLLATE ") + QLatin1String(sqlite::kFoldCollation);
                }
                st = statement(QStringLiteral("SELECT rowid") + columns + QStringLiteral(" FROM ") +
                                   m_qualified + QStringLiteral(" WHERE ") + where +
                                   QStringLiteral(" LIMIT 1"),
                               error);
                if (!st)
                    return error;
                if (n <= 3)
                    m_foldSeekStmt[n - 1] = st;
            }
            for (int i = 0; rc == SQLITE_DONE && i < n; ++i)
                rc = st->bind(i, keys[i]) == SQLITE_OK ? SQLITE_DONE : SQLITE_ERROR;
            rc = rc == SQLITE_DONE ? st->step() : rc;
        }
    }
    if (rc == SQLITE_ROW) {
        m_rowid = st->int64(0);
        m_fetched.fill(false);
        std::fill(m_rawState.begin(), m_rawState.end(), NoRaw);
        // Kept as stored: a value is built only when value() asks for it.
        for (int i = 0; i < m_read.size(); ++i) {
            const int field = m_read[i];
            m_raw[size_t(field)].take(st->cell(i + 1));
            m_rawState[size_t(field)] = RawOnly;
            m_fetched[field] = true;
        }
        m_hasRow = true;
        m_noMatch = false;
    } else if (rc != SQLITE_DONE) {
        error = m_db->noteFailure(st->error(m_location.table));
    }
    if (!forward)
        st->reset(); // the forward cursor stays where it stands
    return error;
}

bool TableRecordset::needsFoldedSeek(const QVariantList& keys) const
{
    for (int i = 0; i < keys.size(); ++i) {
        const Column& c = m_columns[m_index[i]];
        if ((c.kind != Kind::Text && c.kind != Kind::Any) || keys[i].typeId() != QMetaType::QString)
            continue;
        for (const QChar ch : keys[i].toString()) {
            if (ch.isLetter())
                return true;
        }
    }
    return false;
}

void TableRecordset::stopForward()
{
    if (m_forward.st)
        m_forward.st->reset();
    m_forward = Forward();
}

bool TableRecordset::seekForward(qint64 key, Statement*& st, int& rc)
{
    // Rows stepped over before a search from the key is the cheaper way on:
    // a walk never costs more than a few steps and a search per seek.
    constexpr int kMaxSteps = 16;
    sqlite3* h = m_db->handle();
    const qint64 changes = sqlite3_total_changes64(h);
    Forward& f = m_forward;
    bool goOn = f.st && key > f.lastKey && f.changes == changes && f.epoch == m_db->epoch();
    for (int steps = 0; goOn && !f.atEnd && f.rowKey < key; ++steps) {
        if (steps == kMaxSteps) {
            goOn = false;
            break;
        }
        const int step = f.st->step();
        if (step == SQLITE_ROW) {
            f.rowKey = f.st->int64(0);
        } else if (step == SQLITE_DONE) {
            f.atEnd = true;
        } else {
            goOn = false; // ended under it (a rollback): started again below
        }
    }
    if (!goOn) {
        // (Re)started on the first row at or after the key.
        stopForward();
        Error error;
        QString columns;
        for (int i : std::as_const(m_read))
            columns += QLatin1Char(',') + Database::quoted(m_columns[i].name);
        Statement* walk = statement(QStringLiteral("SELECT rowid") + columns + QStringLiteral(" FROM ") +
                                        m_qualified + QStringLiteral(" WHERE rowid >= ? ORDER BY rowid"),
                                    error);
        if (!walk || walk->bindInt64(0, key) != SQLITE_OK)
            return false;
        const int step = walk->step();
        if (step != SQLITE_ROW && step != SQLITE_DONE) {
            walk->reset();
            return false; // searched instead, which reports the failure
        }
        f.st = walk;
        f.atEnd = step == SQLITE_DONE;
        f.rowKey = f.atEnd ? 0 : walk->int64(0);
        f.changes = changes;
        f.epoch = m_db->epoch();
    }
    f.lastKey = key;
    st = f.st;
    rc = !f.atEnd && f.rowKey == key ? SQLITE_ROW : SQLITE_DONE;
    return true;
}

void TableRecordset::noteOwnWrite(qint64 changesBefore, bool behindCursor)
{
    if (!m_forward.st)
        return;
    if (changesBefore != m_forward.changes || !behindCursor)
        stopForward();
    else
        m_forward.changes = sqlite3_total_changes64(m_db->handle());
}

Error TableRecordset::setFetchFields(const QStringList& fields)
{
    if (!m_open)
        return dbError(DbErr::ObjectClosed);
    QVector<int> fetch;
    for (const QString& f : fields) {
        const int i = fieldIndex(f);
        if (i < 0)
            return dbError(DbErr::ItemNotFound);
        fetch.append(i);
    }
    m_fetch = fetch;
    forgetPlans();
    return {};
}

int TableRecordset::fieldIndex(const QString& field) const
{
    return m_byName.value(field.toLower(), -1);
}

QVariant TableRecordset::value(int index) const
{
    if (index < 0 || index >= m_columns.size())
        return QVariant();
    if (m_mode != Mode::None && m_assigned[size_t(index)]) {
        const RowSource& source = m_fromRow[size_t(index)];
        if (source.row)
            return source.row->position() == source.position ? source.value.toVariant() : QVariant();
        return m_stored[size_t(index)].kind != CellKind::Null ? m_stored[size_t(index)].toVariant()
                                                              : m_pending[index];
    }
    if (m_mode == Mode::AddNew || !m_hasRow)
        return QVariant();
    if (m_rawState[size_t(index)] == RawOnly) {
        m_row[index] = m_raw[size_t(index)].toVariant();
        m_rawState[size_t(index)] = RawAndRow;
    }
    if (!m_fetched[index]) {
        // Read on demand (a field left out of the fetch hint).
        Error error;
        Statement* st =
            statement(QStringLiteral("SELECT ") + Database::quoted(m_columns[index].name) +
                          QStringLiteral(" FROM ") + m_qualified + QStringLiteral(" WHERE rowid = ?"),
                      error);
        if (!st)
            return QVariant();
        if (st->bindInt64(0, m_rowid) == SQLITE_OK && st->step() == SQLITE_ROW)
            m_row[index] = st->value(0);
        st->reset();
        m_fetched[index] = true;
    }
    return m_row[index];
}

bool TableRecordset::stored(int index, Snapshot::Field& out) const
{
    if (index < 0 || index >= m_columns.size() || m_mode != Mode::None || !m_hasRow ||
        m_rawState[size_t(index)] == NoRaw)
        return false;
    out = m_raw[size_t(index)].view();
    return true;
}

QVector<int> TableRecordset::readColumns() const
{
    if (m_fetch.isEmpty()) {
        QVector<int> all(m_columns.size());
        for (int i = 0; i < all.size(); ++i)
            all[i] = i;
        return all;
    }
    QVector<int> read = m_index;
    for (int i : m_fetch)
        if (!read.contains(i))
            read.append(i);
    return read;
}

QVariant TableRecordset::value(const QString& field, Error* error) const
{
    const int index = fieldIndex(field);
    Error e;
    if (!m_open)
        e = dbError(DbErr::ObjectClosed);
    else if (index < 0)
        e = dbError(DbErr::ItemNotFound);
    else if (m_mode == Mode::None && !m_hasRow)
        e = dbError(DbErr::NoCurrentRecord);
    if (error)
        *error = e;
    return e ? QVariant() : value(index);
}

} // namespace mirsalex
