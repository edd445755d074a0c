#include "changes/ApplyChanges.h"
#include "changes/WithheldChanges.h"
#include "CliSupport.h"
#include "common/Prompt.h"
#include "sync/ClientsSync.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace mirsalex::test {
namespace {

// Runs SQL on a database file with the sqlite3 tool; returns its output.
QString sql(const QString& database, const QString& text)
{
    QString tool = qEnvironmentVariable("SQLITE3");
    if (tool.isEmpty())
        tool = QStringLiteral("sqlite3");
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(tool, {database, text});
    EXPECT_TRUE(p.waitForFinished(15000) && p.exitCode() == 0) << text.toStdString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The n-th row (0-based, in key order) that both files hold, as its rowid in
// `side`'s file, and its first key value.
struct Shared
{
    QString rowid;
    QString client;
};
Shared shared(const QString& side, const QString& other, const QString& table, const QString& keys, int n)
{
    const QString row =
        sql(side, QStringLiteral("ATTACH '%1' AS x; SELECT l.rowid || '|' || %2 FROM %3 AS l JOIN x.%3 AS e "
                                 "USING (%4) ORDER BY %4 LIMIT 1 OFFSET %5")
                      .arg(other, keys.section(QLatin1Char(','), 0, 0), table, keys)
                      .arg(n));
    EXPECT_FALSE(row.isEmpty()) << table.toStdString() << ": fewer than " << n + 1 << " rows on both sides";
    return {row.section(QLatin1Char('|'), 0, 0), row.section(QLatin1Char('|'), 1)};
}

QJsonObject divergences(const ProcessResult& r)
{
    return QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("divergences")).toObject();
}

// Over a generated installation, rows both sides hold are edited on one
// side or the other: a visit's amount and type on the portable side, an
// appointment's note and a client's address in the exchange area; another
// appointment and client differ only in case and trailing blanks, as the
// merges ignore. The dry run and the run then list exactly the three rows
// edited, each with the fields changed and both values, and count them per
// table; the dry run's text says the same.
TEST(Divergence, ListsExactlyTheRowsEditedOnOneSide)
{
    FixtureInstall inst(1, 0, 20, 7);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    inst.setTicks("00011");
    const QString localVisits = inst.path(QStringLiteral("portable/dati/P001/VisiteDV.mdb"));
    const QString exchangeVisits = inst.path(QStringLiteral("exchange/P001/VisiteDV.mdb"));
    const QString localClients = inst.path(QStringLiteral("portable/dati/P001/DatiDV.mdb"));
    const QString exchangeClients = inst.path(QStringLiteral("exchange/P001/DatiDV.mdb"));

    const Shared visit = shared(localVisits, exchangeVisits, QStringLiteral("VisiteN"),
                                QStringLiteral("VsCliente, VsData"), 0);
    const QString oldSaldo =
        sql(localVisits,
            QStringLiteral("SELECT coalesce(VsSaldo, '(nullo)') FROM VisiteN WHERE rowid = ") + visit.rowid);
    sql(localVisits,
        QStringLiteral("UPDATE VisiteN SET VsSaldo = 12345.5, VsTipoElenco = 'Z' WHERE rowid = ") +
            visit.rowid);
    const QString appointmentKeys = QStringLiteral("ApCliente, ApData, ApAzione");
    const Shared appointment =
        shared(exchangeVisits, localVisits, QStringLiteral("Appuntamenti"), appointmentKeys, 0);
    sql(exchangeVisits,
        QStringLiteral("UPDATE Appuntamenti SET ApNote = 'Spostato al pomeriggio' WHERE rowid = ") +
            appointment.rowid);
    // Case and trailing blanks only.
    const Shared sameAppointment =
        shared(exchangeVisits, localVisits, QStringLiteral("Appuntamenti"), appointmentKeys, 1);
    sql(exchangeVisits, QStringLiteral("UPDATE Appuntamenti SET ApCausa = 'RINNOVO  ' WHERE rowid = ") +
                            sameAppointment.rowid);
    sql(localVisits,
        QStringLiteral("ATTACH '%1' AS x; UPDATE Appuntamenti SET ApCausa = 'Rinnovo' WHERE "
                       "(ApCliente, ApData, ApAzione) IN (SELECT ApCliente, ApData, ApAzione FROM "
                       "x.Appuntamenti WHERE rowid = %2)")
            .arg(exchangeVisits, sameAppointment.rowid));

    const Shared client =
        shared(exchangeClients, localClients, QStringLiteral("Clienti"), QStringLiteral("CliCodice"), 0);
    const QString oldAddress = sql(
        localClients, QStringLiteral("SELECT CliIndirizzo FROM Clienti WHERE CliCodice = ") + client.client);
    sql(exchangeClients,
        QStringLiteral("UPDATE Clienti SET CliIndirizzo = 'Via Nuova 1' WHERE CliCodice = ") + client.client);
    const Shared sameClient =
        shared(exchangeClients, localClients, QStringLiteral("Clienti"), QStringLiteral("CliCodice"), 1);
    sql(exchangeClients,
        QStringLiteral("UPDATE Clienti SET CliNazione = 'ITALIA   ' WHERE CliCodice = ") + sameClient.client);
    sql(localClients,
        QStringLiteral("UPDATE Clienti SET CliNazione = 'Italia' WHERE CliCodice = ") + sameClient.client);

    const QStringList options{QStringLiteral("--operator"), QStringLiteral("P001"), QStringLiteral("--yes")};
    const QStringList json{QStringLiteral("--report"), QStringLiteral("json")};
    const ProcessResult text =
        inst.batch(QStringLiteral("portable"), options + QStringList{QStringLiteral("--dry-run")});
    EXPECT_TRUE(text.out.contains(QStringLiteral(
        "Righe diverse sui due lati (l'aggiornamento non le modifica): Clienti 1, TabAzioni 0, Azioni 0, "
        "VisiteN 1, Appuntamenti 1\n")))
        << testing::PrintToString(text);
    const ProcessResult dry =
        inst.batch(QStringLiteral("portable"), options + json + QStringList{QStringLiteral("--dry-run")});
    const ProcessResult real = inst.batch(QStringLiteral("portable"), options + json);
    for (const ProcessResult* run : {&dry, &real}) {
        SCOPED_TRACE(run == &dry ? "dry run" : "run");
        const QJsonObject d = divergences(*run);
        ASSERT_FALSE(d.isEmpty()) << testing::PrintToString(*run);
        EXPECT_EQ(d.value(QStringLiteral("tables")).toObject(),
                  (QJsonObject{{QStringLiteral("Clienti"), 1},
                               {QStringLiteral("TabAzioni"), 0},
                               {QStringLiteral("Azioni"), 0},
                               {QStringLiteral("VisiteN"), 1},
                               {QStringLiteral("Appuntamenti"), 1}}));
        const QJsonArray rows = d.value(QStringLiteral("rows")).toArray();
        ASSERT_EQ(rows.size(), 3) << QJsonDocument(d).toJson().toStdString();
        auto fields = [](const QJsonValue& row) {
            QStringList out;
            for (const QJsonValue& f : row.toObject().value(QStringLiteral("fields")).toArray()) {
                const QJsonObject o = f.toObject();
                out << o.value(QStringLiteral("name")).toString() + QLatin1Char('=') +
                           o.value(QStringLiteral("local")).toString() + QLatin1Char('|') +
                           o.value(QStringLiteral("exchange")).toString();
            }
            return out;
        };
        // In the order the run compares the tables.
        const QJsonObject c = rows[0].toObject(), v = rows[1].toObject(), a = rows[2].toObject();
        EXPECT_EQ(c.value(QStringLiteral("table")).toString(), QStringLiteral("Clienti"));
        EXPECT_EQ(c.value(QStringLiteral("key")).toString(), client.client);
        EXPECT_EQ(fields(c),
                  QStringList{QStringLiteral("CliIndirizzo=") + oldAddress + QStringLiteral("|Via Nuova 1")});
        EXPECT_EQ(v.value(QStringLiteral("table")).toString(), QStringLiteral("VisiteN"));
        EXPECT_TRUE(
            v.value(QStringLiteral("key")).toString().startsWith(visit.client + QStringLiteral(" / ")));
        const QStringList visitFields = fields(v);
        ASSERT_EQ(visitFields.size(), 2);
        EXPECT_EQ(visitFields[0], QStringLiteral("VsSaldo=12345.5|") + oldSaldo);
        EXPECT_TRUE(visitFields[1].startsWith(QStringLiteral("VsTipoElenco=Z|")));
        EXPECT_EQ(a.value(QStringLiteral("table")).toString(), QStringLiteral("Appuntamenti"));
        EXPECT_TRUE(
            a.value(QStringLiteral("key")).toString().startsWith(appointment.client + QStringLiteral(" / ")));
        ASSERT_EQ(fields(a).size(), 1);
        EXPECT_TRUE(fields(a)[0].startsWith(QStringLiteral("ApNote=")));
        EXPECT_TRUE(fields(a)[0].endsWith(QStringLiteral("|Spostato al pomeriggio")));
    }
}

// Rows a merge adds are copies of their partners, yet two cases still list
// them: a partner whose key differs only in case (two appointments the
// exchange area holds as "TEL" and "tel", the first copied, the second with
// another note), and a field the other side declares of another kind (the
// exchange area's VsSaldo declared as a text: a local visit's amount copied
// there is written as a shorter text).
TEST(Divergence, ListsTheRowsAMergeAddsWhenTheyStillDiffer)
{
    FixtureInstall inst(1, 0, 20, 5);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    inst.setTicks("00011");
    const QString localVisits = inst.path(QStringLiteral("portable/dati/P001/VisiteDV.mdb"));
    const QString exchangeVisits = inst.path(QStringLiteral("exchange/P001/VisiteDV.mdb"));
    sql(exchangeVisits,
        QStringLiteral("INSERT INTO Appuntamenti (ApCliente, ApData, ApAzione, ApNote, ApStato, ApCausa, "
                       "ApDelete) VALUES (1, 46000.5, 'TEL', 'Prima', 'A', 'X', ' '), (1, 46000.5, 'tel', "
                       "'Seconda', 'A', 'X', ' ')"));
    const QString columns = sql(exchangeVisits, QStringLiteral("SELECT group_concat(name || ' ' || CASE name "
                                                               "WHEN 'VsSaldo' THEN 'TEXT' ELSE type END, "
                                                               "', ') FROM pragma_table_info('VisiteN')"));
    sql(exchangeVisits, QStringLiteral("ALTER TABLE VisiteN RENAME TO Vecchie; CREATE TABLE VisiteN (%1, "
                                       "PRIMARY KEY (VsCliente, VsData)); INSERT INTO VisiteN SELECT * FROM "
                                       "Vecchie; DROP TABLE Vecchie")
                            .arg(columns));
    sql(localVisits,
        QStringLiteral("INSERT INTO VisiteN (VsCliente, VsData, VsSaldo) VALUES (1, 46001, 0.1 + 0.2)"));

    const QStringList options{QStringLiteral("--operator"), QStringLiteral("P001"), QStringLiteral("--yes"),
                              QStringLiteral("--report"), QStringLiteral("json")};
    for (const bool dryRun : {true, false}) {
        SCOPED_TRACE(dryRun ? "dry run" : "run");
        const ProcessResult run =
            inst.batch(QStringLiteral("portable"),
                       dryRun ? options + QStringList{QStringLiteral("--dry-run")} : options);
        const QJsonObject d = divergences(run);
        ASSERT_FALSE(d.isEmpty()) << testing::PrintToString(run);
        const QJsonObject tables = d.value(QStringLiteral("tables")).toObject();
        EXPECT_EQ(tables.value(QStringLiteral("VisiteN")).toInt(), 1)
            << QJsonDocument(d).toJson().toStdString();
        EXPECT_EQ(tables.value(QStringLiteral("Appuntamenti")).toInt(), 1)
            << QJsonDocument(d).toJson().toStdString();
        QStringList listed;
        for (const QJsonValue& row : d.value(QStringLiteral("rows")).toArray()) {
            const QJsonObject o = row.toObject();
            QStringList fields;
            for (const QJsonValue& f : o.value(QStringLiteral("fields")).toArray())
                fields << f.toObject().value(QStringLiteral("name")).toString() + QLatin1Char('=') +
                              f.toObject().value(QStringLiteral("local")).toString() + QLatin1Char('|') +
                              f.toObject().value(QStringLiteral("exchange")).toString();
            listed << o.value(QStringLiteral("table")).toString() + QLatin1Char(' ') +
                          fields.join(QLatin1Char(','));
        }
        EXPECT_EQ(listed, (QStringList{QStringLiteral("VisiteN VsSaldo=0.30000000000000004|0.3"),
                                       QStringLiteral("Appuntamenti ApNote=Prima|Seconda")}));
    }
}

// Answers Yes to every question.
class YesPrompt final : public Prompt
{
protected:
    int ask(const QString&, int, const QString&) override { return AnswerYes; }
};

// The dry run lists each client it would add with its code and name, as many
// as the run then adds, and the same clients.
TEST(Divergence, TheDryRunListsTheClientsTheRunAdds)
{
    FixtureInstall inst(1, 0, 25, 11);
    ASSERT_TRUE(inst.ok()) << testing::PrintToString(inst.result());
    const QString local = inst.path(QStringLiteral("portable/dati/P001/DatiDV.mdb"));
    const QString exchange = inst.path(QStringLiteral("exchange/P001/DatiDV.mdb"));
    const QString expected =
        sql(exchange, QStringLiteral("ATTACH '%1' AS l; SELECT group_concat(CliCodice || "
                                     "'=' || trim(CliRagsoc), ',') FROM (SELECT * FROM "
                                     "main.Clienti WHERE CliCodice NOT IN (SELECT CliCodice "
                                     "FROM l.Clienti) ORDER BY rowid)")
                          .arg(local));
    ASSERT_FALSE(expected.isEmpty()) << "the generated exchange copy holds no client the portable lacks";
    YesPrompt prompt;
    auto request = [&] {
        RunRequest r;
        r.configFile = inst.ini(QStringLiteral("portable"));
        r.operatorCode = QStringLiteral("P001");
        r.prompt = &prompt;
        r.localClients = local;
        r.exchangeClients = exchange;
        r.portable = true;
        r.ticks.dati = 1;
        return r;
    };
    WithheldChanges withheld;
    RunState dry(request(), withheld);
    syncClients(dry);
    QStringList listed;
    for (const RowItem& r : dry.rows) {
        if (r.kind == RowItem::Kind::ClientAdded && !r.toExchange && r.table == QLatin1String("Clienti"))
            listed << r.key + QLatin1Char('=') + r.text;
    }
    EXPECT_EQ(listed.join(QLatin1Char(',')), expected);

    ApplyChanges apply;
    RunState real(request(), apply);
    syncClients(real);
    EXPECT_EQ(real.clientsAdded, listed.size());
    EXPECT_TRUE(real.rows.empty() ||
                std::none_of(real.rows.begin(), real.rows.end(),
                             [](const RowItem& r) { return r.kind == RowItem::Kind::ClientAdded; }))
        << "a real run collects no preview rows";
}

} // namespace
} // namespace mirsalex::test
