#include "db/Database.h"

#include "common/Platform.h"
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

// Page cache of a connection, in KiB.
constexpr int kCacheKiB = 16384;

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

namespace {

// mx_walk(x): notes x for the row walk (see setWalkNotes) and gives 0.
void noteWalkedRow(sqlite3_context* context, int, sqlite3_value** values)
{
    auto* rows = *static_cast<std::vector<qint64>**>(sqlite3_user_data(context));
    if (rows)
        rows->push_back(sqlite3_value_int64(values[0]));
    sqlite3_result_int(context, 0);
}

// mx_kinds(kinds, v1, v2, ...): 1 when each value is of the kind its letter
// in `kinds` names ('t' a text or Null, 'n' a number or Null), else 0.
void valuesOfKinds(sqlite3_context* context, int count, sqlite3_value** values)
{
    const auto* kinds = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
    const int letters = sqlite3_value_bytes(values[0]);
    int fits = kinds && letters == count - 1 ? 1 : 0;
    for (int i = 1; fits && i < count; ++i) {
        const int type = sqlite3_value_type(values[i]);
        if (type == SQLITE_NULL)
            continue;
        fits = kinds[i - 1] == 't' ? type == SQLITE_TEXT : (type == SQLITE_INTEGER || type == SQLITE_FLOAT);
    }
    sqlite3_result_int(context, fits);
}

const char kNotOfItsKind[] = "mx: a value not of its field's kind";

// mx_text(x): a text as the program stores it (TestoODefault): a blank for a
// Null, an empty or blank text, or one beginning with the character of code
// 0; any other text as it is. Fails on a value of any other kind.
void storedText(sqlite3_context* context, int, sqlite3_value** values)
{
    switch (sqlite3_value_type(values[0])) {
    case SQLITE_NULL:
        sqlite3_result_text(context, " ", 1, SQLITE_STATIC);
        return;
    case SQLITE_TEXT: {
        const auto* text = sqlite3_value_text(values[0]);
        const int size = sqlite3_value_bytes(values[0]);
        if (size > 0 && text[0] > ' ') {
            sqlite3_result_value(context, values[0]);
            return;
        }
        int i = 0;
        while (i < size && text[i] == ' ')
            ++i;
        if (size == 0 || text[0] == 0 || i == size)
            sqlite3_result_text(context, " ", 1, SQLITE_STATIC);
        else
            sqlite3_result_value(context, values[0]);
        return;
    }
    default:
        sqlite3_result_error(context, kNotOfItsKind, -1);
    }
}

// mx_number(x): a number as the program stores it (NumeroOZero): 0 for a
// Null, a number as it is. Fails on a value of any other kind.
void storedNumber(sqlite3_context* context, int, sqlite3_value** values)
{
    switch (sqlite3_value_type(values[0])) {
    case SQLITE_NULL:
        sqlite3_result_int(context, 0);
        return;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        sqlite3_result_value(context, values[0]);
        return;
    default:
        sqlite3_result_error(context, kNotOfItsKind, -1);
    }
}

} // namespace

Error Database::markPoint()
{
    ++m_epoch;
    return run(QStringLiteral("SAVEPOINT mx_point"));
}

Error Database::keepPoint()
{
    ++m_epoch;
    return run(QStringLiteral("RELEASE mx_point"));
}

Error Database::takeBackToPoint()
{
    ++m_epoch;
    if (Error e = run(QStringLiteral("ROLLBACK TO mx_point")))
        return e;
    return run(QStringLiteral("RELEASE mx_point"));
}

Error Database::run(const QString& sql)
{
    if (m_conn.exec(sql) != SQLITE_OK)
        return lastError(m_path);
    return {};
}

void Database::tryRun(const QString& sql)
{
    static_cast<void>(run(sql));
}

Error Database::scalar(const QString& sql, const QVariantList& params, QVariant& out) const
{
    out = QVariant();
    Statement st;
    if (st.prepare(m_conn.get(), sql) != SQLITE_OK)
        return st.error(m_path);
    if (st.bindAll(params) != SQLITE_OK)
        return st.error(m_path);
    const int rc = st.step();
    if (rc == SQLITE_ROW)
        out = st.value(0);
    else if (rc != SQLITE_DONE)
        return st.error(m_path);
    return {};
}

Error Database::noteFailure(const Error& error)
{
    ++m_epoch;
    // Some failures (disk full, I/O errors) make the engine roll back the
    // whole transaction. Find out, so that a batch that is gone is never
    // reported as stored; what is written after it goes into a transaction
    // again, committed (or not) with the rest of the batch.
    if (m_batch && !m_batchLost && !m_conn.inTransaction()) {
        m_batchLost = true;
        m_batchLostError = error;
        m_batch->abandon();
        m_batch = std::make_unique<sqlite::Transaction>(m_conn, sqlite::Transaction::Mode::Deferred);
    }
    return error;
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
    sqlite3_create_function_v2(m_conn.get(), "mx_walk", 1, SQLITE_UTF8 | SQLITE_DIRECTONLY, &m_walkNotes,
                               noteWalkedRow, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(m_conn.get(), "mx_kinds", -1,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, valuesOfKinds,
                               nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(m_conn.get(), "mx_text", 1,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, storedText,
                               nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(m_conn.get(), "mx_number", 1,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, storedNumber,
                               nullptr, nullptr, nullptr);

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
    // The rows a statement sets aside (the rows it reads from the table it
    // writes, the pages a savepoint keeps) stay in memory, not in files of
    // their own that would wait for the disk.
    tryRun(QStringLiteral("PRAGMA temp_store = MEMORY"));
    return {};
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
        out.append({q.value(1).toString(), kindOf(q.value(2).toString()), q.value(5).toInt()});
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

Error Database::execute(const QString& statement, int* rowsAffected)
{
    return execute(statement, QVariantList(), rowsAffected);
}

Error Database::execute(const QString& statement, const QVariantList& params, int* rowsAffected)
{
    ++m_epoch;
    if (rowsAffected)
        *rowsAffected = 0;
    if (!m_conn.isOpen())
        return dbError(DbErr::ObjectClosed);
    if (Error e = prepareWrite())
        return e;
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
        return dbError(select.match(sql).hasMatch() ? DbErr::SelectNotExecutable : DbErr::InvalidStatement);
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

    Statement st;
    if (st.prepare(m_conn.get(), sql) != SQLITE_OK)
        return noteFailure(st.error(m_path));
    if (st.parameterCount() != params.size())
        return dbError(DbErr::ParameterCount, QString::number(st.parameterCount()));
    for (int i = 0; i < int(params.size()); ++i) {
        if (st.bind(i, params[i]) != SQLITE_OK)
            return st.error(m_path);
    }

    for (RecordsetBase* rs : std::as_const(m_recordsets))
        rs->releaseReads();
    // Whole or nothing: the statement runs inside a savepoint of its own.
    sqlite::Savepoint savepoint(m_conn, QStringLiteral("mx_execute"));
    if (savepoint.begun() != SQLITE_OK)
        return noteFailure(lastError(m_path));
    Error failure;
    int rc = st.step();
    while (rc == SQLITE_ROW) // a statement that also returns rows runs to its end
        rc = st.step();
    if (rc != SQLITE_DONE)
        failure = st.error(m_path);
    const int changed = failure ? 0 : st.changes();
    st.finalize();
    if (!failure && savepoint.release() != SQLITE_OK)
        failure = lastError(m_path);
    if (failure) {
        savepoint.rollback();
        return noteFailure(failure);
    }
    if (rowsAffected)
        *rowsAffected = changed;
    return {};
}

Error Database::beginBatch()
{
    ++m_epoch;
    if (!m_conn.isOpen())
        return dbError(DbErr::ObjectClosed);
    if (m_batch)
        return {};
    // IMMEDIATE: the write lock is taken now, waiting for it under the busy
    // timeout. A deferred batch would take it only at its first write, and
    // the engine then fails at once, without waiting, on a file that another
    // program is writing.
    auto batch = std::make_unique<sqlite::Transaction>(m_conn, sqlite::Transaction::Mode::Immediate);
    if (batch->begun() != SQLITE_OK)
        return lastError(m_path);
    m_batch = std::move(batch);
    m_batchLost = false;
    m_batchLostError = Error();
    return {};
}

qint64 Database::totalChanges() const
{
    return m_conn.isOpen() ? qint64(sqlite3_total_changes64(m_conn.get())) : 0;
}

Error Database::prepareWrite()
{
    if (m_withheld && !m_batch)
        return beginBatch();
    return {};
}

Error Database::commitBatch()
{
    ++m_epoch;
    if (!m_batch)
        return {};
    // Withheld writes stay in the one open transaction (a failure the
    // engine rolled back the batch for is still told).
    if (m_withheld) {
        Error e;
        if (m_batchLost) {
            m_batchLost = false;
            e = m_batchLostError;
            m_batchLostError = Error();
        }
        if (!e)
            ++m_batchesKept;
        return e;
    }
    const std::unique_ptr<sqlite::Transaction> batch = std::move(m_batch);
    Error e;
    if (batch->commit() != SQLITE_OK) {
        e = lastError(m_path);
        batch->rollback();
    }
    if (m_batchLost) {
        m_batchLost = false;
        e = m_batchLostError;
        m_batchLostError = Error();
    }
    if (!e)
        ++m_batchesKept;
    return e;
}

void Database::rollbackBatch()
{
    ++m_epoch;
    if (!m_batch)
        return;
    m_batch->rollback();
    m_batch.reset();
    m_batchLost = false;
    m_batchLostError = Error();
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
    m_attachments.clear();
    m_lingering.clear();
    m_path.clear();
}

} // namespace mirsalex
