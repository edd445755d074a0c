#include "db/Snapshot.h"

#include <sqlite3.h>

namespace mirsalex {

Snapshot::Snapshot(Database& db) : RecordsetBase(db) {}

Snapshot::~Snapshot()
{
    close();
}

void Snapshot::close()
{
    m_stmt.finalize();
    ++m_position;
    m_open = false;
    m_eof = true;
    m_count = 0;
    m_byName.clear();
}

namespace {

// A statement that begins with SELECT or WITH as a word. (Read on any
// thread: a snapshot may be opened beside the run's own.)
bool isQuery(const QString& statement)
{
    const QStringView text = QStringView(statement).trimmed();
    for (const QLatin1StringView word : {QLatin1StringView("SELECT"), QLatin1StringView("WITH")}) {
        if (!text.startsWith(word, Qt::CaseInsensitive))
            continue;
        if (text.size() == word.size())
            return true;
        const QChar next = text.at(word.size());
        return !next.isLetterOrNumber() && next != QLatin1Char('_');
    }
    return false;
}

} // namespace

Error Snapshot::open(const QString& select)
{
    return open(select, QVariantList());
}

Error Snapshot::open(const QString& select, const QVariantList& params)
{
    close();
    if (!m_db || !m_db->isOpen())
        return dbError(DbErr::ObjectClosed);
    if (!isQuery(select))
        return dbError(DbErr::InvalidOperation);
    if (m_stmt.prepare(m_db->handle(), select) != SQLITE_OK) {
        const Error e = m_db->noteFailure(m_stmt.error());
        close();
        return e;
    }
    if (m_stmt.parameterCount() != params.size()) {
        const int expected = m_stmt.parameterCount();
        close();
        return dbError(DbErr::ParameterCount, QString::number(expected));
    }
    for (int i = 0; i < int(params.size()); ++i) {
        if (m_stmt.bind(i, params[i]) != SQLITE_OK) {
            const Error e = m_stmt.error();
            close();
            return e;
        }
    }
    for (int i = m_stmt.columnCount() - 1; i >= 0; --i)
        m_byName.insert(m_stmt.columnName(i).toLower(), i); // the first of equal names wins
    m_open = true;
    if (Error e = fetch()) {
        close();
        return e;
    }
    return {};
}

Error Snapshot::fetch()
{
    ++m_position;
    const int rc = m_stmt.step();
    if (rc == SQLITE_ROW) {
        ++m_count;
        m_eof = false;
        return {};
    }
    m_eof = true;
    if (rc == SQLITE_DONE) {
        m_stmt.reset();
        return {};
    }
    const Error e = m_stmt.error();
    m_stmt.reset();
    return m_db ? m_db->noteFailure(e) : e;
}

Error Snapshot::moveNext()
{
    if (!m_open || !m_stmt.isPrepared())
        return dbError(DbErr::ObjectClosed);
    if (m_eof)
        return dbError(DbErr::NoCurrentRecord);
    return fetch();
}

int Snapshot::fieldIndex(const QString& field) const
{
    return m_byName.value(field.toLower(), -1);
}

QVariant Snapshot::value(int index) const
{
    if (!m_open || m_eof)
        return QVariant();
    return m_stmt.value(index);
}

Snapshot::Field Snapshot::field(int index) const
{
    if (!m_open || m_eof)
        return Field();
    return m_stmt.cell(index);
}

QVariant Snapshot::value(const QString& field, Error* error) const
{
    Error e;
    const int index = fieldIndex(field);
    if (!m_open)
        e = dbError(DbErr::ObjectClosed);
    else if (index < 0)
        e = dbError(DbErr::ItemNotFound);
    else if (m_eof)
        e = dbError(DbErr::NoCurrentRecord);
    if (error)
        *error = e;
    return e ? QVariant() : m_stmt.value(index);
}

} // namespace mirsalex
