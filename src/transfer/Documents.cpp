#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "db/Integrity.h"
#include "transfer/FileCopyDetail.h"
#include "transfer/Transfer.h"

#include <algorithm>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <tuple>

namespace mirsalex {

namespace {

// Records the completion of document group `group` for the current side and
// operator, and greys its check box. A date that cannot be recorded fails
// the group (told to the user): false, and the stage ends.
bool segnaCompletato(Context& ctx, RunState& w, int group)
{
    const auto g = static_cast<size_t>(group);
    if (const Error e = w.sink.writeKey(ctx.config.FileIni, QStringLiteral("EXPORT"),
                                        w.PrefissoLato + QStringLiteral("DTLX") + QString::number(group) +
                                            ctx.CodOperatore,
                                        DateStamp(QDateTime::currentDateTime()))) {
        const QString text = MessaggioDataNonRegistrata(e);
        ctx.prompt.show(text, MsgStyle::ExclamationOk);
        w.EsitoDocumenti[g] = StepOutcome::failure(static_cast<qint16>(e.number), text);
        return false;
    }
    w.ticks.gruppi[g] = 2;
    w.EsitoDocumenti[g] = StepOutcome::done();
    return true;
}

// For the run report: a ticked group whose exchange folder is missing or
// holds no file was skipped; a failed group ended with the error number and
// the text it showed.
void segnaSaltato(RunState& w, size_t group, const QString& folder, const QString& reason = QString())
{
    w.EsitoDocumenti[group] =
        StepOutcome::skipped(!reason.isEmpty()               ? reason
                             : platform::isDirectory(folder) ? QStringLiteral("cartella di scambio vuota")
                                                             : QStringLiteral("cartella di scambio assente"),
                             folder);
}
void segnaFallito(RunState& w, size_t group, qint16 number, const QString& text)
{
    w.EsitoDocumenti[group] = StepOutcome::failure(number, text.trimmed());
}

struct DocumentGroup
{
    int index;
    QString pattern;
    QString localFolder;
    QString sendError;
    QString receiveError;
};

// How a direction ended, with the error number of a failure (0 when it has
// none).
struct Esito
{
    enum Kind
    {
        Ok,
        Failed,
        Retry // the user asked to try the direction again
    };
    Kind kind = Ok;
    qint16 number = 0;
};

// A failure of a direction: explained through the file-error messages when
// they know the error (a full disk, a device that is not ready...), which may
// offer to try again; otherwise its number and description follow the
// group's message on a second line. `file` is the file or folder concerned.
Esito fallisce(Context& ctx, const QString& groupMessage, int number, const QString& file)
{
    const auto code = static_cast<qint16>(number);
    const int choice = number > 0 ? MsgErroreFile(ctx.prompt, number, file) : SceltaNessuna;
    if (choice == SceltaRiprova)
        return {Esito::Retry, code};
    QString text = groupMessage;
    if (choice == SceltaNessuna && number > 0)
        text += QLatin1Char('\n') + QString::number(number) + QLatin1Char('-') +
                platform::errorDescription(number);
    ctx.prompt.show(text, MsgStyle::Ok);
    return {Esito::Failed, code};
}

// Closes the progress display of a direction on every path out of it.
class ProgressEnd
{
public:
    explicit ProgressEnd(Prompt& prompt) : m_prompt(prompt) {}
    ~ProgressEnd() { m_prompt.progressEnd(); }
    ProgressEnd(const ProgressEnd&) = delete;
    ProgressEnd& operator=(const ProgressEnd&) = delete;

private:
    Prompt& m_prompt;
};

// The names of `folder` matching `pattern`, in name order (the folder's own
// order is arbitrary, and a run's boxes and progress follow it), with the
// files this run has put there (a dry run only records them). A folder
// that does not exist holds nothing; a folder that cannot be read (device
// error, no permission) fails the direction with its error number. Links
// and names that are no text are left out and added to `ignored`.
Error elenca(const ChangeSink& sink, const QString& folder, const QString& pattern, QStringList& names,
             QStringList& ignored)
{
    names.clear();
    QList<platform::DirEntry> entries;
    QStringList passed;
    const Error error = platform::listDirectoryNoLinks(folder, pattern, false, entries, passed);
    if (error && error.number != 76 && error.number != 53)
        return error;
    for (const platform::DirEntry& e : entries) {
        if (!e.isDir)
            names << e.name;
    }
    for (const QString& made : sink.filesCreatedIn(folder)) {
        if (!names.contains(made, Qt::CaseInsensitive) && platform::wildcardMatch(pattern, made))
            names << made;
    }
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    ignored << passed;
    return {};
}

// One direction of a group: every listed name, upper-cased, goes through the
// newest-wins copy.
//
// Both folders are listed once: a name is matched against the destination's
// names without regard to case, so a card listed as "sk12.doc" meets its
// copy "SK12.DOC", and a card new to the destination gets the upper-cased
// name. The copies are flushed to the disk together and put in place in
// bounded batches of the sink (see ChangeSink::beginCopies()), the last at
// the end of the direction, before the other direction lists them.
Esito trasferisciUnaVolta(Context& ctx, RunState& w, const QString& from, const QString& to,
                          const QString& pattern, const QString& errorText, QStringList& ignored)
{
    // A folder that could not be prepared (already reported at load) is never
    // taken for the current folder.
    QStringList names;
    QStringList existing;
    if (from.trimmed().isEmpty() || to.trimmed().isEmpty()) {
        ctx.prompt.show(errorText + pattern, MsgStyle::Ok);
        return {Esito::Failed, 0};
    }
    // The folders as they are named on disk: a folder configured as "Testi"
    // and stored as "testi" is the same folder, and the paths of its files
    // are built on the stored name.
    const QString fromOnDisk = platform::resolve(from);
    const QString toOnDisk = platform::resolve(to);
    QStringList passedAtDestination;
    for (const auto& [folder, list, passed] :
         {std::tuple<const QString&, QStringList&, QStringList&>{fromOnDisk, names, ignored},
          std::tuple<const QString&, QStringList&, QStringList&>{toOnDisk, existing, passedAtDestination}}) {
        if (const Error error = elenca(w.sink, folder, pattern, list, passed))
            return fallisce(ctx, errorText + pattern, error.number, folder);
    }
    ignored << passedAtDestination;
    // Leftovers of a copy into this folder that a killed run never ended.
    w.sink.removeStaleTemporaries(toOnDisk.endsWith(platform::separator()) ? toOnDisk
                                                                           : toOnDisk + platform::sep());
    QHash<QString, QString> onDisk;
    for (const QString& e : existing)
        onDisk.insert(e.toUpper(), e);
    // A destination name that is a link is never written through nor replaced.
    QSet<QString> blocked;
    for (const QString& path : passedAtDestination)
        blocked.insert(path.mid(path.lastIndexOf(platform::separator()) + 1).toUpper());

    const auto group = w.GruppoCorrente;
    const auto direction = w.DirezioneCorrente;
    QHash<QString, QString> nameOf; // destination on disk -> name shown
    QSet<QString> seen;             // upper-cased names offered in this direction
    ChangeSink::CopyBatch batch(w.sink);
    // Copies that never reached their place are not counted as updated.
    auto uncount = [&] {
        qint16& counter = w.Contatori[group][direction];
        counter = static_cast<qint16>(std::max(0, counter - batch.state().dropped));
    };
    auto batchFailed = [&] {
        uncount();
        const ChangeSink::CopyBatchState state = batch.state();
        const QString shown = nameOf.value(state.failedDestination, state.failedDestination);
        return fallisce(ctx, errorText + shown, state.failure.number, state.failedDestination);
    };
    // Progress: one item per name listed, shown as the group and direction.
    const QString step = groupNames().value(group) +
                         (direction == 0 ? QStringLiteral(": invio") : QStringLiteral(": ricezione"));
    const ProgressEnd progressEnd(ctx.prompt);
    qint64 done = 0;
    for (const QString& listed : names) {
        ctx.prompt.progress(step, done++, names.size());
        const QString name = listed.toUpper();
        if (blocked.contains(name))
            continue;
        // Two names that differ only in case (a folder on a case-sensitive
        // disk) go to one destination: the copy of the first is put in place
        // before the second is compared with it, so the newer one wins.
        if (seen.contains(name)) {
            batch.commit();
            if (batch.state().failure)
                return batchFailed();
        }
        seen.insert(name);
        const QString destination = toOnDisk + onDisk.value(name, name);
        nameOf.insert(destination, name);
        const CopyResult copy = detail::copiaFileRisolto(ctx, w, from + name, to + name, fromOnDisk + listed,
                                                         destination, w.request.confirmCopies, 0);
        if (copy.failed) {
            if (batch.state().failure) // what was pending could not be put in place
                return batchFailed();
            batch.commit(); // the copies made before stay in place
            uncount();
            return fallisce(ctx, errorText + name, copy.error ? copy.error.number : copy.number,
                            copy.error ? copy.error.path : destination);
        }
    }
    batch.commit();
    if (batch.state().failure)
        return batchFailed();
    return {};
}

// A direction, tried again for as long as the user asks after a failure;
// the copies already in place are equal by then and are not made twice.
// Returns Ok or the failure.
Esito trasferisci(Context& ctx, RunState& w, const QString& from, const QString& to, const QString& pattern,
                  const QString& errorText, QStringList& ignored)
{
    for (;;) {
        const Esito esito = trasferisciUnaVolta(ctx, w, from, to, pattern, errorText, ignored);
        if (esito.kind != Esito::Retry)
            return esito;
    }
}

// One notice for everything the stage left alone: links below the exchange
// folder and names that are no text. Shown once per run.
void segnalaIgnorati(Context& ctx, QStringList ignored)
{
    ignored.removeDuplicates();
    if (ignored.isEmpty())
        return;
    constexpr int kShown = 10;
    QString text = QStringLiteral("FILE NON TRASFERITI: collegamenti o nomi non validi");
    for (int i = 0; i < std::min<int>(kShown, int(ignored.size())); ++i)
        text += QLatin1Char('\n') + ignored.at(i);
    if (ignored.size() > kShown)
        text += QStringLiteral("\n... e altri ") + QString::number(ignored.size() - kShown);
    ctx.prompt.show(text, MsgStyle::ExclamationOk);
}

// The folder of the exchange database: the group folders below it are the
// operator's exchange area, and a link in it is not followed.
QString areaScambio(const RunState& w)
{
    const QString db = w.request.exchangeClients.trimmed();
    QString folder, name;
    platform::splitPath(db, folder, name);
    return folder;
}

} // namespace

bool AggiornaDocumenti(Context& ctx, RunState& w)
{
    QStringList ignored;
    auto finish = [&](bool completed) {
        segnalaIgnorati(ctx, ignored);
        return completed;
    };
    // A group folder below the exchange folder that is a link (it may lead
    // anywhere, and the exchange area is shared with others) is not used.
    const QString area = areaScambio(w);
    auto linked = [&](const QString& folder) {
        const QString link = platform::linkBelow(area, folder);
        if (!link.isEmpty())
            ignored << link;
        return !link.isEmpty();
    };
    // The exchange folder of a group holds something; a folder that cannot
    // be read at all ends the run like a failed copy, never as an empty one.
    // `failed` is the error of a folder that cannot be read, 0 otherwise.
    auto available = [&](const QString& folder, const QString& failureText, int& failed) {
        int error = 0;
        failed = 0;
        if (EsisteFile(ctx.prompt, folder, 0, &error))
            return true;
        if (error != 0) {
            ctx.prompt.show(failureText + QLatin1Char('\n') + folder + QLatin1Char('\n') +
                                QString::number(error) + QLatin1Char('-') + platform::errorDescription(error),
                            MsgStyle::Ok);
            failed = error;
        }
        return false;
    };

    // Group 0: the indices database, only ever pushed to the exchange folder,
    // always with its confirmation box.
    w.GruppoCorrente = 0;
    w.DirezioneCorrente = 0;
    w.EsitoDocumenti = {};
    const QString linkNotFollowed = QStringLiteral("la cartella di scambio è un collegamento: non seguito");
    const QString indici = w.request.exchangeFolders[0];
    const QString indiciError = QStringLiteral("Errore nell'aggiornamento degli INDICI");
    int failed = 0;
    if (w.ticks.gruppi[0] == 1 && linked(indici)) {
        segnaSaltato(w, 0, indici, linkNotFollowed);
    } else if (w.ticks.gruppi[0] == 1 && available(indici, indiciError, failed)) {
        w.Contatori[0][0] = 0;
        const QString name = QStringLiteral("IndiciDV.mdb");
        // A damaged database never replaces the exchange copy.
        if (const Error e = checkDatabaseIntegrity(platform::resolve(ctx.config.PathDati + name));
            e.number == DbErr::CannotOpenDatabase) {
            ctx.prompt.show(indiciError + QLatin1Char('\n') +
                                QStringLiteral("Il database locale è danneggiato:") + QLatin1Char('\n') +
                                ctx.config.PathDati + name,
                            MsgStyle::Ok);
            segnaFallito(w, 0, static_cast<qint16>(e.number), QStringLiteral("database locale danneggiato"));
            return finish(false);
        }
        for (;;) {
            const CopyResult copy = CopiaFile(ctx, w, ctx.config.PathDati + name, indici + name, 1);
            if (!copy.failed)
                break;
            const int number = copy.error ? copy.error.number : copy.number;
            if (fallisce(ctx, indiciError, number, copy.error ? copy.error.path : indici + name).kind !=
                Esito::Retry) {
                segnaFallito(w, 0, static_cast<qint16>(number), indiciError);
                return finish(false);
            }
        }
        if (!segnaCompletato(ctx, w, 0))
            return finish(false);
    } else if (w.ticks.gruppi[0] == 1 && failed == 0) {
        segnaSaltato(w, 0, indici);
    }
    if (failed != 0) {
        segnaFallito(w, 0, static_cast<qint16>(failed), indiciError);
        return finish(false);
    }

    // Groups 1 and 2: client cards and sheets, sent then received.
    const DocumentGroup groups[] = {
        {1, QStringLiteral("SK*.doc"), ctx.config.PathTesti,
         QStringLiteral("Errore nell'invio della Scheda "),
         QStringLiteral("Errore nella ricezione della Scheda ")},
        {2, QStringLiteral("XK*.xls"), ctx.config.PathFogli, QStringLiteral("Errore nell'invio del Foglio "),
         QStringLiteral("Errore nella ricezione del Foglio ")},
    };
    for (const DocumentGroup& g : groups) {
        const auto i = static_cast<size_t>(g.index);
        w.GruppoCorrente = static_cast<quint8>(g.index);
        const QString scambio = w.request.exchangeFolders[i];
        if (w.ticks.gruppi[i] != 1)
            continue;
        if (linked(scambio)) {
            segnaSaltato(w, i, scambio, linkNotFollowed);
            continue;
        }
        if (!available(scambio, g.receiveError + g.pattern, failed)) {
            if (failed != 0) {
                segnaFallito(w, i, static_cast<qint16>(failed), g.receiveError + g.pattern);
                return finish(false);
            }
            segnaSaltato(w, i, scambio);
            continue;
        }

        w.DirezioneCorrente = 0;
        w.Contatori[i][0] = 0;
        if (const Esito sent = trasferisci(ctx, w, g.localFolder, scambio, g.pattern, g.sendError, ignored);
            sent.kind != Esito::Ok) {
            segnaFallito(w, i, sent.number, g.sendError);
            return finish(false);
        }

        w.DirezioneCorrente = 1;
        w.Contatori[i][1] = 0;
        if (const Esito received =
                trasferisci(ctx, w, scambio, g.localFolder, g.pattern, g.receiveError, ignored);
            received.kind != Esito::Ok) {
            segnaFallito(w, i, received.number, g.receiveError);
            return finish(false);
        }

        if (!segnaCompletato(ctx, w, g.index))
            return finish(false);
    }
    return finish(true);
}

} // namespace mirsalex
