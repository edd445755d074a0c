#include "changes/Restore.h"
#include "changes/VersionStore.h"
#include "cli/Cli.h"
#include "common/Helpers.h"
#include "common/Prompt.h"
#include "common/RunLog.h"
#include "config/ConfigLoader.h"
#include "config/Context.h"
#include "session/OperatorForm.h"
#include "session/OperatorFormLoad.h"
#include "session/RunSession.h"

#include <cstdio>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace mirsalex {

namespace {

// Loading for the versions: the window's load, written nothing, its boxes
// (if any) answered as an unattended run answers them.
class QuietPrompt : public Prompt
{
protected:
    int ask(const QString& text, int style, const QString& title) override
    {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(title), qPrintable(text));
        switch (MsgStyle::buttons(style)) {
        case MsgStyle::RetryCancel:
        case MsgStyle::OkCancel:
            return AnswerCancel;
        case MsgStyle::YesNo:
        case MsgStyle::YesNoCancel:
            return AnswerNo;
        default:
            return AnswerOk;
        }
    }
};

// The operator and side a batch run with these options would work for. The
// load writes nothing: the folders it would make are left unmade.
bool loadOperator(Context& ctx, OperatorForm& w, const CliOptions& options, const QString& fileIni,
                  const QString& code)
{
    ctx.config.FileIni = fileIni;
    QStringList wouldCreate;
    loadFormAsBatch(ctx, w, code, options.side == QLatin1String("portable"), &wouldCreate);
    if (CompareBinary(ctx.CodOperatore, QStringLiteral("000")) <= 0) {
        std::fprintf(stderr, "mirsalex: no valid operator (code '%s'): give one with --operator\n",
                     qPrintable(ctx.CodOperatore));
        return false;
    }
    return true;
}

QJsonObject entryJson(const VersionEntry& e)
{
    QJsonObject o;
    o[QStringLiteral("id")] = e.id;
    o[QStringLiteral("date")] = e.started.toString(Qt::ISODateWithMs);
    o[QStringLiteral("side")] = e.side;
    o[QStringLiteral("operator")] = e.operatorCode;
    o[QStringLiteral("restores")] = e.restores.isEmpty() ? QJsonValue() : QJsonValue(e.restores);
    o[QStringLiteral("kind")] = !e.restores.isEmpty() ? QStringLiteral("restore")
                                : e.madeBy.isEmpty()  ? QStringLiteral("run")
                                                      : QStringLiteral("access_conversion");
    o[QStringLiteral("complete")] = e.ended;
    o[QStringLiteral("folder")] = e.folder;
    QJsonObject files;
    for (const auto& [group, n] : e.filesByGroup())
        files[group] = n;
    o[QStringLiteral("files")] = files;
    QJsonObject rows;
    for (const auto& [table, n] : e.rows)
        rows[table] = n;
    o[QStringLiteral("rows")] = rows;
    o[QStringLiteral("databases")] = e.count(VersionItem::Kind::Database);
    o[QStringLiteral("keys")] = e.count(VersionItem::Kind::Key);
    QJsonArray items;
    for (const VersionItem& i : e.items) {
        QJsonObject it;
        it[QStringLiteral("kind")] = i.kind == VersionItem::Kind::Key        ? QStringLiteral("key")
                                     : i.kind == VersionItem::Kind::Database ? QStringLiteral("database")
                                                                             : QStringLiteral("file");
        it[QStringLiteral("path")] = i.path;
        if (i.kind == VersionItem::Kind::Key)
            it[QStringLiteral("key")] = QStringLiteral("[%1] %2").arg(i.section, i.key);
        else
            it[QStringLiteral("created")] = i.version.isEmpty();
        items.append(it);
    }
    o[QStringLiteral("changes")] = items;
    return o;
}

QJsonObject installationJson(const VersionInstallation& i)
{
    QJsonObject o;
    o[QStringLiteral("config")] = i.configFile;
    o[QStringLiteral("data")] = i.dataFolder;
    return o;
}

// The lines that name the installation an entry belongs to.
QString installationText(const VersionInstallation& i)
{
    return QStringLiteral("  file di configurazione: ") + i.configFile +
           QStringLiteral("\n  cartella dei dati: ") + i.dataFolder;
}

} // namespace

VersionSettings versionSettings(const CliOptions& options, const QString& fileIni)
{
    VersionSettings s = VersionSettings::fromConfiguration(fileIni);
    if (!options.versionsDir.isEmpty()) {
        s.root = QFileInfo(options.versionsDir).absoluteFilePath();
        if (!s.root.endsWith(QLatin1Char('/')))
            s.root += QLatin1Char('/');
    }
    if (options.keepVersions > 0)
        s.keepRuns = options.keepVersions;
    if (options.keepDays > 0)
        s.keepDays = options.keepDays;
    return s;
}

int runVersions(const CliOptions& options)
{
    QString code;
    if (!operatorOption(options, code))
        return exitstatus::kUsage;
    QString fileIni;
    QString fullPath;
    if (!findConfiguration(options, fileIni, fullPath))
        return exitstatus::kUsage;
    QuietPrompt prompt;
    Context ctx(prompt);
    OperatorForm w;
    if (!loadOperator(ctx, w, options, fileIni, code))
        return exitstatus::kUsage;
    const VersionStore store = versionStoreFor(ctx, w, versionSettings(options, fileIni));
    // This installation's entries; those of another one are not shown.
    const std::vector<VersionEntry> entries = store.list(VersionStore::Owner::This);
    const std::vector<VersionEntry> unrecorded = store.list(VersionStore::Owner::Unrecorded);
    if (options.report == QLatin1String("json")) {
        QJsonObject root;
        root[QStringLiteral("operator")] = ctx.CodOperatore;
        root[QStringLiteral("side")] =
            store.portable() ? QStringLiteral("portable") : QStringLiteral("desktop");
        root[QStringLiteral("folder")] = store.folder();
        root[QStringLiteral("keep_runs")] = store.settings().keepRuns;
        root[QStringLiteral("keep_days")] = store.settings().keepDays;
        QJsonArray list;
        for (const VersionEntry& e : entries)
            list.append(entryJson(e));
        root[QStringLiteral("versions")] = list;
        root[QStringLiteral("installation")] = installationJson(store.installation());
        QJsonArray older;
        for (const VersionEntry& e : unrecorded)
            older.append(entryJson(e));
        root[QStringLiteral("unrecorded_versions")] = older;
        const QByteArray doc = QJsonDocument(root).toJson(QJsonDocument::Indented);
        std::fwrite(doc.constData(), 1, size_t(doc.size()), stdout);
        return exitstatus::kCompleted;
    }
    std::printf("VERSIONI dell'operatore %s (%s): %s\n", qPrintable(ctx.CodOperatore),
                store.portable() ? "Portatile" : "DeskTop", qPrintable(store.folder()));
    std::printf("Conservate: le ultime %d, non oltre %d giorni\n", store.settings().keepRuns,
                store.settings().keepDays);
    if (entries.empty())
        std::printf("  nessuna versione\n");
    for (const VersionEntry& e : entries)
        std::printf("  %s\n", qPrintable(e.summaryLine()));
    if (!unrecorded.empty()) {
        std::printf("Versioni senza installazione registrata (di una versione precedente del programma: il "
                    "ripristino chiede conferma):\n");
        for (const VersionEntry& e : unrecorded)
            std::printf("  %s\n", qPrintable(e.summaryLine()));
    }
    return exitstatus::kCompleted;
}

int runRestore(Prompt& prompt, std::FILE* out, const CliOptions& options, const QString& fileIni,
               const QString& code)
{
    Context ctx(prompt);
    OperatorForm w;
    if (!loadOperator(ctx, w, options, fileIni, code))
        return exitstatus::kUsage;
    const VersionStore store = versionStoreFor(ctx, w, versionSettings(options, fileIni));
    const std::optional<VersionEntry> entry = store.find(options.restore);
    if (!entry) {
        std::fprintf(stderr, "mirsalex: no version '%s' in %s (see mirsalex --versions)\n",
                     qPrintable(options.restore), qPrintable(store.folder()));
        return exitstatus::kUsage;
    }
    std::fprintf(out, "=== RIPRISTINO della versione %s (operatore %s, %s)\n", qPrintable(entry->id),
                 qPrintable(ctx.CodOperatore), store.portable() ? "Portatile" : "DeskTop");
    // What stands in the way is printed; a missing folder or a later change
    // needs --yes, an entry that does not say its installation a Yes.
    const auto confirm = [&](const VersionEntry& e, const RestoreChecks& checks) {
        if (!checks.missing.isEmpty()) {
            std::fprintf(out, "ATTENZIONE: area di scambio assente, non c'è la cartella:\n");
            for (const QString& m : checks.missing)
                std::fprintf(out, "  %s\n", qPrintable(m));
            if (!options.yes) {
                std::fprintf(out,
                             "Ripristino NON eseguito: collegare l'area di scambio e ripetere (con --yes "
                             "si ripristina comunque il resto).\n");
                std::fflush(out);
                return false;
            }
        }
        if (!checks.later.isEmpty()) {
            std::fprintf(out,
                         "ATTENZIONE: un aggiornamento successivo ha modificato gli stessi file o dati:\n");
            for (const QString& l : checks.later)
                std::fprintf(out, "  %s\n", qPrintable(l));
            if (!options.yes) {
                std::fprintf(out, "Ripristino NON eseguito: ripetere con --yes per ripristinare comunque.\n");
                std::fflush(out);
                return false;
            }
            std::fprintf(out, "Confermato con --yes: quelle modifiche successive vengono sostituite.\n");
        }
        std::fflush(out);
        if (checks.owner == VersionStore::Owner::Unrecorded &&
            prompt.show(QStringLiteral("RIPRISTINO DELLA VERSIONE ") + e.id + QLatin1Char('\n') +
                            unrecordedEntryWarning() + QStringLiteral("\nProcedo con il ripristino?"),
                        MsgStyle::Question, QStringLiteral("VERSIONI")) != AnswerYes) {
            std::fprintf(out, "Ripristino NON eseguito.\n");
            std::fflush(out);
            return false;
        }
        return true;
    };
    const RestoreResult result =
        restoreVersion(ctx, w, store, *entry, confirm, RunLog::forOption(options.log));
    switch (result.status) {
    case RestoreResult::Status::OtherInstallation:
        // Another installation's entry would put its files and keys over
        // this one's: never.
        std::fprintf(out,
                     "Ripristino NON eseguito: la versione %s è di un'altra installazione:\n%s\n"
                     "Si ripristina dall'installazione a cui appartiene.\n",
                     qPrintable(entry->id), qPrintable(installationText(entry->installation)));
        std::fflush(out);
        return exitstatus::kIncomplete;
    case RestoreResult::Status::Damaged:
        std::fprintf(out, "VERSIONE DANNEGGIATA: ripristino NON eseguito, nessun file è stato modificato.\n");
        for (const QString& d : result.damaged)
            std::fprintf(out, "  %s\n", qPrintable(d));
        std::fflush(out);
        return exitstatus::kFailed;
    case RestoreResult::Status::NotConfirmed:
        return exitstatus::kIncomplete;
    case RestoreResult::Status::Refused:
        return exitstatus::kLocked;
    case RestoreResult::Status::Restored:
    case RestoreResult::Status::Failed:
        break;
    }
    std::fputs(qPrintable(result.text), out);
    std::fflush(out);
    if (result.logError)
        std::fprintf(stderr, "mirsalex: the run log %s could not be written (%d %s)\n",
                     qPrintable(result.logPath), result.logError.number, qPrintable(result.logError.text));
    return result.status == RestoreResult::Status::Restored ? exitstatus::kCompleted : exitstatus::kFailed;
}

} // namespace mirsalex
