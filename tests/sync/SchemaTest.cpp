#include "sync/Schema.h"

#include "db/Database.h"
#include "db/TableRecordset.h"
#include "fixture/ClientData.h"
#include "sync/SyncTestSupport.h"

#include <QTemporaryDir>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

TEST(SchemaTest, CreatesEachDatabaseWithItsTablesAndRequiredKeys)
{
    QTemporaryDir dir;
    struct Case
    {
        schema::Kind kind;
        const char* file;
        QStringList tables;
    };
    const std::vector<Case> cases = {
        {schema::Kind::Clients, "DatiDV.mdb", {QStringLiteral("Clienti")}},
        {schema::Kind::Visits,
         "VisiteDV.mdb",
         {QStringLiteral("TabAzioni"), QStringLiteral("Azioni"), QStringLiteral("VisiteN"),
          QStringLiteral("Appuntamenti")}},
        {schema::Kind::Indices, "IndiciDV.mdb", {QStringLiteral("Indici")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(schema::fileName(c.kind), QLatin1String(c.file));
        const QString p = dir.filePath(QLatin1String(c.file));
        QString error;
        ASSERT_TRUE(schema::createDatabase(p, c.kind, &error)) << error.toStdString();
        const QByteArray bytes = fileBytes(p);
        EXPECT_FALSE(schema::createDatabase(p, c.kind, &error)) << "never overwrites";
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(fileBytes(p), bytes);
        Database db;
        ASSERT_FALSE(db.open(p));
        for (const QString& t : c.tables) {
            TableRecordset rs(db);
            ASSERT_FALSE(rs.open(t)) << t.toStdString();
            ASSERT_FALSE(rs.setIndex(QStringLiteral("primaria"))) << t.toStdString();
            // Every key field refuses Null.
            ASSERT_FALSE(rs.addNew());
            EXPECT_EQ(rs.update().number, DbErr::NullInRequiredField) << t.toStdString();
        }
    }
    Database closed;
    TableRecordset clients(closed); // a database that is not open: refused
    EXPECT_EQ(clients.open(QStringLiteral("Clienti")).number, DbErr::ObjectClosed);
}

TEST(SchemaTest, ClientsTableHoldsTheTwentyEightFields)
{
    QTemporaryDir dir;
    const QString p = dir.filePath(QStringLiteral("DatiDV.mdb"));
    ASSERT_TRUE(schema::createDatabase(p, schema::Kind::Clients));
    Database db;
    ASSERT_FALSE(db.open(p));
    TableRecordset rs(db);
    ASSERT_FALSE(rs.open(QStringLiteral("Clienti")));
    QStringList expected;
    for (const ClientField& f : kClientFields)
        expected << QLatin1String(f.name);
    EXPECT_EQ(rs.fieldNames(), expected);
}

TEST(SchemaTest, RefusesAMissingFolder)
{
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(
        schema::createDatabase(dir.filePath(QStringLiteral("no/DatiDV.mdb")), schema::Kind::Clients, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(FixtureTest, GeneratedClientsAreDeterministicAndComplete)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.mdb"));
    const QString b = dir.filePath(QStringLiteral("b.mdb"));
    ASSERT_TRUE(schema::createDatabase(a, schema::Kind::Clients));
    ASSERT_TRUE(schema::createDatabase(b, schema::Kind::Clients));
    QString error;
    ASSERT_TRUE(fixture::insertClients(a, 100, 500, 7, &error)) << error.toStdString();
    ASSERT_TRUE(fixture::insertClients(b, 100, 500, 7, &error));
    EXPECT_EQ(fileBytes(a).size(), fileBytes(b).size());
    RawDb ra(a);
    RawDb rb(b);
    const QString digest = QStringLiteral("SELECT group_concat(CliRagsoc || CliCodiceFiscale || CliCap || "
                                          "coalesce(CliVisite, '~'), '|') FROM Clienti");
    EXPECT_EQ(ra.value(digest), rb.value(digest));
    EXPECT_EQ(ra.value(QStringLiteral(
                           "SELECT min(CliCodice) || '-' || max(CliCodice) || '-' || count(*) FROM Clienti"))
                  .toString(),
              QStringLiteral("100-599-500"));
    EXPECT_EQ(
        ra.value(QStringLiteral(
                     "SELECT count(*) FROM Clienti WHERE length(CliCap) <> 5 OR length(CliProvincia) <> 2 "
                     "OR length(CliCodiceFiscale) <> 16 OR CliRagsoc IS NULL"))
            .toInt(),
        0);
    // Another seed gives other people; the same codes cannot be added twice.
    EXPECT_NE(fixture::generateClient(100, 7)[1], fixture::generateClient(100, 8)[1]);
    EXPECT_FALSE(fixture::insertClients(a, 599, 2, 7, &error));
    EXPECT_EQ(ra.value(QStringLiteral("SELECT count(*) FROM Clienti")).toInt(), 500)
        << "a failed fill adds nothing";
}

} // namespace
