// Database: opening a file, its tables and the files attached to it
// (statements and batches in DatabaseStatements.cpp, the SQL functions
// in ProgramFunctions.cpp).

#include "db/Database.h"

#include "common/JetSignature.h"
#include "common/Platform.h"
#include "db/ProgramFunctions.h"
#include "db/Statement.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <sqlite3.h>

namespace mirsalex {

namespace {

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

// Page cache of a connection, in KiB: room for the pages a merge of tens of
// thousands of rows dirties, within the program's memory (a larger cache
// measured no quicker, and it is most of the run's peak memory).
constexpr int kCacheKiB = 8192;

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

Error Database::checkFile(const QString& path)
{
    const QFileInfo fi(path);
    if (!fi.exists())
        return dbError(DbErr::FileNotFound, path);
    if (fi.isDir())
        return dbError(DbErr::CannotOpenFile, path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return dbErrorWithDetail(DbErr::CannotOpenFile, path, f.errorString());
    const QByteArray header = f.read(100);
    const qint64 size = f.size();
    f.close();
    if (const auto jet = jetSignature(header))
        return dbErrorWithDetail(DbErr::UnrecognisedFormat, path,
                                 QStringLiteral("database di Access, ") + jet->versionName() +
                                     QStringLiteral(": da convertire con mirsalex --import-access"));
    if (header.size() < 100 || !header.startsWith(QByteArray(kSqliteMagic, sizeof kSqliteMagic)))
        return dbError(DbErr::UnrecognisedFormat, path);
    quint32 pageSize = bigEndian(header, 16, 2);
    if (pageSize == 1)
        pageSize = 65536;
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0)
        return dbError(DbErr::UnrecognisedFormat, path);
    // A journal beside the file means an interrupted write: the engine puts
    // the file back as it was when it opens it, so its size says nothing yet.
    if (hotJournalBeside(path))
        return {};
    if (size < qint64(pageSize) || size % pageSize != 0)
        return dbError(DbErr::CannotOpenDatabase, path);
    const quint32 changeCounter = bigEndian(header, 24, 4);
    const quint32 pageCount = bigEndian(header, 28, 4);
    const quint32 validFor = bigEndian(header, 92, 4);
    if (validFor == changeCounter && pageCount > 0 && size < qint64(pageCount) * pageSize)
        return dbError(DbErr::CannotOpenDatabase, path);
    return {};
}

Error Database::fromNative(int code, const QString& text, const QString& object)
{
    const QString lower = text.toLower();
    switch (code & 0xff) {
    case 19: // constraint
        if (code == 1299 || lower.contains(QLatin1String("not null constraint"))) {
            const QString field = text.section(QLatin1Char('.'), -1).trimmed();
            return dbError(DbErr::NullInRequiredField, field);
        }
        if (code == 275 || lower.contains(QLatin1String("check constraint")))
            return dbErrorWithDetail(DbErr::ValidationRule, object, text);
        if (code == 1555 || code == 2067 || lower.contains(QLatin1String("unique constraint")))
            return dbError(DbErr::DuplicateKey);
        return dbErrorWithDetail(DbErr::ValidationRule, object, text);
    case 20: // mismatch
        return dbError(DbErr::ConversionError);
    case 5: // busy
    case 6: // locked
        return dbErrorWithDetail(DbErr::RecordLocked, object, text);
    case 8:
        return dbError(DbErr::ReadOnly);
    case 10:
        return dbErrorWithDetail(DbErr::DiskOrNetworkError, object, text);
    case 11:
        return dbError(DbErr::CannotOpenDatabase, object);
    case 13:
        return dbError(DbErr::DiskFull);
    case 14:
        return dbErrorWithDetail(DbErr::CannotOpenFile, object, text);
    case 26:
        return dbError(DbErr::UnrecognisedFormat, object);
    case 7:
        return dbError(DbErr::ResourcesExhausted);
    case 1:
        if (lower.startsWith(QLatin1String("no such table: ")))
            return dbError(DbErr::TableNotFound, text.mid(15).section(QLatin1Char('.'), -1));
        if (lower.startsWith(QLatin1String("no such column")))
            return dbErrorWithDetail(DbErr::ItemNotFound, object, text);
        return dbErrorWithDetail(DbErr::Reserved, object, text);
    default:
        return dbErrorWithDetail(DbErr::Reserved, object, text);
    }
}

Error Database::lastError(const QString& object) const
{
    const int code = m_conn.errorCode();
    return fromNative(code == SQLITE_OK ? SQLITE_ERROR : code, m_conn.message(), object);
}

Error Database::open(const QString& path)
{
    close();
    if (path.trimmed().isEmpty())
        return dbError(DbErr::InvalidPath, path);
    const QString resolved = platform::resolve(path);
    if (Error e = checkFile(resolved))
        return e;

    // An existing file, for reading and writing, never created.
    if (m_conn.open(uriFor(resolved), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, g_busyTimeout) !=
        SQLITE_OK) {
        Error e = fromNative(m_conn.errorCode(), m_conn.message(), resolved);
        if (e.number == DbErr::Reserved)
            e = dbErrorWithDetail(DbErr::CannotOpenFile, resolved, m_conn.message());
        return e;
    }
    m_path = resolved;
    addProgramFunctions(m_conn.get(), &m_walkNotes, &m_listed);

    // Reading the schema makes the engine look at the file for real (and
    // recover an interrupted write).
    QVariant v;
    Error e = scalar(QStringLiteral("PRAGMA main.schema_version"), {}, v);
    if (!e && !v.isValid())
        e = dbError(DbErr::CannotOpenDatabase, resolved);
    if (!e) {
        // Rollback journal, so that a closed file is complete on its own and
        // can be copied as a whole.
        // (A dry run keeps its journal in memory and never writes a page.)
        const QString mode = m_withheld ? QStringLiteral("memory") : QStringLiteral("delete");
        if (!scalar(QStringLiteral("PRAGMA main.journal_mode=") + mode, {}, v) && v.isValid() &&
            v.toString().compare(mode, Qt::CaseInsensitive) != 0)
            e = dbErrorWithDetail(DbErr::CannotOpenFile, resolved, QStringLiteral("journal mode"));
        if (!e && m_withheld)
            tryRun(QStringLiteral("PRAGMA cache_spill = OFF"));
    }
    if (e) {
        if (e.number == DbErr::Reserved)
            e = dbErrorWithDetail(DbErr::CannotOpenDatabase, resolved, e.text);
        close();
        return e;
    }
    // Room for the pages of a large batch, so that they are written once, at
    // its commit, instead of spilling to the file (with a wait for the disk)
    // half way through.
    tryRun(QStringLiteral("PRAGMA main.cache_size = -%1").arg(kCacheKiB));
    // What a statement sets aside (the pages a savepoint keeps, the rows it
    // reads from the table it writes) stays in memory while it is small and
    // goes to an unnamed temporary file beyond that: a merge of a large table
    // would otherwise hold a copy of every page it changes. Temporary files
    // are never flushed, so nothing waits for the disk.
    return {};
}

void Database::limitCache(int kib)
{
    tryRun(QStringLiteral("PRAGMA main.cache_size = -%1").arg(kib));
    for (const Attachment& a : std::as_const(m_attachments))
        tryRun(QStringLiteral("PRAGMA %1.cache_size = -%2").arg(quoted(a.schema)).arg(kib));
}

Database::TableLocation Database::locate(const QString& name) const
{
    const auto it = m_attachments.constFind(name.toLower());
    if (it != m_attachments.constEnd())
        return {it->schema, it->sourceTable};
    if (!m_conn.isOpen())
        return {};
    QVariant found;
    if (!scalar(QStringLiteral(
                    "SELECT name FROM main.sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE"),
                {name}, found) &&
        !found.isNull())
        return {QStringLiteral("main"), found.toString()};
    return {};
}

bool Database::hasTable(const QString& name) const
{
    return !locate(name).schema.isEmpty();
}

Database::ColumnKind Database::kindOf(const QString& declaredType)
{
    const QString type = declaredType.toUpper();
    if (type.contains(QLatin1String("INT")))
        return ColumnKind::Integer;
    if (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("CLOB")) ||
        type.contains(QLatin1String("TEXT")))
        return ColumnKind::Text;
    if (type.trimmed().isEmpty() || type.contains(QLatin1String("BLOB")))
        return ColumnKind::Any;
    return ColumnKind::Real;
}

QString Database::qualified(const QString& name) const
{
    const TableLocation where = locate(name);
    if (where.schema.isEmpty())
        return {};
    return quoted(where.schema) + QLatin1Char('.') + quoted(where.table);
}

Error Database::columns(const QString& name, QList<ColumnInfo>& out) const
{
    out.clear();
    if (!m_conn.isOpen())
        return dbError(DbErr::ObjectClosed);
    const TableLocation where = locate(name);
    if (where.schema.isEmpty())
        return dbError(DbErr::TableNotFound, name);
    Statement q;
    if (q.prepare(m_conn.get(), QStringLiteral("PRAGMA ") + quoted(where.schema) +
                                    QStringLiteral(".table_info(") + quoted(where.table) +
                                    QLatin1Char(')')) != SQLITE_OK)
        return q.error(name);
    int rc = SQLITE_OK;
    while ((rc = q.step()) == SQLITE_ROW)
        out.append({q.value(1).toString(), kindOf(q.value(2).toString()), q.value(5).toInt(),
                    q.value(2).toString()});
    if (rc != SQLITE_DONE) {
        out.clear();
        return q.error(name);
    }
    if (out.isEmpty())
        return dbError(DbErr::TableNotFound, name);
    return {};
}

void Database::dropAttachment(const Attachment& a)
{
    tryRun(QStringLiteral("DROP VIEW IF EXISTS temp.") + quoted(a.localName));
    tryRun(QStringLiteral("DETACH DATABASE ") + quoted(a.schema));
}

void Database::detachTable(const QString& localName)
{
    ++m_epoch;
    if (!m_conn.isOpen())
        return;
    if (m_batch && m_withheld) {
        // The engine detaches no file inside a transaction, and withheld
        // writes are never committed: the file stays attached, unnamed,
        // until the connection closes.
        const auto it = m_attachments.find(localName.toLower());
        if (it != m_attachments.end()) {
            tryRun(QStringLiteral("DROP VIEW IF EXISTS temp.") + quoted(it->localName));
            m_lingering.append(*it);
            m_attachments.erase(it);
        }
        return;
    }
    if (m_batch)
        static_cast<void>(commitBatch()); // the engine detaches nothing inside a transaction
    // The engine refuses to detach a file while a statement reads it.
    for (RecordsetBase* rs : std::as_const(m_recordsets))
        rs->releaseReads();
    const auto it = m_attachments.find(localName.toLower());
    if (it != m_attachments.end()) {
        dropAttachment(*it);
        m_attachments.erase(it);
    } else {
        tryRun(QStringLiteral("DROP VIEW IF EXISTS temp.") + quoted(localName));
    }
}

Error Database::attachTable(const QString& localName, const QString& otherFile, const QString& sourceTable)
{
    ++m_epoch;
    if (!m_conn.isOpen())
        return dbError(DbErr::ObjectClosed);
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!identifier.match(localName).hasMatch() || sourceTable.isEmpty())
        return dbError(DbErr::InvalidOperation);
    if (m_batch) {
        // Withheld writes cannot be committed to make room for the file.
        if (m_withheld)
            return dbError(DbErr::InvalidOperation);
        if (Error e = commitBatch())
            return e;
    }
    detachTable(localName);
    if (otherFile.trimmed().isEmpty())
        return dbError(DbErr::InvalidPath, otherFile);
    const QString resolved = platform::resolve(otherFile);
    if (Error e = checkFile(resolved))
        return e;

    Attachment a;
    a.localName = localName;
    a.schema = QStringLiteral("mx_") + localName.toLower();
    {
        // The URI keeps the other file from being created too.
        QVariant none;
        if (Error e = scalar(QStringLiteral("ATTACH DATABASE ? AS ") + quoted(a.schema), {uriFor(resolved)},
                             none)) {
            if (e.number == DbErr::Reserved)
                e = dbErrorWithDetail(DbErr::CannotOpenFile, resolved, m_conn.message());
            return e;
        }
    }
    auto fail = [&](Error e) {
        tryRun(QStringLiteral("DROP VIEW IF EXISTS temp.") + quoted(localName));
        tryRun(QStringLiteral("DETACH DATABASE ") + quoted(a.schema));
        return e;
    };
    QVariant v;
    if (Error e =
            scalar(QStringLiteral("PRAGMA ") + quoted(a.schema) + QStringLiteral(".schema_version"), {}, v);
        e || !v.isValid()) {
        if (!e || e.number == DbErr::Reserved)
            e = dbErrorWithDetail(DbErr::CannotOpenDatabase, resolved, e.text);
        return fail(e);
    }
    const QString mode = m_withheld ? QStringLiteral("memory") : QStringLiteral("delete");
    if (!scalar(QStringLiteral("PRAGMA ") + quoted(a.schema) + QStringLiteral(".journal_mode=") + mode, {},
                v) &&
        v.isValid() && v.toString().compare(mode, Qt::CaseInsensitive) != 0)
        return fail(dbErrorWithDetail(DbErr::CannotOpenFile, resolved, QStringLiteral("journal mode")));
    if (Error e =
            scalar(QStringLiteral("SELECT name FROM ") + quoted(a.schema) +
                       QStringLiteral(".sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE"),
                   {sourceTable}, v))
        return fail(e);
    if (v.isNull())
        return fail(dbError(DbErr::TableNotFound, sourceTable));
    a.sourceTable = v.toString();
    if (Error e = run(QStringLiteral("CREATE TEMP VIEW ") + quoted(localName) +
                      QStringLiteral(" AS SELECT * FROM ") + quoted(a.schema) + QLatin1Char('.') +
                      quoted(a.sourceTable)))
        return fail(e);
    m_attachments.insert(localName.toLower(), a);
    return {};
}

void Database::close()
{
    ++m_epoch;
    // Recordsets stay bound to this database (they can be opened again after
    // it is reopened); only their statements go.
    const QList<RecordsetBase*> bound = m_recordsets;
    for (RecordsetBase* rs : bound)
        rs->close();
    if (m_conn.isOpen()) {
        if (m_withheld)
            rollbackBatch();
        else
            static_cast<void>(commitBatch()); // nothing to tell a closing database
        for (const Attachment& a : std::as_const(m_attachments))
            dropAttachment(a);
        for (const Attachment& a : std::as_const(m_lingering))
            dropAttachment(a);
        m_conn.close();
    }
    m_batch.reset();
    m_batchWrites.clear();
    m_beforeFirstChange = nullptr;
    m_changeRefused = Error();
    m_pointMarked = false;
    m_changesTakenBack = 0;
    m_attachments.clear();
    m_lingering.clear();
    m_path.clear();
}

} // namespace mirsalex
