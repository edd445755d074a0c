#pragma once

#include "sync/ClientTransfer.h"
#include "sync/Schema.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>
#include <QVariantMap>
#include <sqlite3.h>

namespace mirsalex::test {

// Plain SQLite access to a test file, independent of the engine under test:
// a connection of its own on the engine's C library, none of the engine
// layer's classes. Values come back as the engine layer hands them (64-bit
// integers, doubles, QString, QByteArray, Null as a null QString) and are
// bound the same way.
class RawDb
{
public:
    explicit RawDb(const QString& path)
    {
        const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        EXPECT_EQ(rc, SQLITE_OK) << (m_db ? sqlite3_errmsg(m_db) : "no connection");
        if (m_db)
            sqlite3_busy_timeout(m_db, 5000);
    }
    ~RawDb() { sqlite3_close_v2(m_db); }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    void exec(const QString& sql, const QVariantList& binds = {})
    {
        sqlite3_stmt* st = prepare(sql, binds);
        ASSERT_NE(st, nullptr) << sql.toStdString() << ": " << sqlite3_errmsg(m_db);
        int rc = SQLITE_ROW;
        while (rc == SQLITE_ROW)
            rc = sqlite3_step(st);
        const std::string error = sqlite3_errmsg(m_db);
        sqlite3_finalize(st);
        ASSERT_EQ(rc, SQLITE_DONE) << sql.toStdString() << ": " << error;
    }
    QVariant value(const QString& sql, const QVariantList& binds = {})
    {
        QVariant out;
        sqlite3_stmt* st = prepare(sql, binds);
        if (st && sqlite3_step(st) == SQLITE_ROW)
            out = column(st, 0);
        sqlite3_finalize(st);
        return out;
    }
    // A client row with the given fields (others Null).
    void insertClient(const QVariantMap& fields)
    {
        QString names, marks;
        QVariantList values;
        for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
            if (!names.isEmpty()) {
                names += QLatin1Char(',');
                marks += QLatin1Char(',');
            }
            names += it.key();
            marks += QLatin1Char('?');
            values << it.value();
        }
        exec(QStringLiteral("INSERT INTO Clienti (") + names + QStringLiteral(") VALUES (") + marks +
                 QLatin1Char(')'),
             values);
    }
    QVariantMap client(qint32 code)
    {
        QVariantMap out;
        sqlite3_stmt* st = prepare(QStringLiteral("SELECT * FROM Clienti WHERE CliCodice = ?"), {code});
        if (st && sqlite3_step(st) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                out.insert(QString::fromUtf8(sqlite3_column_name(st, i)), column(st, i));
        }
        sqlite3_finalize(st);
        return out;
    }

private:
    sqlite3_stmt* prepare(const QString& sql, const QVariantList& binds)
    {
        sqlite3_stmt* st = nullptr;
        if (!m_db || sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
            return nullptr;
        for (int i = 0; i < binds.size(); ++i) {
            const QVariant& v = binds[i];
            const int at = i + 1;
            if (v.isNull()) {
                sqlite3_bind_null(st, at);
                continue;
            }
            switch (v.typeId()) {
            case QMetaType::Bool:
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::LongLong:
            case QMetaType::Long:
            case QMetaType::Short:
                sqlite3_bind_int64(st, at, v.toLongLong());
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                sqlite3_bind_double(st, at, v.toDouble());
                break;
            case QMetaType::QByteArray: {
                const QByteArray b = v.toByteArray();
                sqlite3_bind_blob(st, at, b.constData(), int(b.size()), SQLITE_TRANSIENT);
                break;
            }
            default: {
                const QByteArray t = v.toString().toUtf8();
                sqlite3_bind_text(st, at, t.constData(), int(t.size()), SQLITE_TRANSIENT);
                break;
            }
            }
        }
        return st;
    }
    static QVariant column(sqlite3_stmt* st, int i)
    {
        switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(st, i)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(st, i));
        case SQLITE_NULL:
            return QVariant(QMetaType::fromType<QString>());
        case SQLITE_BLOB:
            return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(st, i)),
                                       sqlite3_column_bytes(st, i)));
        default:
            return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                                              sqlite3_column_bytes(st, i)));
        }
    }

    sqlite3* m_db = nullptr;
};

inline QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

} // namespace mirsalex::test
