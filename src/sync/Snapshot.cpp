#include "sync/Snapshot.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlRecord>

namespace mirsalex {

Snapshot::Snapshot(Database& db) : RecordsetBase(db) {}

Snapshot::~Snapshot()
{
    close();
}

void Snapshot::close()
{
    if (m_query) {
        m_query->finish();
        delete m_query;
        m_query = nullptr;
    }
    m_open = false;
    m_eof = true;
    m_count = 0;
    m_byName.clear();
}

DbError Snapshot::open(const QString& select)
{
    close();
    if (!m_db || !m_db->isOpen())
        return DbError::make(DbErr::ObjectClosed);
    static const QRegularExpression selectText(QStringLiteral("^\\s*(SELECT|WITH)\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
    if (!selectText.match(select).hasMatch())
        return DbError::make(DbErr::InvalidOperation);
    m_query = new QSqlQuery(m_db->connection());
    m_query->setForwardOnly(true);
    if (!m_query->exec(select)) {
        const DbError e = m_db->noteFailure(Database::fromSql(m_query->lastError()));
        close();
        return e;
    }
    const QSqlRecord record = m_query->record();
    for (int i = record.count() - 1; i >= 0; --i)
        m_byName.insert(record.fieldName(i).toLower(), i); // the first of equal names wins
    m_open = true;
    if (DbError e = fetch()) {
        close();
        return e;
    }
    return {};
}

DbError Snapshot::fetch()
{
    if (m_query->next()) {
        ++m_count;
        m_eof = false;
        return {};
    }
    m_eof = true;
    if (m_query->lastError().isValid())
        return m_db ? m_db->noteFailure(Database::fromSql(m_query->lastError()))
                    : Database::fromSql(m_query->lastError());
    return {};
}

DbError Snapshot::moveNext()
{
    if (!m_open || !m_query)
        return DbError::make(DbErr::ObjectClosed);
    if (m_eof)
        return DbError::make(DbErr::NoCurrentRecord);
    return fetch();
}

int Snapshot::fieldIndex(const QString& field) const
{
    return m_byName.value(field.toLower(), -1);
}

QVariant Snapshot::value(int index) const
{
    if (!m_open || m_eof || !m_query)
        return QVariant();
    return m_query->value(index);
}

QVariant Snapshot::value(const QString& field, DbError* error) const
{
    DbError e;
    const int index = fieldIndex(field);
    if (!m_open)
        e = DbError::make(DbErr::ObjectClosed);
    else if (index < 0)
        e = DbError::make(DbErr::ItemNotFound);
    else if (m_eof)
        e = DbError::make(DbErr::NoCurrentRecord);
    if (error)
        *error = e;
    return e ? QVariant() : m_query->value(index);
}

} // namespace mirsalex
