#include "db/Sqlite.h"

#include <sqlite3.h>

namespace mirsalex::sqlite {

static_assert(kOk == SQLITE_OK && kRow == SQLITE_ROW && kDone == SQLITE_DONE);
static_assert(kOpenReadWrite == SQLITE_OPEN_READWRITE && kOpenCreate == SQLITE_OPEN_CREATE &&
              kOpenNoMutex == SQLITE_OPEN_NOMUTEX);

int foldCompare(const char* a, int aLength, const char* b, int bLength)
{
    // Plain ASCII, by far the common case, folds byte by byte.
    const int n = aLength < bLength ? aLength : bLength;
    bool ascii = true;
    for (int i = 0; i < n; ++i) {
        unsigned ca = static_cast<unsigned char>(a[i]);
        unsigned cb = static_cast<unsigned char>(b[i]);
        if ((ca | cb) & 0x80u) {
            ascii = false;
            break;
        }
        if (ca - 'A' < 26u)
            ca += 'a' - 'A';
        if (cb - 'A' < 26u)
            cb += 'a' - 'A';
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (ascii) {
        if (aLength == bLength)
            return 0;
        return aLength < bLength ? -1 : 1;
    }
    return QString::compare(QString::fromUtf8(a, aLength), QString::fromUtf8(b, bLength),
                            Qt::CaseInsensitive);
}

namespace {

int foldCollation(void*, int aLength, const void* a, int bLength, const void* b)
{
    return foldCompare(static_cast<const char*>(a), aLength, static_cast<const char*>(b), bLength);
}

} // namespace

int Connection::open(const QString& uri, int flags, int busyTimeout)
{
    close();
    const QByteArray name = uri.toUtf8();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(name.constData(), &db, flags | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) {
        // The engine hands out a handle even when it fails, to say why.
        m_openCode = db ? sqlite3_extended_errcode(db) : rc;
        m_openMessage = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        return rc;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, busyTimeout);
    sqlite3_create_collation_v2(db, kFoldCollation, SQLITE_UTF8, nullptr, foldCollation, nullptr);
    m_db = db;
    m_openCode = 0;
    m_openMessage.clear();
    return SQLITE_OK;
}

void Connection::close()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

int Connection::exec(const QString& sql)
{
    if (!m_db)
        return SQLITE_MISUSE;
    return sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
}

int Connection::errorCode() const
{
    return m_db ? sqlite3_extended_errcode(m_db) : m_openCode;
}

QString Connection::message() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : m_openMessage;
}

bool Connection::inTransaction() const
{
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

// ---------------------------------------------------------------------------

Transaction::Transaction(Connection& db, Mode mode) : m_db(db)
{
    m_begun = db.exec(mode == Mode::Immediate ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
    m_active = m_begun == SQLITE_OK;
}

Transaction::~Transaction()
{
    rollback();
}

int Transaction::commit()
{
    if (!m_active)
        return SQLITE_OK;
    const int rc = m_db.exec(QStringLiteral("COMMIT"));
    if (rc == SQLITE_OK || !m_db.inTransaction())
        m_active = false;
    return rc;
}

void Transaction::rollback()
{
    if (!m_active)
        return;
    m_active = false;
    if (m_db.inTransaction())
        m_db.exec(QStringLiteral("ROLLBACK"));
}

// ---------------------------------------------------------------------------

Savepoint::Savepoint(Connection& db, const QString& name) : m_db(db)
{
    m_name = name;
    m_name.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    m_name = QLatin1Char('"') + m_name + QLatin1Char('"');
    m_begun = db.exec(QStringLiteral("SAVEPOINT ") + m_name);
    m_active = m_begun == SQLITE_OK;
}

Savepoint::~Savepoint()
{
    rollback();
}

int Savepoint::release()
{
    if (!m_active)
        return SQLITE_OK;
    const int rc = m_db.exec(QStringLiteral("RELEASE ") + m_name);
    if (rc == SQLITE_OK)
        m_active = false;
    return rc;
}

void Savepoint::rollback()
{
    if (!m_active)
        return;
    m_active = false;
    m_db.exec(QStringLiteral("ROLLBACK TO ") + m_name);
    m_db.exec(QStringLiteral("RELEASE ") + m_name);
}

} // namespace mirsalex::sqlite
