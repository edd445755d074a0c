#include "sync/ClientsSync.h"

#include "changes/ApplyChanges.h"
#include "common/Platform.h"
#include "common/SafeFileCopy.h"
#include "config/ConfigLoader.h"
#include "db/Database.h"
#include "run/Steps.h"
#include "support/ScriptedPrompt.h"
#include "sync/SyncTestSupport.h"

#include <cerrno>
#include <functional>
#include <future>
#include <QDir>
#include <QFileInfo>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

// A scripted prompt that can also act while a message is up (the user fixing
// the cause before choosing Retry).
class ActingPrompt : public ScriptedPrompt
{
public:
    std::function<void(const QString& text)> onMessage;

protected:
    int ask(const QString& text, int style, const QString& title) override
    {
        if (onMessage)
            onMessage(text);
        return ScriptedPrompt::ask(text, style, title);
    }
};

// The run's own sink, with a hook that makes the time of a file unreadable
// (as a failing disk would).
class HookedSink final : public ChangeSink
{
public:
    std::function<bool(const QString& path)> timeUnreadable;

    Mode mode() const override { return m_inner.mode(); }
    Error writeKey(const QString& file, const QString& section, const QString& key,
                   const QString& value) override
    {
        return m_inner.writeKey(file, section, key, value);
    }
    using ChangeSink::copyFile;
    Error copyFile(const QString& source, const QString& destination, DestinationName known) override
    {
        return m_inner.copyFile(source, destination, known);
    }
    std::optional<qint64> modificationTime(const QString& path) const override
    {
        if (timeUnreadable && timeUnreadable(path))
            return std::nullopt;
        return m_inner.modificationTime(path);
    }
    void prepareDatabase(Database& db) override { m_inner.prepareDatabase(db); }
    void databaseCommitted(const QString& path, qint64 rows) override
    {
        m_inner.databaseCommitted(path, rows);
    }
    int removeStaleTemporaries(const QString& folder) override
    {
        return m_inner.removeStaleTemporaries(folder);
    }

private:
    ApplyChanges m_inner;
};

const QString kOpenError = QStringLiteral("ERRORE NELL'APERTURA DEL DATABASE DATI");
const QString kAttachError = QStringLiteral("ERRORE IN CONNESSIONE TABELLA CLIENTI");
const QString kCopyError = QStringLiteral("Errore nell'aggiornamento del DataBase");
const QString kOlder = QStringLiteral("DATABASE ORIGINARIO MENO RECENTE! ");
const QString kNotCopied = QStringLiteral("DATABASE NON COPIATO NELL'AREA DI SCAMBIO!");

class ClientsSyncTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QDir(m_dir.path()).mkpath(QStringLiteral("dati/001"));
        QDir(m_dir.path()).mkpath(QStringLiteral("scambio"));
        m_local = m_dir.filePath(QStringLiteral("dati/001/DatiDV.mdb"));
        m_exchange = m_dir.filePath(QStringLiteral("scambio/DatiDV.mdb"));
        m_ini = m_dir.filePath(QStringLiteral("Mirsal.ini"));
        writeBytes(m_ini, "[EXPORT]\n");
        w.request.configFile = m_ini;
        w.request.operatorCode = QStringLiteral("001");
        w.request.prompt = &prompt;
        w.request.localClients = m_local;
        w.request.exchangeClients = m_exchange;
        w.request.portable = true;
        w.ticks.dati = 1;
    }
    void TearDown() override
    {
        platform::setFailureInjector({});
        SafeFileCopy::setWriteHook({});
    }

    void createBoth()
    {
        QString error;
        ASSERT_TRUE(schema::createDatabase(m_local, schema::Kind::Clients, &error)) << error.toStdString();
        ASSERT_TRUE(schema::createDatabase(m_exchange, schema::Kind::Clients, &error)) << error.toStdString();
    }
    // Modification times: the local file `localDays` and the exchange file
    // `exchangeDays` days ago.
    void setTimes(int localDays, int exchangeDays)
    {
        const QDateTime now = QDateTime::currentDateTime();
        ASSERT_FALSE(platform::setModificationTime(m_local, now.addDays(-localDays)));
        ASSERT_FALSE(platform::setModificationTime(m_exchange, now.addDays(-exchangeDays)));
    }
    QString marker() { return LeggiIni(m_ini, QStringLiteral("EXPORT"), QStringLiteral("XDATA001")); }

    QTemporaryDir m_dir;
    QString m_local, m_exchange, m_ini;
    ActingPrompt prompt;
    HookedSink sink;
    RunState w{RunRequest{}, sink};
};

QVariantMap client(qint32 code, const QVariant& name, const QVariant& visits = QVariant())
{
    return {{QStringLiteral("CliCodice"), code},
            {QStringLiteral("CliRagsoc"), name},
            {QStringLiteral("CliVisite"), visits}};
}

TEST_F(ClientsSyncTest, NewClientIsAddedWithEveryFieldNormalised)
{
    createBoth();
    {
        RawDb ex(m_exchange);
        QVariantMap row = {
            {QStringLiteral("CliCodice"), 10},
            {QStringLiteral("CliRagsoc"), QStringLiteral("BIANCHI ANNA")},
            {QStringLiteral("CliRagsocEstesa"), QVariant()},
            {QStringLiteral("CliIndirizzo"), QStringLiteral("   ")},
            {QStringLiteral("CliLocalita"), QStringLiteral("")},
            {QStringLiteral("CliCap"), QStringLiteral("00184")},
            {QStringLiteral("CliProvincia"), QString(QChar(0)) + QStringLiteral("RM")},
            {QStringLiteral("CliTelefono"), QStringLiteral("06 1234567")},
            {QStringLiteral("CliNatoIl"), QStringLiteral("non so")}, // not a number
            {QStringLiteral("CliAbbinamento"), QVariant()},
            {QStringLiteral("CliUltimaVisita"), 45123.25},
            {QStringLiteral("CliVisite"), QStringLiteral("SS")},
            {QStringLiteral("CliOraVisita"), QStringLiteral("10:30")},
        };
        ex.insertClient(row);
    }
    setTimes(0, 2); // local newer: no question of ours, the copy asks its own
    prompt.expect(QStringLiteral("Copio: "), AnswerNo, MsgStyle::Question);

    EXPECT_EQ(syncClients(w).result(), 0);

    RawDb local(m_local);
    const QVariantMap c = local.client(10);
    ASSERT_FALSE(c.isEmpty());
    const QString blank = QStringLiteral(" ");
    for (const ClientField& f : kClientFields) {
        const QString name = QLatin1String(f.name);
        SCOPED_TRACE(f.name);
        EXPECT_FALSE(c.value(name).isNull()) << "every field is written";
    }
    EXPECT_EQ(c.value(QStringLiteral("CliRagsoc")).toString(), QStringLiteral("BIANCHI ANNA"));
    for (const char* f :
         {"CliRagsocEstesa", "CliIndirizzo", "CliLocalita", "CliProvincia", "CliNazione", "CliSesso"})
        EXPECT_EQ(c.value(QLatin1String(f)).toString(), blank) << f;
    EXPECT_EQ(c.value(QStringLiteral("CliCap")).toString(), QStringLiteral("00184"));
    EXPECT_EQ(c.value(QStringLiteral("CliNatoIl")).toDouble(), 0.0);
    EXPECT_EQ(c.value(QStringLiteral("CliAbbinamento")).toInt(), 0);
    EXPECT_DOUBLE_EQ(c.value(QStringLiteral("CliUltimaVisita")).toDouble(), 45123.25);
    EXPECT_EQ(c.value(QStringLiteral("CliVisite")).toString(), QStringLiteral("SS"));
    EXPECT_EQ(c.value(QStringLiteral("CliOraVisita")).toString(), QStringLiteral("10:30"));
    // The user declined the copy: still a completed step.
    EXPECT_EQ(w.ticks.dati, 2);
    EXPECT_EQ(marker().size(), 14);
}

TEST_F(ClientsSyncTest, VisitsTextAndNameRules)
{
    createBoth();
    struct Case
    {
        qint32 code;
        QVariant localName, localVisits, exchangeName, exchangeVisits;
        QVariant expectedVisits; // stored locally afterwards
    };
    const QString n = QStringLiteral("ROSSI MARIO");
    const std::vector<Case> cases = {
        {1, n, QStringLiteral("SSSSSSSSSSSSS"), n, QStringLiteral("SSSSSSSSSSSSSXX"),
         QStringLiteral("SSSSSSSSSSSSS")},
        {2, n, QStringLiteral("SS"), n, QStringLiteral("SS      "), QStringLiteral("SS")},
        {3, n, QVariant(), n, QStringLiteral(" "), QVariant()},
        {4, n, QStringLiteral(""), n, QVariant(), QStringLiteral("")},
        {5, n, QStringLiteral("S"), n, QStringLiteral("N"), QStringLiteral("N            ")},
        {6, n, QStringLiteral("A"), n, QStringLiteral("ABCDEFGHIJKLMNOP"), QStringLiteral("ABCDEFGHIJKLM")},
        {7, n, QStringLiteral("A"), QStringLiteral("   ROSSI MARIO  "), QStringLiteral("B"),
         QStringLiteral("B            ")},
        {8, n, QStringLiteral("A"), QStringLiteral("Rossi Mario"), QStringLiteral("C"),
         QStringLiteral("C            ")},
        {9, n, QStringLiteral("A"), QVariant(), QStringLiteral("A"),
         QStringLiteral("A")}, // placeholder, replaced below
    };
    {
        RawDb local(m_local);
        RawDb ex(m_exchange);
        for (const Case& c : cases) {
            if (c.code == 9)
                continue;
            local.insertClient(client(c.code, c.localName, c.localVisits));
            ex.insertClient(client(c.code, c.exchangeName, c.exchangeVisits));
        }
    }
    setTimes(1, 1); // equal times: our question is asked
    prompt.expect(
        QStringLiteral("NOMINATIVI DIFFERENTI!\n8 : ROSSI MARIO                        -Rossi Mario\n"
                       "Continuo comunque?"),
        AnswerYes, MsgStyle::Question);
    prompt.expect(kOlder, AnswerNo, MsgStyle::Question);

    EXPECT_EQ(syncClients(w).result(), 0);
    ASSERT_GE(prompt.messages.size(), 1);
    EXPECT_EQ(prompt.messages[0].title, QStringLiteral("MIRSALEX - NOMINATIVO"));
    EXPECT_EQ(prompt.messages[1].title, QStringLiteral("AGGIORNAMENTO DATABASE"));

    RawDb local(m_local);
    for (const Case& c : cases) {
        if (c.code == 9)
            continue;
        SCOPED_TRACE(c.code);
        const QVariant stored = local.client(c.code).value(QStringLiteral("CliVisite"));
        EXPECT_EQ(stored.isNull(), c.expectedVisits.isNull());
        EXPECT_EQ(stored.toString(), c.expectedVisits.toString());
        EXPECT_EQ(local.client(c.code).value(QStringLiteral("CliRagsoc")).toString(), n)
            << "only the visits change";
    }
    // No to our copy question: nothing copied, nothing recorded.
    EXPECT_EQ(w.ticks.dati, 1);
    EXPECT_TRUE(marker().isEmpty());
}

TEST_F(ClientsSyncTest, NoToTheNameQuestionStopsTheWalkAndKeepsEarlierChanges)
{
    createBoth();
    {
        RawDb local(m_local);
        local.insertClient(client(2, QStringLiteral("VERDI LUCA"), QStringLiteral("A")));
        RawDb ex(m_exchange);
        ex.insertClient(client(1, QStringLiteral("NUOVO"), QStringLiteral("X")));
        ex.insertClient(client(2, QStringLiteral("VERDI LUIGI"), QStringLiteral("B")));
        ex.insertClient(client(3, QStringLiteral("ALTRO NUOVO"), QStringLiteral("Y")));
    }
    setTimes(0, 3);
    const QByteArray before = fileBytes(m_exchange);
    prompt.expect(QStringLiteral("NOMINATIVI DIFFERENTI!"), AnswerNo, MsgStyle::Question);
    // Client 3 is not in the local file: copying it over the exchange copy
    // would lose that client, so the copy is not made and the user is told.
    prompt.expect(kNotCopied + QStringLiteral("\nL'aggiornamento dei clienti è stato interrotto"), AnswerOk,
                  MsgStyle::Ok);
    const StepOutcome outcome = syncClients(w);
    EXPECT_EQ(outcome.result(), 0);
    EXPECT_EQ(outcome.status, StepOutcome::Status::Stopped);
    RawDb local(m_local);
    EXPECT_FALSE(local.client(1).isEmpty()) << "added before the question";
    EXPECT_EQ(local.client(2).value(QStringLiteral("CliVisite")).toString(), QStringLiteral("A"));
    EXPECT_TRUE(local.client(3).isEmpty()) << "the walk stopped";
    EXPECT_EQ(fileBytes(m_exchange), before);
    EXPECT_EQ(w.ticks.dati, 1);
}

TEST_F(ClientsSyncTest, OpeningTheLocalTableIsRetriedOrCancelled)
{
    QString error;
    // The local file is a database without the clients table.
    ASSERT_TRUE(schema::createDatabase(m_local, schema::Kind::Indices, &error));
    ASSERT_TRUE(schema::createDatabase(m_exchange, schema::Kind::Clients, &error));
    {
        RawDb ex(m_exchange);
        ex.insertClient(client(5, QStringLiteral("GIALLI"), QStringLiteral("S")));
    }
    setTimes(0, 3);
    const QString expected = QStringLiteral("ERRORE IN APERTURA ARCHIVIO 'CLIENTI'\n3078: ");
    // Retry after the cause is gone: the table is there and the walk runs.
    int shown = 0;
    prompt.onMessage = [&](const QString& text) {
        if (text.startsWith(expected) && ++shown == 2) {
            RawDb local(m_local);
            local.exec(QStringLiteral(
                "CREATE TABLE Clienti (CliCodice INTEGER NOT NULL PRIMARY KEY, CliRagsoc TEXT, "
                "CliRagsocEstesa TEXT, CliIndirizzo TEXT, CliLocalita TEXT, CliCap TEXT, "
                "CliProvincia TEXT, CliNazione TEXT, CliTelefono TEXT, CliTelefono1 TEXT, "
                "CliTelefono2 TEXT, CliTelefono3 TEXT, CliPartitaIva TEXT, CliCodiceFiscale TEXT, "
                "CliCategoria TEXT, CliAgevolazione TEXT, CliSesso TEXT, CliNatoA TEXT, "
                "CliNatoIl REAL, CliDocumTipo TEXT, CliDocumento TEXT, CliDocRilascA TEXT, "
                "CliDocRilascIl TEXT, CliContoCo TEXT, CliVisite TEXT, CliAbbinamento INTEGER, "
                "CliUltimaVisita REAL, CliOraVisita TEXT)"));
        }
    };
    prompt.expect(expected, AnswerRetry, MsgStyle::ExclamationRetryCancel);
    prompt.expect(expected, AnswerRetry, MsgStyle::ExclamationRetryCancel);
    prompt.expect(QStringLiteral("Copio: "), AnswerNo);
    EXPECT_EQ(syncClients(w).result(), 0);
    EXPECT_EQ(prompt.messages[0].title, prompt.messages[0].text) << "the title is the message itself";
    RawDb local(m_local);
    EXPECT_EQ(local.client(5).value(QStringLiteral("CliRagsoc")).toString(), QStringLiteral("GIALLI"));
}

TEST_F(ClientsSyncTest, CancelOnTheOpeningMergesNothingAndNeverCopiesTheUnreadableFile)
{
    QString error;
    ASSERT_TRUE(schema::createDatabase(m_local, schema::Kind::Indices, &error));
    ASSERT_TRUE(schema::createDatabase(m_exchange, schema::Kind::Clients, &error));
    {
        RawDb ex(m_exchange);
        ex.insertClient(client(5, QStringLiteral("GIALLI"), QStringLiteral("S")));
    }
    setTimes(0, 3);
    QFile exchangeFile(m_exchange);
    ASSERT_TRUE(exchangeFile.open(QIODevice::ReadOnly));
    const QByteArray before = exchangeFile.readAll();
    exchangeFile.close();
    prompt.expect(QStringLiteral("ERRORE IN APERTURA ARCHIVIO 'CLIENTI'"), AnswerCancel);
    prompt.expect(kNotCopied + QStringLiteral("\nL'archivio CLIENTI locale non è stato aperto."), AnswerOk,
                  MsgStyle::Ok);
    const StepOutcome out = syncClients(w);
    EXPECT_EQ(out.result(), 0);
    EXPECT_EQ(out.error, 0);
    // The local file has no readable clients table: it must not replace the
    // exchange copy, and the step is not marked as done.
    ASSERT_TRUE(exchangeFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(exchangeFile.readAll(), before);
    EXPECT_EQ(w.ticks.dati, 1);
}

TEST_F(ClientsSyncTest, CopyStepQuestionsAndOutcomes)
{
    struct Case
    {
        const char* label;
        int localDays, exchangeDays;
        bool exchangeTimeUnreadable;
        std::vector<std::pair<QString, int>> answers;
        bool copied;
        bool recorded;
        bool copyFails = false;
    };
    const std::vector<Case> cases = {
        {"local newer", 0, 2, false, {{QStringLiteral("Copio: "), AnswerYes}}, true, true},
        {"equal times ask",
         1,
         1,
         false,
         {{kOlder, AnswerYes}, {QStringLiteral("Copio: "), AnswerYes}},
         true,
         true},
        {"exchange newer, No", 3, 1, false, {{kOlder, AnswerNo}}, false, false},
        // Counted as older without a question; the copy then makes its own
        // date test and declines.
        {"exchange time unreadable", 3, 1, true, {{QStringLiteral("NON passo: "), AnswerOk}}, false, true},
        {"failed copy",
         0,
         2,
         false,
         {{QStringLiteral("Copio: "), AnswerYes}, {kCopyError, AnswerOk}},
         false,
         false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QFile::remove(m_local);
        QFile::remove(m_exchange);
        writeBytes(m_ini, "[EXPORT]\n");
        w.ticks.dati = 1;
        createBoth();
        {
            RawDb local(m_local);
            local.insertClient(client(1, QStringLiteral("LOCALE"), QStringLiteral("L")));
        }
        setTimes(c.localDays, c.exchangeDays);
        const QByteArray exchangeBefore = fileBytes(m_exchange);
        int exchangeStats = 0;
        sink.timeUnreadable = [&](const QString& path) {
            return c.exchangeTimeUnreadable && path.endsWith(QLatin1String("scambio/DatiDV.mdb")) &&
                   ++exchangeStats == 1;
        };
        if (c.copyFails) {
            // The exchange disk is full.
            SafeFileCopy::setWriteHook([](int, const char*, qint64) -> qint64 {
                errno = ENOSPC;
                return -1;
            });
        }
        for (const auto& [text, answer] : c.answers)
            prompt.expect(text, answer);
        EXPECT_EQ(syncClients(w).result(), 0);
        sink.timeUnreadable = {};
        SafeFileCopy::setWriteHook({});
        for (const auto& m : prompt.messages) {
            if (m.text.startsWith(kOlder)) {
                const QStringList lines = m.text.split(QLatin1Char('\n'));
                ASSERT_EQ(lines.size(), 7);
                EXPECT_EQ(lines[1], QStringLiteral("Passo comunque "));
                EXPECT_EQ(lines[2], m_local);
                EXPECT_TRUE(lines[3].startsWith(QStringLiteral("del  ")));
                EXPECT_EQ(lines[3].size(), 5 + 16);
                EXPECT_EQ(lines[4], QStringLiteral("su"));
                EXPECT_EQ(lines[5], m_exchange);
                EXPECT_EQ(m.style, MsgStyle::Question);
            }
        }
        prompt.messages.clear();
        if (c.copied)
            EXPECT_EQ(fileBytes(m_exchange), fileBytes(m_local));
        else
            EXPECT_EQ(fileBytes(m_exchange), exchangeBefore) << "the exchange copy stays as it was";
        EXPECT_EQ(w.ticks.dati, c.recorded ? 2 : 1);
        EXPECT_EQ(marker().isEmpty(), !c.recorded);
    }
}

// The clients both sides hold differently are compared beside the run, on
// the files as the merge left them: the copy that then replaces the
// exchange file with the local one changes nothing of what is found.
TEST_F(ClientsSyncTest, RowsLeftDifferentAreComparedOnTheFilesTheMergeLeft)
{
    createBoth();
    {
        RawDb local(m_local);
        QVariantMap row = client(1, QStringLiteral("ROSSI"), QStringLiteral("L"));
        row.insert(QStringLiteral("CliIndirizzo"), QStringLiteral("VIA ROMA 1"));
        local.insertClient(row);
        RawDb exchange(m_exchange);
        row.insert(QStringLiteral("CliIndirizzo"), QStringLiteral("VIA MILANO 2"));
        exchange.insertClient(row);
    }
    setTimes(0, 2);
    // The side thread is kept busy until the copy is done.
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    w.sideThread.post([open] { open.wait(); }, false);
    prompt.expect(QStringLiteral("Copio: "), AnswerYes);
    EXPECT_EQ(syncClients(w).result(), 0);
    ASSERT_EQ(fileBytes(m_exchange), fileBytes(m_local)) << "the copy was made";
    gate.set_value();
    ASSERT_TRUE(w.sideThread.waitFor(30000));
    for (const auto& take : w.sideResults)
        take(w);
    EXPECT_EQ(w.divergences[0], 1);
    ASSERT_EQ(w.rows.size(), 1u);
    EXPECT_EQ(w.rows[0].key, QStringLiteral("1"));
    EXPECT_EQ(w.rows[0].columns, QStringList{QStringLiteral("CliIndirizzo")});
    EXPECT_EQ(w.rows[0].exchangeValues, QStringList{QStringLiteral("VIA MILANO 2")});
}

TEST_F(ClientsSyncTest, SkippedWithoutAMessageWhenAPathIsEmptyOrAFileMissing)
{
    struct Case
    {
        const char* label;
        bool emptyLocal, emptyExchange, createLocal, createExchange;
    };
    const std::vector<Case> cases = {
        {"empty local path", true, false, true, true},
        {"empty exchange path", false, true, true, true},
        {"local missing", false, false, false, true},
        {"exchange missing", false, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QFile::remove(m_local);
        QFile::remove(m_exchange);
        QString error;
        if (c.createLocal) {
            ASSERT_TRUE(schema::createDatabase(m_local, schema::Kind::Clients, &error));
        }
        if (c.createExchange) {
            ASSERT_TRUE(schema::createDatabase(m_exchange, schema::Kind::Clients, &error));
        }
        w.request.localClients = c.emptyLocal ? QString() : m_local;
        w.request.exchangeClients = c.emptyExchange ? QString() : m_exchange;
        EXPECT_EQ(syncClients(w).result(), 0);
        EXPECT_TRUE(prompt.messages.isEmpty());
        EXPECT_EQ(QFileInfo::exists(m_local), c.createLocal) << "no file is created";
        EXPECT_EQ(QFileInfo::exists(m_exchange), c.createExchange);
        EXPECT_EQ(w.ticks.dati, 1);
        EXPECT_TRUE(marker().isEmpty());
    }
}

TEST_F(ClientsSyncTest, TheSameFileOnBothSidesIsNeverCopiedOntoItself)
{
    QString error;
    ASSERT_TRUE(schema::createDatabase(m_local, schema::Kind::Clients, &error));
    w.request.exchangeClients = m_local;
    const QByteArray before = fileBytes(m_local);
    EXPECT_EQ(syncClients(w).result(), 0);
    EXPECT_EQ(fileBytes(m_local), before);
}

// A bad file on either side ends the work with the step's message; nothing
// is merged into or copied over the other file.
TEST_F(ClientsSyncTest, BadFilesFailClosed)
{
    struct Case
    {
        const char* label;
        bool localSide;
        int expected;
        std::function<void(const QString&)> spoil;
    };
    const QByteArray jet = QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(4096, '\x00');
    const std::vector<Case> cases = {
        {"local Jet file", true, DbErr::UnrecognisedFormat, [&](const QString& p) { writeBytes(p, jet); }},
        {"local zero bytes", true, DbErr::UnrecognisedFormat, [](const QString& p) { writeBytes(p, {}); }},
        {"local truncated", true, DbErr::CannotOpenDatabase,
         [](const QString& p) { writeBytes(p, fileBytes(p).left(fileBytes(p).size() - 1000)); }},
        {"exchange Jet file", false, DbErr::UnrecognisedFormat,
         [&](const QString& p) { writeBytes(p, jet); }},
        {"exchange zero bytes", false, DbErr::UnrecognisedFormat,
         [](const QString& p) { writeBytes(p, {}); }},
        {"exchange truncated", false, DbErr::CannotOpenDatabase,
         [](const QString& p) { writeBytes(p, fileBytes(p).left(fileBytes(p).size() - 1000)); }},
        {"exchange without the table", false, DbErr::TableNotFound,
         [](const QString& p) {
             QFile::remove(p);
             QString error;
             ASSERT_TRUE(schema::createDatabase(p, schema::Kind::Visits, &error));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QFile::remove(m_local);
        QFile::remove(m_exchange);
        createBoth();
        {
            RawDb local(m_local);
            RawDb ex(m_exchange);
            for (int i = 1; i <= 200; ++i) {
                local.insertClient(
                    client(i, QStringLiteral("CLIENTE %1").arg(i), QString(100, QLatin1Char('L'))));
                ex.insertClient(
                    client(i + 1000, QStringLiteral("NUOVO %1").arg(i), QString(100, QLatin1Char('E'))));
            }
        }
        c.spoil(c.localSide ? m_local : m_exchange);
        setTimes(0, 3);
        const QByteArray localBefore = fileBytes(m_local);
        const QByteArray exchangeBefore = fileBytes(m_exchange);
        prompt.expect(c.localSide ? kOpenError : kAttachError, AnswerOk, MsgStyle::Ok);
        const StepOutcome out = syncClients(w);
        EXPECT_EQ(out.result(), c.expected);
        EXPECT_EQ(out.error, c.expected);
        ASSERT_EQ(prompt.messages.size(), 1);
        EXPECT_EQ(prompt.messages[0].text, c.localSide ? kOpenError : kAttachError);
        prompt.messages.clear();
        EXPECT_EQ(fileBytes(m_local), localBefore);
        EXPECT_EQ(fileBytes(m_exchange), exchangeBefore);
        EXPECT_EQ(w.ticks.dati, 1);
        EXPECT_TRUE(marker().isEmpty());
    }
}

// Rows of an exchange table whose code or name cannot be taken end the work;
// the clients stored before stay, and nothing is copied.
TEST_F(ClientsSyncTest, BadExchangeRowsEndTheWork)
{
    struct Case
    {
        const char* label;
        QVariant code, name;
        int expected;
    };
    const std::vector<Case> cases = {
        {"Null code", QVariant(), QStringLiteral("X"), DbErr::InvalidUseOfNull},
        {"text code", QStringLiteral("ABC"), QStringLiteral("X"), DbErr::TypeMismatch},
        {"fractional code", 12.5, QStringLiteral("X"), DbErr::TypeMismatch},
        {"code too large", qlonglong(3000000000LL), QStringLiteral("X"), DbErr::Overflow},
        {"Null name", 77, QVariant(), DbErr::InvalidUseOfNull},
    };
    QString columns;
    for (const ClientField& f : kClientFields)
        columns += (columns.isEmpty() ? QString() : QStringLiteral(", ")) + QLatin1String(f.name);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QFile::remove(m_local);
        QFile::remove(m_exchange);
        QString error;
        ASSERT_TRUE(schema::createDatabase(m_local, schema::Kind::Clients, &error));
        ASSERT_TRUE(schema::createDatabase(m_exchange, schema::Kind::Indices, &error));
        {
            // An exchange table of another make, with untyped columns.
            RawDb ex(m_exchange);
            ex.exec(QStringLiteral("CREATE TABLE Clienti (") + columns + QLatin1Char(')'));
            ex.insertClient(client(50, QStringLiteral("PRIMO"), QStringLiteral("S")));
            ex.insertClient({{QStringLiteral("CliCodice"), c.code}, {QStringLiteral("CliRagsoc"), c.name}});
            ex.insertClient(client(51, QStringLiteral("DOPO"), QStringLiteral("S")));
        }
        setTimes(0, 3);
        const QByteArray exchangeBefore = fileBytes(m_exchange);
        prompt.expect(kAttachError, AnswerOk, MsgStyle::Ok);
        EXPECT_EQ(syncClients(w).result(), c.expected);
        prompt.messages.clear();
        RawDb local(m_local);
        EXPECT_FALSE(local.client(50).isEmpty()) << "stored before the bad row";
        EXPECT_TRUE(local.client(51).isEmpty());
        EXPECT_EQ(fileBytes(m_exchange), exchangeBefore);
        EXPECT_EQ(w.ticks.dati, 1);
    }
}

// Every kind of stored value of an exchange table of another make (untyped
// columns) comes out of the two normalisers and the local column's kind as
// stated, whichever way the layer copies it.
TEST_F(ClientsSyncTest, NewClientsFromUntypedColumnsAreNormalisedByKind)
{
    struct Case
    {
        const char* field;
        const char* stored;   // SQL of the exchange value
        const char* expected; // typeof:quote of the local value
    };
    const std::vector<Case> cases = {
        {"CliCap", "NULL", "text:' '"},
        {"CliCap", "''", "text:' '"},
        {"CliCap", "'   '", "text:' '"},
        {"CliCap", "char(0) || 'RM'", "text:' '"},
        {"CliCap", "'abc'", "text:'abc'"},
        {"CliCap", "' x '", "text:' x '"},
        {"CliCap", "5", "text:'5'"},
        {"CliCap", "5.5", "text:'5.5'"},
        {"CliNatoIl", "NULL", "real:0.0"},
        {"CliNatoIl", "12", "real:12.0"},
        {"CliNatoIl", "12.5", "real:12.5"},
        {"CliNatoIl", "'12'", "real:12.0"},
        {"CliNatoIl", "'abc'", "real:0.0"},
        {"CliNatoIl", "'  '", "real:0.0"},
        {"CliAbbinamento", "7.0", "integer:7"},
        {"CliAbbinamento", "7.5", "real:7.5"},
        {"CliAbbinamento", "NULL", "integer:0"},
        {"CliAbbinamento", "'7'", "integer:7"},
        {"CliNatoIl", "-3", "real:-3.0"},
        {"CliNatoIl", "X''", "real:0.0"},
        {"CliCap", "X'41'", "text:'A'"},
        {"CliCap", "X''", "text:' '"},
        {"CliCap", "'città'", "text:'città'"},
        {"CliCap", "'a' || char(0)", "text:'a'"},
        {"CliOraVisita", "' 10:30'", "text:' 10:30'"},
    };
    QString error;
    ASSERT_TRUE(schema::createDatabase(m_local, schema::Kind::Clients, &error));
    ASSERT_TRUE(schema::createDatabase(m_exchange, schema::Kind::Indices, &error));
    QString columns;
    for (const ClientField& f : kClientFields)
        columns += (columns.isEmpty() ? QString() : QStringLiteral(", ")) + QLatin1String(f.name);
    {
        RawDb ex(m_exchange);
        ex.exec(QStringLiteral("CREATE TABLE Clienti (") + columns + QLatin1Char(')'));
        int code = 100;
        for (const Case& c : cases)
            ex.exec(QStringLiteral("INSERT INTO Clienti (CliCodice, CliRagsoc, ") + QLatin1String(c.field) +
                        QStringLiteral(") VALUES (?, 'N', ") + QLatin1String(c.stored) + QLatin1Char(')'),
                    {++code});
    }
    setTimes(0, 3);
    prompt.expect(QStringLiteral("Copio: "), AnswerNo);
    EXPECT_EQ(syncClients(w).result(), 0);
    RawDb local(m_local);
    int code = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " = " + c.stored);
        const QString f = QLatin1String(c.field);
        EXPECT_EQ(local
                      .value(QStringLiteral("SELECT typeof(") + f + QStringLiteral(") || ':' || quote(") + f +
                                 QStringLiteral(") FROM Clienti WHERE CliCodice = ?"),
                             {++code})
                      .toString(),
                  QLatin1String(c.expected));
        // The untouched text fields hold a blank, the numbers 0.
        EXPECT_EQ(local
                      .value(QStringLiteral("SELECT CliNazione || '|' || CliUltimaVisita FROM Clienti "
                                            "WHERE CliCodice = ?"),
                             {code})
                      .toString(),
                  QStringLiteral(" |0.0"));
    }
}

TEST_F(ClientsSyncTest, AClientThatCannotBeAddedIsReportedAndNeverLostFromTheExchangeCopy)
{
    // OK to every failure (what batch mode answers), or Cancel at the second.
    const std::vector<std::vector<int>> answers = {{AnswerOk, AnswerOk, AnswerOk}, {AnswerOk, AnswerCancel}};
    for (const auto& script : answers) {
        SCOPED_TRACE(script.size());
        QFile::remove(m_local);
        QFile::remove(m_exchange);
        QString error;
        ASSERT_TRUE(schema::createDatabase(m_local, schema::Kind::Clients, &error));
        ASSERT_TRUE(schema::createDatabase(m_exchange, schema::Kind::Indices, &error));
        {
            // The exchange table lacks a field of the client record.
            RawDb ex(m_exchange);
            ex.exec(QStringLiteral("CREATE TABLE Clienti (CliCodice INTEGER NOT NULL PRIMARY KEY, CliRagsoc "
                                   "TEXT, CliVisite TEXT)"));
            for (int code : {123, 124, 125})
                ex.insertClient(client(code, QStringLiteral("C%1").arg(code)));
        }
        setTimes(0, 3); // the local file is newer: the Part's copy would follow
        const QByteArray before = fileBytes(m_exchange);
        prompt.messages.clear();
        int code = 123;
        for (int answer : script)
            prompt.expect(QStringLiteral("ERRORE IN AGGIORNAMENTO CLIENTE  %1").arg(code++), answer,
                          MsgStyle::ExclamationOkCancel);
        prompt.expect(kNotCopied, AnswerOk, MsgStyle::Ok);
        const StepOutcome outcome = syncClients(w);
        EXPECT_EQ(outcome.result(), 0) << "the chain goes on";
        EXPECT_EQ(outcome.status, StepOutcome::Status::Failed) << "but the run is not a success";
        EXPECT_EQ(prompt.messages[0].title, QStringLiteral("ERRORE"));
        RawDb local(m_local);
        EXPECT_EQ(local.value(QStringLiteral("SELECT count(*) FROM Clienti")).toInt(), 0);
        EXPECT_EQ(fileBytes(m_exchange), before) << "no client may vanish from the exchange copy";
        EXPECT_EQ(w.ticks.dati, 1);
        EXPECT_TRUE(marker().isEmpty());
        EXPECT_EQ(prompt.pending(), 0);
    }
}

TEST_F(ClientsSyncTest, ALocalFileInUseIsWaitedForThenReportedOnceBeforeAnythingIsMerged)
{
    createBoth();
    {
        RawDb ex(m_exchange);
        for (int code = 1; code <= 50; ++code)
            ex.insertClient(client(code, QStringLiteral("C%1").arg(code)));
    }
    setTimes(0, 3);
    const QByteArray before = fileBytes(m_exchange);
    const int timeout = Database::busyTimeout();
    Database::setBusyTimeout(200);
    {
        // The main application holds a write transaction on the local file.
        RawDb holder(m_local);
        holder.exec(QStringLiteral("BEGIN IMMEDIATE"));
        holder.exec(QStringLiteral("INSERT INTO Clienti (CliCodice, CliRagsoc) VALUES (999, 'IN CORSO')"));
        prompt.expect(QStringLiteral("ARCHIVIO CLIENTI IN USO DA UN ALTRO PROGRAMMA\n") + m_local, AnswerOk,
                      MsgStyle::Ok);
        const StepOutcome outcome = syncClients(w);
        EXPECT_GT(outcome.result(), 0) << "the chain stops";
        EXPECT_EQ(prompt.messages.size(), 1) << "one message, not one per client";
        holder.exec(QStringLiteral("ROLLBACK"));
    }
    Database::setBusyTimeout(timeout);
    EXPECT_EQ(fileBytes(m_exchange), before);
    RawDb local(m_local);
    EXPECT_EQ(local.value(QStringLiteral("SELECT count(*) FROM Clienti")).toInt(), 0);
    EXPECT_EQ(w.ticks.dati, 1);
}

TEST_F(ClientsSyncTest, ADamagedLocalFileNeverReplacesTheExchangeCopy)
{
    createBoth();
    {
        RawDb local(m_local);
        local.exec(QStringLiteral("BEGIN"));
        for (int code = 1; code <= 3000; ++code)
            local.insertClient(client(code, QStringLiteral("CLIENTE CON UN NOME LUNGO %1").arg(code)));
        local.exec(QStringLiteral("COMMIT"));
        RawDb ex(m_exchange);
        ex.insertClient(client(1, QStringLiteral("CLIENTE CON UN NOME LUNGO 1")));
    }
    {
        // A page the merge never reads (the last clients) is damaged.
        QFile f(m_local);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const qint64 pages = f.size() / 4096;
        ASSERT_GT(pages, 10);
        ASSERT_TRUE(f.seek((pages - 1) * 4096));
        ASSERT_EQ(f.write(QByteArray(64, '\xee')), 64);
    }
    setTimes(0, 3); // the local file is newer
    const QByteArray before = fileBytes(m_exchange);
    prompt.expect(kNotCopied + QStringLiteral("\nIl database locale è danneggiato:"), AnswerOk, MsgStyle::Ok);
    const StepOutcome outcome = syncClients(w);
    EXPECT_EQ(outcome.status, StepOutcome::Status::Failed);
    EXPECT_EQ(outcome.error, DbErr::CannotOpenDatabase);
    EXPECT_EQ(fileBytes(m_exchange), before);
    EXPECT_EQ(w.ticks.dati, 1);
}

TEST_F(ClientsSyncTest, AnUnfinishedWriteBesideAFileBlocksTheCopy)
{
    createBoth();
    {
        RawDb local(m_local);
        local.insertClient(client(4, QStringLiteral("NERI")));
        RawDb ex(m_exchange);
        ex.insertClient(client(4, QStringLiteral("NERI PAOLO")));
    }
    setTimes(0, 3);
    const QByteArray before = fileBytes(m_exchange);
    // Another program starts writing the exchange copy while we run.
    prompt.onMessage = [&](const QString& text) {
        if (text.startsWith(QLatin1String("NOMINATIVI")))
            writeBytes(m_exchange + QStringLiteral("-wal"), QByteArray(64, 'x'));
    };
    prompt.expect(QStringLiteral("NOMINATIVI DIFFERENTI!"), AnswerYes);
    prompt.expect(kCopyError, AnswerOk, MsgStyle::Ok);
    EXPECT_EQ(syncClients(w).result(), 0);
    EXPECT_EQ(fileBytes(m_exchange), before);
    EXPECT_EQ(w.ticks.dati, 1);
    EXPECT_TRUE(marker().isEmpty());
}

TEST_F(ClientsSyncTest, StandardStepsBindTheClientsSynchronisation)
{
    createBoth();
    {
        RawDb ex(m_exchange);
        ex.insertClient(client(9, QStringLiteral("NOVE")));
    }
    setTimes(0, 3);
    const SyncSteps steps = StandardSteps();
    ASSERT_TRUE(steps.clients);
    EXPECT_TRUE(steps.actionCodes && steps.actions && steps.visits && steps.appointments && steps.indices &&
                steps.cards && steps.sheets);
    prompt.expect(QStringLiteral("Copio: "), AnswerNo);
    EXPECT_EQ(steps.clients(w).result(), 0);
    RawDb local(m_local);
    EXPECT_FALSE(local.client(9).isEmpty());
}

} // namespace

// The set-based merge against the row walk it replaces, on the same odd
// files: every local row, every counter, every box (with its answer) and
// the outcome must be the same. Variants: a No to the sixth name question,
// a row whose Null name ends the work, and an exchange table whose columns
// keep values of any kind.
class SetBasedClientsTest : public ::testing::TestWithParam<int>
{
};

TEST_P(SetBasedClientsTest, GivesWhatTheRowWalkGives)
{
    const int variant = GetParam();
    const QStringList names = {"'ROSSI MARIO'",
                               "' ROSSI MARIO  '",
                               "'rossi mario'",
                               "''",
                               "'   '",
                               "NULL",
                               "'Nicolò'",
                               "X'41'",
                               "42",
                               "char(0) || 'A'",
                               "'ROSSI MARIO' || char(0)"};
    const QStringList visits = {"NULL",
                                "''",
                                "'SNSN'",
                                "'SNSNSNSNSNSNSNSN'",
                                "'   '",
                                "'città'",
                                "X'53'",
                                "'S' || char(0) || 'N'",
                                "'SNSN         '",
                                "5",
                                "5.0",
                                "'5.0'"};
    const QStringList texts = {"NULL", "''", "'  '", "'abc'", "char(0) || 'x'", "X'41'", "7"};
    const QStringList numbers = {"NULL", "12", "12.5", "'abc'", "'12'", "X''"};
    // Values the statements take as they are.
    const QStringList plainNames = {"'ROSSI MARIO'", "''", "'   '", "'Nicolò'", "char(0) || 'A'"};
    const QStringList plainVisits = {"NULL", "''", "'SNSN'", "'SNSNSNSNSNSNSNSN'", "'   '", "'città'"};
    const QStringList plainTexts = {"NULL", "''", "'  '", "'abc'", "char(0) || 'x'", "' x '"};
    const QStringList plainNumbers = {"NULL", "12", "12.5", "'12'"};
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("l.mdb")),
                  exchange = dir.filePath(QStringLiteral("x.mdb"));
    QString error;
    ASSERT_TRUE(schema::createDatabase(local, schema::Kind::Clients, &error));
    if (variant == 3) {
        // Columns of no declared kind keep every value as it was given.
        ASSERT_TRUE(schema::createDatabase(exchange, schema::Kind::Indices, &error));
        QString columns;
        for (const ClientField& f : kClientFields)
            columns += QStringLiteral(", ") + QLatin1String(f.name);
        RawDb(exchange).exec(QStringLiteral("CREATE TABLE Clienti (CliCodice INTEGER PRIMARY KEY") +
                             columns.mid(columns.indexOf(QLatin1String(", CliRagsoc"))) + QLatin1Char(')'));
    } else {
        ASSERT_TRUE(schema::createDatabase(exchange, schema::Kind::Clients, &error));
    }
    {
        quint32 seed = 7919u * quint32(variant + 1);
        auto pick = [&seed](const QStringList& pool) {
            seed = seed * 1103515245u + 12345u;
            return pool[int((seed >> 8) % quint32(pool.size()))];
        };
        RawDb l(local), x(exchange);
        l.exec(QStringLiteral("BEGIN"));
        x.exec(QStringLiteral("BEGIN"));
        for (int code = 1; code <= 300; ++code) {
            // A Null name only where the variant wants the work ended.
            auto name = [&] {
                const QString n = pick(names);
                return n == QLatin1String("NULL") && !(variant == 2 && code == 250) ? QStringLiteral("' '")
                                                                                    : n;
            };
            const QString row =
                QStringLiteral("INSERT INTO Clienti (CliCodice, CliRagsoc, CliVisite, CliCap, CliNatoIl, "
                               "CliAbbinamento, CliOraVisita) VALUES (%1, %2, %3, %4, %5, %6, %7)");
            // Odd values on some clients both sides have (a question, or a
            // walked row); on new clients only in the last variant, where
            // they make the statement fail and the walk take every row.
            const bool known = code % 3 == 0;
            const bool odd = variant == 3 || (known && code % 5 == 0);
            auto of = [&](const QStringList& all, const QStringList& plain) {
                return pick(odd ? all : plain);
            };
            // Mostly the same name on both sides, else another one (a
            // question); some differ only in case.
            const QString shared = code % 8 == 4 ? QStringLiteral("'ROSSI MARIO'")
                                   : odd         ? name()
                                                 : pick(plainNames);
            if (code % 7 != 0)
                x.exec(row.arg(code).arg(shared, of(visits, plainVisits), of(texts, plainTexts),
                                         of(numbers, plainNumbers), of(numbers, plainNumbers),
                                         of(texts, plainTexts)));
            if (known)
                l.exec(row.arg(code).arg(code % 8 == 4   ? QStringLiteral("'rossi mario'")
                                         : code % 4 == 0 ? (odd ? name() : pick(plainNames))
                                                         : shared,
                                         of(visits, plainVisits), of(texts, plainTexts),
                                         of(numbers, plainNumbers), of(numbers, plainNumbers),
                                         of(texts, plainTexts)));
        }
        if (variant == 2)
            x.exec(QStringLiteral("UPDATE Clienti SET CliRagsoc = NULL WHERE CliCodice = 250"));
        l.exec(QStringLiteral("COMMIT"));
        x.exec(QStringLiteral("COMMIT"));
    }
    struct Result
    {
        StepOutcome outcome;
        QStringList boxes;
        qint64 added = 0, taken = 0;
        QString rows;
    };
    auto run = [&](bool rowWalk) {
        const QString l = dir.filePath(QStringLiteral("run_l.mdb")),
                      x = dir.filePath(QStringLiteral("run_x.mdb"));
        QFile::remove(l);
        QFile::remove(x);
        EXPECT_TRUE(QFile::copy(local, l) && QFile::copy(exchange, x));
        // Fixed times: the question that names them reads the same in both runs.
        const QDateTime when(QDate(2026, 3, 2), QTime(10, 30));
        EXPECT_FALSE(platform::setModificationTime(l, when));
        EXPECT_FALSE(platform::setModificationTime(x, when));
        class Answers : public Prompt
        {
        public:
            int variant = 0, nameQuestions = 0;
            QStringList boxes;

        protected:
            int ask(const QString& text, int style, const QString&) override
            {
                int answer = MsgStyle::buttons(style) == MsgStyle::YesNo ? AnswerYes : AnswerOk;
                if (text.startsWith(QLatin1String("NOMINATIVI DIFFERENTI!")) && ++nameQuestions == 6 &&
                    variant == 1)
                    answer = AnswerNo;
                if (text.startsWith(kOlder))
                    answer = AnswerNo;
                boxes << text + QStringLiteral(" -> ") + QString::number(answer);
                return answer;
            }
        } prompt;
        prompt.variant = variant;
        RunRequest request;
        request.configFile = dir.filePath(QStringLiteral("m.ini"));
        request.operatorCode = QStringLiteral("001");
        request.prompt = &prompt;
        request.localClients = l;
        request.exchangeClients = x;
        ApplyChanges changes;
        RunState state(request, changes);
        detail::setClientsRowWalkOnly(rowWalk);
        Result r{syncClients(state), prompt.boxes, state.clientsAdded, state.visitsTexts, {}};
        detail::setClientsRowWalkOnly(false);
        r.rows = RawDb(l)
                     .value(QStringLiteral(
                         "SELECT group_concat(r, char(10)) FROM (SELECT quote(CliCodice) || '|' || "
                         "quote(CliRagsoc) || '|' || quote(CliVisite) || '|' || quote(CliCap) || '|' "
                         "|| quote(CliNatoIl) || '|' || quote(CliAbbinamento) || '|' || "
                         "quote(CliOraVisita) || '|' || quote(CliNazione) || '|' || "
                         "quote(CliUltimaVisita) AS r FROM Clienti ORDER BY CliCodice)"))
                     .toString();
        return r;
    };
    const Result walked = run(true);
    const Result setBased = run(false);
    EXPECT_EQ(setBased.outcome.status, walked.outcome.status);
    EXPECT_EQ(setBased.outcome.error, walked.outcome.error);
    EXPECT_EQ(setBased.boxes, walked.boxes);
    EXPECT_EQ(setBased.added, walked.added);
    EXPECT_EQ(setBased.taken, walked.taken);
    EXPECT_EQ(setBased.rows, walked.rows);
    // The files are odd enough that each way of merging is taken.
    EXPECT_GT(walked.added, 0);
    EXPECT_GT(walked.taken, 0);
    EXPECT_GE(walked.boxes.filter(QStringLiteral("NOMINATIVI DIFFERENTI!")).size(), 6);
}

INSTANTIATE_TEST_SUITE_P(Variants, SetBasedClientsTest, ::testing::Values(0, 1, 2, 3));
