#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;

namespace mirsalex::sqlite {

// The small owning types over SQLite's C library that the engine layer is
// built on. Each owns one engine object and releases it when it goes; none
// of them decides what a failure means (the engine layer does, through
// Database::fromNative()).

// The engine's result codes and open flags that callers outside this layer
// test or pass (checked against the engine's own values where it is built).
inline constexpr int kOk = 0;
inline constexpr int kRow = 100;
inline constexpr int kDone = 101;
inline constexpr int kOpenReadWrite = 0x00000002;
inline constexpr int kOpenCreate = 0x00000004;
inline constexpr int kOpenNoMutex = 0x00008000;

// The collation every connection knows: texts compared without regard to
// case, as the main application's engine compares its keys, for every
// letter ("È" equals "è"), not only ASCII ones as the engine's own NOCASE.
// It lives on the connection only: it is named in statements, never in a
// file's schema, so that any other program can still read every file.
inline constexpr char kFoldCollation[] = "MX_NOCASE";

// Compares two UTF-8 texts as kFoldCollation does: <0, 0, >0.
int foldCompare(const char* a, int aLength, const char* b, int bLength);

// One connection to the engine, owning its handle.
class Connection
{
public:
    Connection() = default;
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens `uri` (a "file:" URI) with the engine's `flags`; SQLITE_OPEN_URI
    // is always added. Extended result codes are on and `busyTimeout`
    // milliseconds are waited for another program's lock; the collation
    // kFoldCollation is registered. Returns the
    // engine's result code; on failure nothing stays open and message()
    // tells why.
    int open(const QString& uri, int flags, int busyTimeout);
    // Closes the connection (statements still open on it keep it alive
    // until they are finalized); harmless when closed.
    void close();
    bool isOpen() const { return m_db != nullptr; }
    sqlite3* get() const { return m_db; }

    // Runs SQL text that returns no rows needed (one or more statements).
    // Returns the engine's result code.
    int exec(const QString& sql);
    // The extended code and the message of the last failure.
    int errorCode() const;
    QString message() const;
    // Whether a transaction is open on the connection.
    bool inTransaction() const;

private:
    sqlite3* m_db = nullptr;
    int m_openCode = 0;
    QString m_openMessage; // why the last open() failed
};

// A transaction that is rolled back when the guard goes without commit().
class Transaction
{
public:
    enum class Mode
    {
        Deferred,
        Immediate // takes the file for writing at once, waiting under the busy timeout
    };
    Transaction(Connection& db, Mode mode);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // The result code of BEGIN: nothing is open unless it is 0.
    int begun() const { return m_begun; }
    bool isActive() const { return m_active; }
    // COMMIT. Returns its result code; after a failure the transaction
    // stays open (the connection's message still tells why) until
    // rollback() or the guard goes.
    int commit();
    void rollback();
    // Forgets a transaction that the engine has already rolled back.
    void abandon() { m_active = false; }

private:
    Connection& m_db;
    int m_begun = 0;
    bool m_active = false;
};

// A savepoint: released by release(), rolled back to (and released) when
// the guard goes without it. Inside a transaction it undoes only its own
// changes; outside one it is a transaction of its own.
class Savepoint
{
public:
    Savepoint(Connection& db, const QString& name);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;

    int begun() const { return m_begun; }
    // RELEASE. Returns its result code; after a failure the savepoint stays
    // (the connection's message still tells why) until rollback() or the
    // guard goes.
    int release();
    void rollback();
    // Forgets a savepoint that has gone with its whole transaction.
    void abandon() { m_active = false; }

private:
    Connection& m_db;
    QString m_name; // quoted
    int m_begun = 0;
    bool m_active = false;
};

} // namespace mirsalex::sqlite
