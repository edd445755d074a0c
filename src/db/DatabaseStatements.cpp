// Database: statements, savepoints and batches.

#include "db/Database.h"
#include "db/Statement.h"

#include <QRegularExpression>
#include <sqlite3.h>
#include <utility>

namespace mirsalex {

namespace {

// While a statement runs before the first change of a connection: the
// first row it changes stops it within a few steps of the engine (the
// engine then takes the whole transaction back), instead of letting it run
// to its end only to be taken back and run again. Rows changed where the
// engine reports no row (a table emptied whole, a table without row
// numbers) are not seen: the statement then runs to its end, and the
// change is found in the count of changes.
class FirstChangeWatch
{
public:
    FirstChangeWatch(sqlite3* connection, bool on) : m_connection(on ? connection : nullptr)
    {
        if (!m_connection)
            return;
        sqlite3_update_hook(m_connection, &FirstChangeWatch::changed, this);
        sqlite3_progress_handler(m_connection, kSteps, &FirstChangeWatch::stop, this);
    }
    ~FirstChangeWatch()
    {
        if (!m_connection)
            return;
        sqlite3_update_hook(m_connection, nullptr, nullptr);
        sqlite3_progress_handler(m_connection, 0, nullptr, nullptr);
    }
    FirstChangeWatch(const FirstChangeWatch&) = delete;
    FirstChangeWatch& operator=(const FirstChangeWatch&) = delete;

    // True when the statement was stopped at its first change.
    bool stopped(int rc) const { return m_seen && rc == SQLITE_INTERRUPT; }

private:
    static constexpr int kSteps = 64;

    static void changed(void* self, int, const char*, const char*, sqlite3_int64)
    {
        static_cast<FirstChangeWatch*>(self)->m_seen = true;
    }
    static int stop(void* self) { return static_cast<FirstChangeWatch*>(self)->m_seen ? 1 : 0; }

    sqlite3* m_connection;
    bool m_seen = false;
};

} // namespace

Error Database::markPoint()
{
    ++m_epoch;
    const Error e = run(QStringLiteral("SAVEPOINT mx_point"));
    m_pointMarked = !e;
    return e;
}

Error Database::keepPoint()
{
    ++m_epoch;
    m_pointMarked = false;
    return run(QStringLiteral("RELEASE mx_point"));
}

Error Database::takeBackToPoint()
{
    ++m_epoch;
    m_pointMarked = false;
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

Error Database::rowNumbers(const QString& query, std::vector<qint64>& out) const
{
    out.clear();
    Statement st;
    if (st.prepare(m_conn.get(), query) != SQLITE_OK)
        return st.error(m_path);
    int rc = SQLITE_OK;
    while ((rc = st.step()) == SQLITE_ROW)
        out.push_back(st.int64(0));
    if (rc != SQLITE_DONE)
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

Error Database::execute(const QString& statement, int* rowsAffected)
{
    return execute(statement, QVariantList(), rowsAffected);
}

Error Database::execute(const QString& statement, const QVariantList& params, int* rowsAffected)
{
    return executeWith(statement, params, QString(), rowsAffected);
}

Error Database::executeProbed(const QString& statement, const QString& changesIf, int* rowsAffected)
{
    return executeWith(statement, QVariantList(), changesIf, rowsAffected);
}

Error Database::executeWith(const QString& statement, const QVariantList& params, const QString& changesIf,
                            int* rowsAffected)
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

    if (m_changeRefused)
        return m_changeRefused;

    if (!changesIf.isEmpty() && m_beforeFirstChange && !m_withheld) {
        // (A query that fails decides nothing: the statement tells.)
        QVariant found;
        if (!scalar(changesIf, {}, found) && found.isValid()) {
            if (Error e = aboutToChange())
                return e;
        }
    }

    for (;;) {
        for (RecordsetBase* rs : std::as_const(m_recordsets))
            rs->releaseReads();
        // Whole or nothing: the statement runs inside a savepoint of its own.
        sqlite::Savepoint savepoint(m_conn, QStringLiteral("mx_execute"));
        if (savepoint.begun() != SQLITE_OK)
            return noteFailure(lastError(m_path));
        const qint64 changesBefore = totalChanges();
        Error failure;
        int rc = SQLITE_OK;
        bool stoppedAtFirst = false;
        {
            // (Withheld writes keep their batch: their statement is taken
            // back on its own, below.)
            const FirstChangeWatch watch(m_conn.get(), m_beforeFirstChange && !m_withheld);
            rc = st.step();
            while (rc == SQLITE_ROW) // a statement that also returns rows runs to its end
                rc = st.step();
            stoppedAtFirst = watch.stopped(rc);
        }
        if (stoppedAtFirst) {
            // Stopped at its first change: the engine has taken back the
            // whole transaction, which had changed nothing before it.
            m_changesTakenBack += totalChanges() - changesBefore;
            st.reset();
            savepoint.abandon();
            if (Error e = aboutToChange())
                return e;
            continue;
        }
        if (rc != SQLITE_DONE)
            failure = st.error(m_path);
        if (!failure && m_beforeFirstChange && totalChanges() != changesBefore) {
            // The first rows changed: taken back with the transaction
            // (nothing else has changed in it, and nothing has reached the
            // file), the call made on the files as they stood, then the
            // statement run again.
            m_changesTakenBack += totalChanges() - changesBefore;
            st.reset();
            if (m_withheld)
                savepoint.rollback();
            else
                savepoint.abandon(); // rolled back with the transaction
            if (Error e = aboutToChange())
                return e;
            continue;
        }
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
}

void Database::setBeforeFirstChange(std::function<Error()> call)
{
    m_beforeFirstChange = std::move(call);
    m_changeRefused = Error();
}

Error Database::aboutToChange()
{
    if (m_changeRefused)
        return m_changeRefused;
    if (!m_beforeFirstChange)
        return {};
    const std::function<Error()> call = std::move(m_beforeFirstChange);
    m_beforeFirstChange = nullptr;
    ++m_epoch;
    // The transaction open (a batch, a point) has changed no row yet: it is
    // rolled back, which leaves the file untouched (a commit would write
    // the pages a statement took back, and a new change counter) and takes
    // the journal away, so that the files are handed over with no journal
    // beside them and no write lock on them. (Withheld writes never reach
    // the disk: their batch stays.)
    // (A statement stopped at its first change has already made the engine
    // take the transaction back.)
    const bool resume = m_batch && !m_withheld;
    const bool open = m_conn.inTransaction();
    const bool rolledBack = !m_withheld && (open || m_batch);
    if (rolledBack) {
        for (RecordsetBase* rs : std::as_const(m_recordsets))
            rs->releaseReads();
        if (open)
            m_conn.exec(QStringLiteral("ROLLBACK"));
        if (m_batch) {
            m_batch->abandon();
            m_batch.reset();
        }
    }
    Error error = call();
    if (error)
        m_changeRefused = error;
    if (resume) {
        if (Error e = openBatch(); e && !error)
            error = e;
    }
    // The point marked, where it was: nothing has changed since.
    if (rolledBack && m_pointMarked) {
        if (Error e = markPoint(); e && !error)
            error = e;
    }
    return error;
}

Error Database::openBatch()
{
    // The write lock is taken now, waiting for it under the busy timeout. A
    // batch that took it only at its first write, on a file it has read
    // since it began, would fail at once, without waiting, on a file that
    // another program is writing.
    if (m_batchWrites.isEmpty()) {
        auto batch = std::make_unique<sqlite::Transaction>(m_conn, sqlite::Transaction::Mode::Immediate);
        if (batch->begun() != SQLITE_OK)
            return lastError(m_path);
        m_batch = std::move(batch);
        return {};
    }
    // Only the files named: a statement that writes nothing, run before the
    // batch reads anything, takes each one's lock as BEGIN IMMEDIATE would.
    auto batch = std::make_unique<sqlite::Transaction>(m_conn, sqlite::Transaction::Mode::Deferred);
    if (batch->begun() != SQLITE_OK)
        return lastError(m_path);
    for (const QString& table : std::as_const(m_batchWrites)) {
        if (m_conn.exec(QStringLiteral("DELETE FROM ") + table + QStringLiteral(" WHERE 0")) != SQLITE_OK)
            return lastError(m_path); // (told before the batch is rolled back)
    }
    m_batch = std::move(batch);
    return {};
}

Error Database::beginBatch(const QStringList& writes)
{
    ++m_epoch;
    if (!m_conn.isOpen())
        return dbError(DbErr::ObjectClosed);
    if (m_batch)
        return {};
    m_batchWrites = writes;
    if (Error e = openBatch())
        return e;
    m_batchLost = false;
    m_batchLostError = Error();
    return {};
}

qint64 Database::totalChanges() const
{
    return m_conn.isOpen() ? qint64(sqlite3_total_changes64(m_conn.get())) - m_changesTakenBack : 0;
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
    // Withheld writes stay in the one open transaction; a failure the
    // engine rolled the batch back for is told either way, before the
    // commit's own.
    Error e;
    if (!m_withheld) {
        const std::unique_ptr<sqlite::Transaction> batch = std::move(m_batch);
        if (batch->commit() != SQLITE_OK) {
            e = lastError(m_path);
            batch->rollback();
        }
    }
    if (m_batchLost) {
        m_batchLost = false;
        e = std::exchange(m_batchLostError, Error());
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

} // namespace mirsalex
