#include "db/Database.h"

#include "common/Platform.h"

#include <atomic>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace mirsalex {

namespace {

std::atomic<quint64> g_connectionCounter{0};

constexpr char kSqliteMagic[] = "SQLite format 3"; // followed by a NUL byte

quint32 bigEndian(const QByteArray& b, int at, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | quint32(quint8(b.at(at + i)));
    return v;
}

// The URI under which the engine opens an existing file for reading and
// writing without ever creating it.
QString uriFor(const QString& path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
           QStringLiteral("?mode=rw");
}

int g_busyTimeout = 5000;

bool hotJournalBeside(const QString& path)
{
    const QFileInfo journal(path + QStringLiteral("-journal"));
    return (journal.exists() && journal.size() > 0) || QFileInfo::exists(path + QStringLiteral("-wal"));
}

} // namespace

// ---------------------------------------------------------------------------
// RecordsetBase

RecordsetBase::RecordsetBase(Database& db) : m_db(&db)
{
    db.m_recordsets.append(this);
}

RecordsetBase::~RecordsetBase()
{
    if (m_db)
        m_db->m_recordsets.removeOne(this);
}

// ---------------------------------------------------------------------------
// Database

Database::~Database()
{
    close();
    for (RecordsetBase* rs : std::as_const(m_recordsets))
        rs->forgetDatabase();
    m_recordsets.clear();
}

QString Database::quoted(const QString& identifier)
{
    QString q = identifier;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

int Database::busyTimeout()
{
    return g_busyTimeout;
}

void Database::setBusyTimeout(int milliseconds)
{
    g_busyTimeout = milliseconds;
}

DbError Database::checkFile(const QString& path)
{
    const QFileInfo fi(path);
    if (!fi.exists())
        return DbError::make(DbErr::FileNotFound, path);
    if (fi.isDir())
        return DbError::make(DbErr::CannotOpenFile, path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return DbError::withDetail(DbErr::CannotOpenFile, path, f.errorString());
    const QByteArray header = f.read(100);
    const qint64 size = f.size();
    f.close();
    if (header.size() < 100 || !header.startsWith(QByteArray(kSqliteMagic, sizeof kSqliteMagic)))
        return DbError::make(DbErr::UnrecognisedFormat, path);
    quint32 pageSize = bigEndian(header, 16, 2);
    if (pageSize == 1)
        pageSize = 65536;
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0)
        return DbError::make(DbErr::UnrecognisedFormat, path);
    // A journal beside the file means an interrupted write: the engine puts
    // the file back as it was when it opens it, so its size says nothing yet.
    if (hotJournalBeside(path))
        return {};
    if (size < qint64(pageSize) || size % pageSize != 0)
        return DbError::make(DbErr::CannotOpenDatabase, path);
    const quint32 changeCounter = bigEndian(header, 24, 4);
    const quint32 pageCount = bigEndian(header, 28, 4);
    const quint32 validFor = bigEndian(header, 92, 4);
    if (validFor == changeCounter && pageCount > 0 && size < qint64(pageCount) * pageSize)
        return DbError::make(DbErr::CannotOpenDatabase, path);
    return {};
}

DbError Database::fromSql(const QSqlError& error, const QString& object)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    if (!ok) {
        if (error.type() == QSqlError::ConnectionError)
            return DbError::withDetail(DbErr::CannotOpenFile, object, text);
        return DbError::withDetail(DbErr::Reserved, object, text);
    }
    return fromNative(code, text, object);
}

DbError Database::fromNative(int code, const QString& text, const QString& object)
{
    const QString lower = text.toLower();
    switch (code & 0xff) {
    case 19: // constraint
        if (code == 1299 || lower.contains(QLatin1String("not null constraint"))) {
            const QString field = text.section(QLatin1Char('.'), -1).trimmed();
            return DbError::make(DbErr::NullInRequiredField, field);
        }
        if (code == 275 || lower.contains(QLatin1String("check constraint")))
            return DbError::withDetail(DbErr::ValidationRule, object, text);
        if (code == 1555 || code == 2067 || lower.contains(QLatin1String("unique constraint")))
            return DbError::make(DbErr::DuplicateKey);
        return DbError::withDetail(DbErr::ValidationRule, object, text);
    case 20: // mismatch
        return DbError::make(DbErr::ConversionError);
    case 5: // busy
    case 6: // locked
        return DbError::withDetail(DbErr::RecordLocked, object, text);
    case 8:
        return DbError::make(DbErr::ReadOnly);
    case 10:
        return DbError::withDetail(DbErr::DiskOrNetworkError, object, text);
    case 11:
        return DbError::make(DbErr::CannotOpenDatabase, object);
    case 13:
        return DbError::make(DbErr::DiskFull);
    case 14:
        return DbError::withDetail(DbErr::CannotOpenFile, object, text);
    case 26:
        return DbError::make(DbErr::UnrecognisedFormat, object);
    case 7:
        return DbError::make(DbErr::ResourcesExhausted);
    case 1:
        if (lower.startsWith(QLatin1String("no such table: ")))
            return DbError::make(DbErr::TableNotFound, text.mid(15).section(QLatin1Char('.'), -1));
        if (lower.startsWith(QLatin1String("no such column")))
            return DbError::withDetail(DbErr::ItemNotFound, object, text);
        return DbError::withDetail(DbErr::Reserved, object, text);
    default:
        return DbError::withDetail(DbErr::Reserved, object, text);
    }
}

DbError Database::run(const QString& sql)
{
    QSqlQuery q(m_db);
    if (!q.exec(sql))
        return fromSql(q.lastError(), m_path);
    return {};
}

DbError Database::noteFailure(const DbError& error)
{
    // Some failures (disk full, I/O errors) make the engine roll back the
    // whole transaction. Find out, so that a batch that is gone is never
    // reported as stored: BEGIN only succeeds when no transaction is open.
    if (m_inBatch && !m_batchLost) {
        QSqlQuery q(m_db);
        if (q.exec(QStringLiteral("BEGIN"))) {
            m_batchLost = true;
            m_batchLostError = error;
        }
    }
    return error;
}

DbError Database::open(const QString& path)
{
    close();
    if (path.trimmed().isEmpty())
        return DbError::make(DbErr::InvalidPath, path);
    const QString resolved = platform::resolve(path);
    if (DbError e = checkFile(resolved))
        return e;

    m_connectionName = QStringLiteral("mirsalex-db-%1").arg(++g_connectionCounter);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        db.setDatabaseName(uriFor(resolved));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(g_busyTimeout));
        if (!db.open()) {
            DbError e = fromSql(db.lastError(), resolved);
            if (e.number == DbErr::Reserved)
                e = DbError::withDetail(DbErr::CannotOpenFile, resolved, db.lastError().databaseText());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
            m_connectionName.clear();
            return e;
        }
        m_db = db;
    }
    m_path = resolved;
    // The driver's own connection, for the statements that walk large tables.
    if (const QVariant h = m_db.driver()->handle(); h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
        m_handle = *static_cast<sqlite3* const*>(h.constData());
    if (!m_handle) {
        close();
        return DbError::withDetail(DbErr::CannotOpenFile, resolved, QStringLiteral("no engine connection"));
    }

    // Reading the schema makes the engine look at the file for real (and
    // recover an interrupted write).
    DbError e;
    {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("PRAGMA main.schema_version")) || !q.next())
            e = fromSql(q.lastError(), resolved);
    }
    if (!e) {
        // Rollback journal, so that a closed file is complete on its own and
        // can be copied as a whole.
        QSqlQuery q(m_db);
        if (q.exec(QStringLiteral("PRAGMA main.journal_mode=DELETE")) && q.next() &&
            q.value(0).toString().compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0)
            e = DbError::withDetail(DbErr::CannotOpenFile, resolved, QStringLiteral("journal mode"));
    }
    if (e) {
        if (e.number == DbErr::Reserved)
            e = DbError::withDetail(DbErr::CannotOpenDatabase, resolved, e.description);
        close();
        return e;
    }
    return {};
}

Database::TableLocation Database::locate(const QString& name) const
{
    const auto it = m_attachments.constFind(name.toLower());
    if (it != m_attachments.constEnd())
        return {it->schema, it->sourceTable};
    if (!m_db.isOpen())
        return {};
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral(
        "SELECT name FROM main.sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE"));
    q.addBindValue(name);
    if (q.exec() && q.next())
        return {QStringLiteral("main"), q.value(0).toString()};
    return {};
}

bool Database::hasTable(const QString& name) const
{
    return !locate(name).schema.isEmpty();
}

void Database::dropAttachment(const Attachment& a)
{
    run(QStringLiteral("DROP VIEW IF EXISTS temp.") + quoted(a.localName));
    run(QStringLiteral("DETACH DATABASE ") + quoted(a.schema));
}

void Database::detachTable(const QString& localName)
{
    if (!m_db.isOpen())
        return;
    if (m_inBatch)
        commitBatch();
    const auto it = m_attachments.find(localName.toLower());
    if (it != m_attachments.end()) {
        dropAttachment(*it);
        m_attachments.erase(it);
    } else {
        run(QStringLiteral("DROP VIEW IF EXISTS temp.") + quoted(localName));
    }
}

DbError Database::attachTable(const QString& localName, const QString& otherFile, const QString& sourceTable)
{
    if (!m_db.isOpen())
        return DbError::make(DbErr::ObjectClosed);
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!identifier.match(localName).hasMatch() || sourceTable.isEmpty())
        return DbError::make(DbErr::InvalidOperation);
    if (m_inBatch) {
        if (DbError e = commitBatch())
            return e;
    }
    detachTable(localName);
    if (otherFile.trimmed().isEmpty())
        return DbError::make(DbErr::InvalidPath, otherFile);
    const QString resolved = platform::resolve(otherFile);
    if (DbError e = checkFile(resolved))
        return e;

    Attachment a;
    a.localName = localName;
    a.schema = QStringLiteral("mx_") + localName.toLower();
    {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("ATTACH DATABASE ? AS ") + quoted(a.schema));
        q.addBindValue(uriFor(resolved));
        if (!q.exec()) {
            DbError e = fromSql(q.lastError(), resolved);
            if (e.number == DbErr::Reserved)
                e = DbError::withDetail(DbErr::CannotOpenFile, resolved, q.lastError().databaseText());
            return e;
        }
    }
    auto fail = [&](DbError e) {
        run(QStringLiteral("DROP VIEW IF EXISTS temp.") + quoted(localName));
        run(QStringLiteral("DETACH DATABASE ") + quoted(a.schema));
        return e;
    };
    {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("PRAGMA ") + quoted(a.schema) + QStringLiteral(".schema_version")) ||
            !q.next()) {
            DbError e = fromSql(q.lastError(), resolved);
            q = QSqlQuery();
            if (e.number == DbErr::Reserved)
                e = DbError::withDetail(DbErr::CannotOpenDatabase, resolved, e.description);
            return fail(e);
        }
    }
    {
        QSqlQuery q(m_db);
        if (q.exec(QStringLiteral("PRAGMA ") + quoted(a.schema) + QStringLiteral(".journal_mode=DELETE")) &&
            q.next() && q.value(0).toString().compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0) {
            q = QSqlQuery();
            return fail(DbError::withDetail(DbErr::CannotOpenFile, resolved, QStringLiteral("journal mode")));
        }
    }
    {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("SELECT name FROM ") + quoted(a.schema) +
                  QStringLiteral(".sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE"));
        q.addBindValue(sourceTable);
        if (!q.exec()) {
            DbError e = fromSql(q.lastError(), resolved);
            q = QSqlQuery();
            return fail(e);
        }
        if (!q.next()) {
            q = QSqlQuery();
            return fail(DbError::make(DbErr::TableNotFound, sourceTable));
        }
        a.sourceTable = q.value(0).toString();
    }
    if (DbError e = run(QStringLiteral("CREATE TEMP VIEW ") + quoted(localName) +
                        QStringLiteral(" AS SELECT * FROM ") + quoted(a.schema) + QLatin1Char('.') +
                        quoted(a.sourceTable)))
        return fail(e);
    m_attachments.insert(localName.toLower(), a);
    return {};
}

DbError Database::execute(const QString& statement, int* rowsAffected)
{
    if (rowsAffected)
        *rowsAffected = 0;
    if (!m_db.isOpen())
        return DbError::make(DbErr::ObjectClosed);
    QString sql = statement.trimmed();
    // The older form "DELETE * FROM table" deletes whole rows, as DELETE FROM.
    static const QRegularExpression deleteStar(QStringLiteral("^DELETE\\s+\\*\\s+FROM\\s"),
                                               QRegularExpression::CaseInsensitiveOption);
    if (const auto m = deleteStar.match(sql); m.hasMatch())
        sql = QStringLiteral("DELETE FROM ") + sql.mid(m.capturedEnd());
    static const QRegularExpression target(
        QStringLiteral(
            "^(INSERT\\s+(?:OR\\s+\\w+\\s+)?INTO|REPLACE\\s+INTO|UPDATE(?:\\s+OR\\s+\\w+)?|DELETE\\s+FROM)"
            "\\s+(\"(?:[^\"]|\"\")+\"|\\[[^\\]]+\\]|[A-Za-z_][A-Za-z0-9_]*)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = target.match(sql);
    if (!m.hasMatch()) {
        static const QRegularExpression select(QStringLiteral("^(SELECT|WITH)\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
        return DbError::make(select.match(sql).hasMatch() ? DbErr::SelectNotExecutable
                                                          : DbErr::InvalidStatement);
    }
    // An attached table named as the target of the statement is written in
    // its own file (the local name is a view for reading).
    QString name = m.captured(2);
    if (name.startsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    else if (name.startsWith(QLatin1Char('[')))
        name = name.mid(1, name.size() - 2);
    const auto att = m_attachments.constFind(name.toLower());
    if (att != m_attachments.constEnd())
        sql = sql.left(m.capturedStart(2)) + quoted(att->schema) + QLatin1Char('.') +
              quoted(att->sourceTable) + sql.mid(m.capturedEnd(2));

    if (DbError e = run(QStringLiteral("SAVEPOINT mx_execute")))
        return noteFailure(e);
    DbError failure;
    {
        QSqlQuery q(m_db);
        if (!q.exec(sql))
            failure = fromSql(q.lastError(), m_path);
        else if (rowsAffected)
            *rowsAffected = q.numRowsAffected();
    }
    if (!failure)
        failure = run(QStringLiteral("RELEASE mx_execute"));
    if (failure) {
        run(QStringLiteral("ROLLBACK TO mx_execute"));
        run(QStringLiteral("RELEASE mx_execute"));
        if (rowsAffected)
            *rowsAffected = 0;
        return noteFailure(failure);
    }
    return {};
}

DbError Database::beginBatch()
{
    if (!m_db.isOpen())
        return DbError::make(DbErr::ObjectClosed);
    if (m_inBatch)
        return {};
    // IMMEDIATE: the write lock is taken now, waiting for it under the busy
    // timeout. A deferred batch would take it only at its first write, and
    // the engine then fails at once, without waiting, on a file that another
    // program is writing.
    if (DbError e = run(QStringLiteral("BEGIN IMMEDIATE")))
        return e;
    m_inBatch = true;
    m_batchLost = false;
    m_batchLostError = DbError();
    return {};
}

DbError Database::commitBatch()
{
    if (!m_inBatch)
        return {};
    m_inBatch = false;
    DbError e = run(QStringLiteral("COMMIT"));
    if (e)
        run(QStringLiteral("ROLLBACK"));
    if (m_batchLost) {
        m_batchLost = false;
        e = m_batchLostError;
        m_batchLostError = DbError();
    }
    return e;
}

void Database::rollbackBatch()
{
    if (!m_inBatch)
        return;
    m_inBatch = false;
    m_batchLost = false;
    m_batchLostError = DbError();
    run(QStringLiteral("ROLLBACK"));
}

void Database::close()
{
    // Recordsets stay bound to this database (they can be opened again after
    // it is reopened); only their statements go.
    const QList<RecordsetBase*> bound = m_recordsets;
    for (RecordsetBase* rs : bound)
        rs->close();
    if (m_db.isOpen()) {
        commitBatch();
        for (const Attachment& a : std::as_const(m_attachments))
            dropAttachment(a);
        m_db.close();
    }
    m_handle = nullptr;
    m_attachments.clear();
    m_inBatch = false;
    m_db = QSqlDatabase();
    if (!m_connectionName.isEmpty()) {
        QSqlDatabase::removeDatabase(m_connectionName);
        m_connectionName.clear();
    }
    m_path.clear();
}

} // namespace mirsalex
