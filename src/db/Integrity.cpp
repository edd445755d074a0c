#include "db/Integrity.h"

#include "db/Database.h"
#include "db/Sqlite.h"
#include "db/Statement.h"

#include <QFileInfo>
#include <QUrl>
#include <sqlite3.h>

namespace mirsalex {

namespace {

QString readOnlyUri(const QString& path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
           QStringLiteral("?mode=ro");
}

} // namespace

bool interruptedWriteBeside(const QString& path)
{
    const QFileInfo journal(path + QStringLiteral("-journal"));
    return journal.exists() && journal.size() > 0;
}

Error rollBackInterruptedWrite(const QString& path)
{
    if (!interruptedWriteBeside(path))
        return {};
    {
        sqlite::Connection db;
        const QString uri =
            QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
            QStringLiteral("?mode=rw");
        if (db.open(uri, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, Database::busyTimeout()) != SQLITE_OK)
            return Database::fromNative(db.errorCode(), db.message(), path);
        // The first read takes the shared lock, finds the journal hot and
        // plays it back.
        Statement read;
        int rc = read.prepare(db.get(), QStringLiteral("SELECT count(*) FROM sqlite_master"));
        if (rc == SQLITE_OK)
            rc = read.step();
        const QString message = db.message();
        read.finalize();
        if (rc != SQLITE_ROW)
            return dbErrorWithDetail(DbErr::CannotOpenDatabase, path, message);
    }
    return {};
}

Error checkDatabaseIntegrity(const QString& path)
{
    if (Error e = Database::checkFile(path))
        return e;
    // One read-only connection for the length of the check.
    sqlite::Connection db;
    if (db.open(readOnlyUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, Database::busyTimeout()) !=
        SQLITE_OK)
        return Database::fromNative(db.errorCode(), db.message(), path);

    Statement check;
    int rc = check.prepare(db.get(), QStringLiteral("PRAGMA quick_check(20)"));
    if (rc != SQLITE_OK) {
        const Error e = Database::fromNative(rc, db.message(), path);
        return e.number == DbErr::Reserved || e.number == DbErr::CannotOpenDatabase
                   ? dbErrorWithDetail(DbErr::CannotOpenDatabase, path, db.message())
                   : e;
    }
    QStringList findings;
    while ((rc = check.step()) == SQLITE_ROW) {
        const QString line = check.value(0).toString();
        if (line.compare(QLatin1String("ok"), Qt::CaseInsensitive) != 0)
            findings << line;
    }
    const QString message = db.message();
    check.finalize();
    if (rc != SQLITE_DONE) {
        const Error e = Database::fromNative(rc, message, path);
        if (e.number == DbErr::RecordLocked)
            return e;
        return dbErrorWithDetail(DbErr::CannotOpenDatabase, path, message);
    }
    if (!findings.isEmpty())
        return dbErrorWithDetail(DbErr::CannotOpenDatabase, path, findings.join(QLatin1Char('\n')));
    return {};
}

} // namespace mirsalex
