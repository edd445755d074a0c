#include "gui/PreviewDialog.h"
#include "GuiTestSupport.h"
#include "session/OperatorFormLoad.h"
#include "session/PreviewModel.h"
#include "session/ProgressText.h"
#include "session/ReportText.h"
#include "session/RunSession.h"
#include "support/ScriptedPrompt.h"
#include "support/TempInstall.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>

using namespace mirsalex;
using namespace mirsalex::test;

namespace {

using Category = PreviewItem::Category;

// The grid of a dialog the runner was given.
struct Grid
{
    QTableView* view = nullptr;
    const PreviewModel* model = nullptr;
};
Grid gridOf(QDialog& d)
{
    Grid g;
    g.view = d.findChild<QTableView*>(QStringLiteral("tblAnteprima"));
    if (g.view) {
        auto* proxy = qobject_cast<QSortFilterProxyModel*>(g.view->model());
        g.model = proxy ? qobject_cast<const PreviewModel*>(proxy->sourceModel()) : nullptr;
    }
    return g;
}

// mirsalex-fixture beside the window's tests in the build tree.
QString fixtureProgram()
{
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QFileInfo(self).absolutePath() + QStringLiteral("/../src/mirsalex-fixture");
}

// The grid of a dry run on a generated installation with thousands of
// changes (every document newer at one place) holds, per category, what the
// JSON report of the same dry run counts. The time the grid takes to open
// is printed, not asserted.
TEST(PreviewGrid, CountsEqualTheJsonReportOnAGeneratedInstallation)
{
    testApplication();
    const QString fixture = fixtureProgram();
    if (!QFileInfo(fixture).isExecutable())
        GTEST_SKIP() << "mirsalex-fixture not built";
    TempInstall inst;
    const QString out = inst.path(QStringLiteral("gen"));
    QProcess p;
    p.start(fixture, {QStringLiteral("--out"), out, QStringLiteral("--operators"), QStringLiteral("1"),
                      QStringLiteral("--documents"), QStringLiteral("7500"), QStringLiteral("--clients"),
                      QStringLiteral("60"), QStringLiteral("--changed-fraction"), QStringLiteral("1"),
                      QStringLiteral("--seed"), QStringLiteral("5")});
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

    ScriptedPrompt prompt;
    Context ctx{prompt};
    ctx.config.FileIni = out + QStringLiteral("/desktop/mirsalex.ini");
    OperatorForm form;
    loadForm(ctx, form);
    RunSession session(ctx);
    RunSettings settings;
    settings.mode = RunMode::DryRun;
    settings.answerQuestions = true;
    const SessionRun run = session.run(form, settings);
    const QJsonObject json = QJsonDocument::fromJson(runReportJson(run.report, run.boxes)).object();

    QElapsedTimer opening;
    qint64 openMs = -1;
    Grid grid;
    std::array<int, PreviewItem::kCategories> counts{};
    int rows = 0;
    opening.start();
    runPreviewDialog(nullptr, run.report, run.boxes, {form.CartellaScambio}, prompt, [&](QDialog& d) {
        d.show();
        QCoreApplication::processEvents();
        openMs = opening.elapsed();
        grid = gridOf(d);
        if (grid.model) {
            counts = grid.model->counts();
            rows = grid.model->rowCount();
        }
        return int(QDialog::Rejected);
    });
    ASSERT_NE(grid.view, nullptr);
    std::printf("preview grid: %d rows opened in %lld ms\n", rows, static_cast<long long>(openMs));

    const QJsonObject counters = json.value(QStringLiteral("counters")).toObject();
    const QJsonObject documents = counters.value(QStringLiteral("documents")).toObject();
    auto both = [&](const char* name) {
        const QJsonObject o = documents.value(QLatin1String(name)).toObject();
        return o.value(QStringLiteral("sent")).toInt() + o.value(QStringLiteral("received")).toInt();
    };
    const int documentsCopied = both("cards") + both("sheets");
    EXPECT_GT(documentsCopied, 2000) << "a generated installation with thousands of changes";
    EXPECT_EQ(counts[size_t(Category::Documents)], documentsCopied);
    int keys = 0, databases = 0, removals = 0;
    for (const QJsonValue& v : json.value(QStringLiteral("changes")).toArray()) {
        const QString kind = v.toObject().value(QStringLiteral("kind")).toString();
        keys += kind == QLatin1String("key");
        databases +=
            kind == QLatin1String("database") ||
            (kind == QLatin1String("file") && v.toObject()
                                                  .value(QStringLiteral("path"))
                                                  .toString()
                                                  .endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive));
        removals += kind == QLatin1String("removal");
    }
    EXPECT_EQ(counts[size_t(Category::Keys)], keys);
    EXPECT_EQ(counts[size_t(Category::Databases)], databases);
    EXPECT_EQ(counts[size_t(Category::Temporaries)], removals);
    EXPECT_EQ(counts[size_t(Category::Questions)] + counts[size_t(Category::Messages)],
              json.value(QStringLiteral("messages")).toArray().size());
    // The rows the merges list one by one, once the report holds them.
    if (!run.report.rows.empty()) {
        EXPECT_EQ(counts[size_t(Category::Clients)], counters.value(QStringLiteral("clients_added")).toInt());
        EXPECT_EQ(counts[size_t(Category::VisitsTexts)],
                  counters.value(QStringLiteral("visits_texts")).toInt());
        int added = 0, purged = 0;
        for (const QJsonValue& t : counters.value(QStringLiteral("tables")).toObject()) {
            const QJsonObject o = t.toObject();
            added +=
                o.value(QStringLiteral("to_exchange")).toInt() + o.value(QStringLiteral("to_local")).toInt();
            purged += o.value(QStringLiteral("purged_local")).toInt() +
                      o.value(QStringLiteral("purged_exchange")).toInt();
        }
        EXPECT_EQ(counts[size_t(Category::RowsAdded)], added);
        EXPECT_EQ(counts[size_t(Category::RowsPurged)], purged);
    }
    EXPECT_EQ(prompt.pending(), 0);
}

// A report filled by hand: every kind of row and change, and a question.
RunReport handReport(const TempInstall& inst, bool portable)
{
    RunReport r;
    r.operatore = QStringLiteral("A12");
    r.portable = portable;
    r.dryRun = true;
    auto row = [&](RowItem::Kind kind, const char* table, const char* key, const char* text,
                   bool toExchange) {
        RowItem i;
        i.kind = kind;
        i.table = QLatin1String(table);
        i.key = QLatin1String(key);
        i.text = QString::fromUtf8(text);
        i.toExchange = toExchange;
        return i;
    };
    r.rows.push_back(row(RowItem::Kind::ClientAdded, "CLIENTI", "12", "Rossi Mario", false));
    r.rows.push_back(row(RowItem::Kind::ClientAdded, "CLIENTI", "13", "Bianchi Anna", false));
    r.rows.push_back(row(RowItem::Kind::VisitsText, "CLIENTI", "7", "Verdi Luca", false));
    r.rows.push_back(row(RowItem::Kind::RowAdded, "VisiteN", "12 / 03/05/2026", "visita", true));
    r.rows.push_back(row(RowItem::Kind::RowPurged, "Azioni", "4", "azione", true));
    RowItem d = row(RowItem::Kind::Divergence, "Appuntamenti", "12 / 04/05/2026 / 2", "", false);
    d.columns = {QStringLiteral("ApOra")};
    d.localValues = {QStringLiteral("09:00")};
    d.exchangeValues = {QStringLiteral("10:30")};
    r.rows.push_back(d);
    const QString exchange = inst.makeDir(QStringLiteral("scambio/SCHEDE/"));
    const QString local = inst.makeDir(QStringLiteral("testi/"));
    inst.writeFile(QStringLiteral("scambio/SCHEDE/SK000001.DOC"), "nuova",
                   QDateTime(QDate(2026, 5, 3), QTime(10, 0)));
    inst.writeFile(QStringLiteral("testi/SK000001.DOC"), "vecchia",
                   QDateTime(QDate(2026, 5, 1), QTime(9, 0)));
    r.changes.push_back({ChangeSink::Change::Kind::File, local + QStringLiteral("SK000001.DOC"),
                         exchange + QStringLiteral("SK000001.DOC")});
    r.changes.push_back({ChangeSink::Change::Kind::Key, inst.path(QStringLiteral("prog/Mirsal.ini")),
                         QStringLiteral("[EXPORT]  DATAA12=03/05/2026")});
    return r;
}

// Each item is a row under its category, with its direction in words from
// the side's point of view (never a bare arrow); the filters, the search and
// COPIA (the rows shown, tab-separated) work on the same grid.
TEST(PreviewGrid, ShowsEachItemWithItsDirectionAndFilters)
{
    testApplication();
    TempInstall inst;
    ScriptedPrompt prompt;
    const std::vector<ShownBox> boxes{
        {QStringLiteral("MirsalEX"), MsgStyle::Question, QStringLiteral("Copio il database?"), AnswerYes}};
    for (const bool portable : {false, true}) {
        const RunReport report = handReport(inst, portable);
        QString shownText, copied, counts;
        int all = 0, clients = 0, towardBranch = 0, searched = 0;
        QString clientDirection, divergence, card, key;
        runPreviewDialog(
            nullptr, report, boxes, {inst.path(QStringLiteral("scambio/"))}, prompt, [&](QDialog& d) {
                const Grid g = gridOf(d);
                if (!g.model)
                    return int(QDialog::Rejected);
                const QAbstractItemModel* shown = g.view->model();
                all = shown->rowCount();
                for (int r = 0; r < shown->rowCount(); ++r) {
                    QStringList cells;
                    for (int c = 0; c < shown->columnCount(); ++c)
                        cells << shown->index(r, c).data().toString();
                    shownText += cells.join(QLatin1Char('|')) + QLatin1Char('\n');
                    if (cells[2] == QLatin1String("12") && cells[4] == QLatin1String("CLIENTI"))
                        clientDirection = cells[1];
                    if (cells[0] == QLatin1String("Righe diverse"))
                        divergence = cells[1] + QLatin1Char('|') + cells[3];
                    if (cells[0] == QLatin1String("Documenti"))
                        card = cells[1] + QLatin1Char('|') + cells[3];
                    if (cells[0] == QLatin1String("Configurazione"))
                        key = cells[2];
                }
                counts = d.findChild<QLabel*>(QStringLiteral("lblConteggi"))->text();
                auto* category = d.findChild<QComboBox*>(QStringLiteral("cboCategoria"));
                category->setCurrentIndex(category->findData(int(Category::Clients)));
                clients = shown->rowCount();
                category->setCurrentIndex(0);
                auto* direction = d.findChild<QComboBox*>(QStringLiteral("cboDirezione"));
                direction->setCurrentIndex(direction->findData(int(PreviewItem::Direction::TowardBranch)));
                towardBranch = shown->rowCount();
                direction->setCurrentIndex(0);
                d.findChild<QLineEdit*>(QStringLiteral("txtCerca"))->setText(QStringLiteral("rossi"));
                searched = shown->rowCount();
                d.findChild<QPushButton*>(QStringLiteral("cmdCopia"))->click();
                copied = QGuiApplication::clipboard()->text();
                EXPECT_NE(d.findChild<QPushButton*>(QStringLiteral("cmdSalva")), nullptr);
                return int(QDialog::Rejected);
            });
        SCOPED_TRACE(portable ? "portable" : "desktop");
        EXPECT_EQ(all, 9) << qPrintable(shownText); // 6 rows, 2 changes, 1 question
        EXPECT_TRUE(counts.contains(QStringLiteral("Clienti aggiunti: <b>2</b>"))) << qPrintable(counts);
        EXPECT_EQ(clients, 2);
        // Clients come from the exchange area: toward the side the run stands on.
        EXPECT_EQ(clientDirection,
                  portable ? QStringLiteral("⇐ verso il portatile") : QStringLiteral("⇒ verso la sede"));
        // The visits row goes to the exchange area, the card comes from it.
        EXPECT_EQ(card.section(QLatin1Char('|'), 0, 0),
                  portable ? QStringLiteral("⇐ verso il portatile") : QStringLiteral("⇒ verso la sede"));
        EXPECT_TRUE(card.contains(
            QStringLiteral("03/05/2026 10:00:00, 5 byte; sostituisce: 01/05/2026 09:00:00, 7 byte")))
            << qPrintable(card);
        EXPECT_EQ(towardBranch, portable ? 2 : 4) << qPrintable(shownText);
        EXPECT_EQ(divergence, QStringLiteral("≠ diversi sui due lati|ApOra: qui «09:00», scambio «10:30»"));
        EXPECT_EQ(key, QStringLiteral("[EXPORT] DATAA12"));
        EXPECT_FALSE(shownText.contains(QStringLiteral("->")) || shownText.contains(QStringLiteral("<-")));
        EXPECT_EQ(searched, 1);
        EXPECT_EQ(copied, QStringLiteral("Categoria\tDirezione\tElemento\tDettaglio\tDove\n"
                                         "Clienti aggiunti\t") +
                              clientDirection + QStringLiteral("\t12\tRossi Mario\tCLIENTI\n"));
    }
    EXPECT_EQ(prompt.pending(), 0);
}

// A dry run copies nothing: its progress says what it would copy.
TEST(PreviewGrid, DryRunProgressSaysWhatWouldBeCopied)
{
    EXPECT_EQ(progressText(QStringLiteral("SCHEDE CLIENTI: invio"), 3, 11, CopyProgress{1, true}),
              QStringLiteral("SCHEDE CLIENTI: invio: esaminati 3 di 11, da copiare 1"));
    EXPECT_EQ(progressText(QStringLiteral("SCHEDE CLIENTI: invio"), 3, 11, CopyProgress{1, false}),
              QStringLiteral("SCHEDE CLIENTI: invio: esaminati 3 di 11, copiati 1"));
}

} // namespace
