#include "db/Integrity.h"

#include "db/Database.h"

#include <QFileInfo>
#include <QUrl>
#include <sqlite3.h>

namespace mirsalex {

namespace {

// One read-only connection for the length of the check.
class ReadOnlyConnection
{
public:
    ReadOnlyConnection() = default;
    ~ReadOnlyConnection() { sqlite3_close_v2(m_db); }
    ReadOnlyConnection(const ReadOnlyConnection&) = delete;
    ReadOnlyConnection& operator=(const ReadOnlyConnection&) = delete;

    int open(const QString& path)
    {
        const QByteArray uri =
            (QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
             QStringLiteral("?mode=ro"))
                .toUtf8();
        const int rc =
            sqlite3_open_v2(uri.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        if (rc == SQLITE_OK)
            sqlite3_busy_timeout(m_db, Database::busyTimeout());
        return rc;
    }
    sqlite3* get() const { return m_db; }
    QString message() const { return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString(); }

private:
    sqlite3* m_db = nullptr;
};

} // namespace

DbError checkDatabaseIntegrity(const QString& path)
{
    if (DbError e = Database::checkFile(path))
        return e;
    ReadOnlyConnection db;
    if (const int rc = db.open(path); rc != SQLITE_OK)
        return Database::fromNative(rc, db.message(), path);

    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db.get(), "PRAGMA quick_check(20)", -1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        const DbError e = Database::fromNative(rc, db.message(), path);
        sqlite3_finalize(stmt);
        return e.number == DbErr::Reserved || e.number == DbErr::CannotOpenDatabase
                   ? DbError::withDetail(DbErr::CannotOpenDatabase, path, db.message())
                   : e;
    }
    QStringList findings;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        const QString line = text ? QString::fromUtf8(text) : QString();
        if (line.compare(QLatin1String("ok"), Qt::CaseInsensitive) != 0)
            findings << line;
    }
    const QString message = db.message();
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        const DbError e = Database::fromNative(rc, message, path);
        if (e.number == DbErr::RecordLocked)
            return e;
        return DbError::withDetail(DbErr::CannotOpenDatabase, path, message);
    }
    if (!findings.isEmpty())
        return DbError::withDetail(DbErr::CannotOpenDatabase, path, findings.join(QLatin1Char('\n')));
    return {};
}

} // namespace mirsalex
