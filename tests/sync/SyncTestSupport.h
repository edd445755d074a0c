#pragma once

#include "sync/ClientTransfer.h"
#include "sync/Schema.h"

#include <atomic>
#include <gtest/gtest.h>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVariantMap>

namespace mirsalex::test {

// Plain SQLite access to a test file, independent of the engine under test.
class RawDb
{
public:
    explicit RawDb(const QString& path)
    {
        static std::atomic<int> counter{0};
        m_name = QStringLiteral("raw-%1").arg(++counter);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~RawDb()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    void exec(const QString& sql, const QVariantList& binds = {})
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        ASSERT_TRUE(q.prepare(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        for (int i = 0; i < binds.size(); ++i)
            q.bindValue(i, binds[i]);
        ASSERT_TRUE(q.exec()) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }
    QVariant value(const QString& sql, const QVariantList& binds = {})
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.prepare(sql);
        for (int i = 0; i < binds.size(); ++i)
            q.bindValue(i, binds[i]);
        if (!q.exec() || !q.next())
            return QVariant();
        return q.value(0);
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
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.prepare(QStringLiteral("SELECT * FROM Clienti WHERE CliCodice = ?"));
        q.addBindValue(code);
        if (q.exec() && q.next()) {
            for (int i = 0; i < q.record().count(); ++i)
                out.insert(q.record().fieldName(i), q.value(i));
        }
        return out;
    }

private:
    QString m_name;
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
