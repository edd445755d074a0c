// The type mapping, the schema matching and the key check on values as the
// reader hands them over, and the writer on rows of every kind.
#include "access/JetData.h"

#include "access/AccessError.h"
#include "access/JetWriter.h"
#include "db/Sqlite.h"
#include "db/Statement.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

using namespace mirsalex;
using namespace mirsalex::access;

TEST(JetData, JetTypesMapToTheNearestSqliteType)
{
    for (int t : {JetType::Bool, JetType::Byte, JetType::Int, JetType::LongInt})
        EXPECT_EQ(sqliteTypeFor(t), "INTEGER") << t;
    for (int t : {JetType::Money, JetType::Float, JetType::Double, JetType::Numeric, JetType::DateTime})
        EXPECT_EQ(sqliteTypeFor(t), "REAL") << t;
    for (int t : {JetType::Binary, JetType::Ole})
        EXPECT_EQ(sqliteTypeFor(t), "BLOB") << t;
    for (int t : {JetType::Text, JetType::Memo, JetType::RepId})
        EXPECT_EQ(sqliteTypeFor(t), "TEXT") << t;
    EXPECT_TRUE(isSystemTable("MSysObjects"));
    EXPECT_TRUE(isSystemTable("msysACEs"));
    EXPECT_FALSE(isSystemTable("Clienti"));
}

TEST(JetData, SchemaTablesMatchByNameWithoutCaseAndKeepExtraColumns)
{
    QString why;
    const auto schema = schemaTables(&why);
    ASSERT_FALSE(schema.isEmpty()) << why.toStdString();
    for (const char* t : {"clienti", "tabazioni", "azioni", "visiten", "appuntamenti", "indici"})
        EXPECT_TRUE(schema.contains(t)) << t;
    const SchemaTable& visits = schema["visiten"];
    ASSERT_EQ(visits.keys.size(), 1u);
    EXPECT_EQ(visits.keys[0], (std::vector<int>{0, 1})); // VsCliente, VsData

    JetTable t{"VISITEN",
               {{"vscliente", JetType::LongInt}, {"VSDATA", JetType::DateTime}, {"Nota", JetType::Memo}},
               {}};
    const auto cols = targetColumns(t, &visits);
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].name, "VsCliente");
    EXPECT_EQ(cols[0].kind, Database::ColumnKind::Integer);
    EXPECT_EQ(cols[1].name, "VsData");
    EXPECT_EQ(cols[1].kind, Database::ColumnKind::Real);
    EXPECT_TRUE(cols[1].type.isEmpty());
    EXPECT_EQ(cols[2].name, "Nota");
    EXPECT_EQ(cols[2].type, "TEXT");
    EXPECT_EQ(cols[2].schemaColumn, -1);

    // Values take the storage class of their column; a date stays its day number.
    EXPECT_EQ(toColumnKind(JetValue::number(5.0), Database::ColumnKind::Integer), JetValue::integer(5));
    EXPECT_EQ(toColumnKind(JetValue::number(5.5), Database::ColumnKind::Integer), JetValue::number(5.5));
    EXPECT_EQ(toColumnKind(JetValue::text("12"), Database::ColumnKind::Integer), JetValue::integer(12));
    EXPECT_EQ(toColumnKind(JetValue::integer(3), Database::ColumnKind::Real), JetValue::number(3.0));
    EXPECT_EQ(toColumnKind(JetValue::number(36525.75), Database::ColumnKind::Real),
              JetValue::number(36525.75));
    EXPECT_EQ(toColumnKind(JetValue::integer(7), Database::ColumnKind::Text), JetValue::text("7"));
    EXPECT_EQ(toColumnKind(JetValue::text("abc"), Database::ColumnKind::Integer), JetValue::text("abc"));
    EXPECT_EQ(toColumnKind(JetValue::null(), Database::ColumnKind::Integer), JetValue::null());
}

namespace {
JetTable visitsWithBadRows()
{
    return {"VisiteN",
            {{"VsCliente", JetType::LongInt}, {"VsData", JetType::DateTime}, {"VsVersato", JetType::Money}},
            {
                {JetValue::integer(5), JetValue::number(36525.5), JetValue::number(10)},
                {JetValue::integer(5), JetValue::number(36526.5), JetValue::number(10)},
                {JetValue::integer(5), JetValue::number(36525.5), JetValue::number(20)}, // duplicate of row 1
                {JetValue::null(), JetValue::number(36525.5), JetValue::null()},         // Null in the key
                {JetValue::integer(6), JetValue::null(), JetValue::null()},
                {JetValue::text("5"), JetValue::number(36526.5), JetValue::null()}, // duplicate of row 2
            }};
}
} // namespace

TEST(JetData, KeyViolationsAreListedRowByRow)
{
    const auto schema = schemaTables();
    int total = 0;
    const QStringList lines = keyViolations(visitsWithBadRows(), schema["visiten"], 100, &total);
    EXPECT_EQ(lines, QStringList({"VisiteN, riga 3: chiave duplicata (VsCliente = 5, VsData = 36525.5)",
                                  "VisiteN, riga 4: Null in VsCliente", "VisiteN, riga 5: Null in VsData",
                                  "VisiteN, riga 6: chiave duplicata (VsCliente = 5, VsData = 36526.5)"}));
    EXPECT_EQ(total, 4);
    EXPECT_EQ(keyViolations(visitsWithBadRows(), schema["visiten"], 2, &total).size(), 2);
    EXPECT_EQ(total, 4);
}

TEST(JetData, RowsBreakingAKeyWriteNothing)
{
    QTemporaryDir dir;
    Conversion c;
    c.source = dir.filePath("VisiteDV.mdb");
    c.target = dir.filePath("VisiteDV.sqlite");
    writeJetTables({visitsWithBadRows()}, c);
    EXPECT_EQ(c.error.number, AccessErr::KeyViolations); // refused before anything is written
    EXPECT_EQ(c.violations.size(), 4);
    EXPECT_TRUE(c.tables.empty());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

TEST(JetData, EveryKindOfValueIsWrittenExactly)
{
    QTemporaryDir dir;
    Conversion c;
    c.source = dir.filePath("DatiDV.mdb");
    c.target = dir.filePath("DatiDV.sqlite");
    const QByteArray bytes("\x00\x01\xff\x7f", 4);
    const JetTable clients{
        "CLIENTI",
        {{"CliCodice", JetType::LongInt},
         {"CliRagsoc", JetType::Text},
         {"CliNatoIl", JetType::DateTime},
         {"CliAbbinamento", JetType::Double},
         {"Foto", JetType::Ole}},
        {{JetValue::integer(1), JetValue::text("Società Èrre"), JetValue::number(21915.25),
          JetValue::number(0), JetValue::blob(bytes)},
         {JetValue::integer(2), JetValue::null(), JetValue::null(), JetValue::null(), JetValue::null()}}};
    const JetTable other{"Altro",
                         {{"Flag", JetType::Bool}, {"Importo", JetType::Money}},
                         {{JetValue::integer(1), JetValue::number(0.1)}}};
    writeJetTables({clients, other}, c);
    ASSERT_FALSE(c.error) << c.error.text.toStdString();
    ASSERT_EQ(c.tables.size(), 2u);
    EXPECT_EQ(c.tables[0].name, "CLIENTI");
    EXPECT_TRUE(c.tables[0].known);
    EXPECT_EQ(c.tables[0].rows, 2);
    EXPECT_FALSE(c.tables[1].known);

    sqlite::Connection db;
    ASSERT_EQ(db.open(QUrl::fromLocalFile(c.target).toString() + "?mode=ro", 1, 0), sqlite::kOk);
    Statement s;
    ASSERT_EQ(s.prepare(db.get(), "SELECT CliCodice, CliRagsoc, CliNatoIl, CliAbbinamento, Foto, "
                                  "typeof(CliAbbinamento) FROM Clienti ORDER BY CliCodice"),
              sqlite::kOk);
    ASSERT_EQ(s.step(), sqlite::kRow);
    EXPECT_EQ(s.int64(0), 1);
    EXPECT_EQ(s.value(1).toString(), QString::fromUtf8("Società Èrre"));
    EXPECT_EQ(s.columnDouble(2), 21915.25);
    EXPECT_EQ(s.value(5).toString(), "integer"); // the schema's type, not the Jet one
    EXPECT_EQ(s.columnBytes(4, true).toByteArray(), bytes);
    ASSERT_EQ(s.step(), sqlite::kRow);
    EXPECT_TRUE(s.value(1).isNull());
    Statement t;
    ASSERT_EQ(t.prepare(db.get(), "SELECT sql FROM sqlite_master WHERE name = 'Clienti'"), sqlite::kOk);
    ASSERT_EQ(t.step(), sqlite::kRow);
    EXPECT_TRUE(t.value(0).toString().contains("CliCodice        INTEGER NOT NULL PRIMARY KEY"));
    EXPECT_TRUE(t.value(0).toString().contains("\"Foto\" BLOB"));
    Statement j;
    ASSERT_EQ(j.prepare(db.get(), "PRAGMA journal_mode"), sqlite::kOk);
    ASSERT_EQ(j.step(), sqlite::kRow);
    EXPECT_EQ(j.value(0).toString(), "delete");

    // A second conversion never replaces the file.
    Conversion again = c;
    writeJetTables({clients}, again);
    EXPECT_TRUE(again.error);
}
