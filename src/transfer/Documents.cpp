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

// Records the completion of document group `group` for the run's side and
// operator, and greys its check box. A date that cannot be recorded fails
// the group (told to the user), and the stage ends.
StepOutcome markCompleted(RunState& w, int group)
{
    const auto g = static_cast<size_t>(group);
    if (const Error e = w.sink.writeKey(w.request.configFile, QStringLiteral("EXPORT"),
                                        w.request.sideLetter() + QStringLiteral("DTLX") +
                                            QString::number(group) + w.request.operatorCode,
                                        DateStamp(QDateTime::currentDateTime()))) {
        const QString text = MessaggioDataNonRegistrata(e);
        w.prompt().show(text, MsgStyle::ExclamationOk);
        return StepOutcome::failure(static_cast<qint16>(e.number), text);
    }
    w.ticks.gruppi[g] = 2;
    return StepOutcome::done();
}

// For the run report: a ticked group whose exchange folder is missing or
// holds no file was skipped; a failed group ended with the error number and
// the text it showed.
StepOutcome skippedGroup(const QString& folder, const QString& reason = QString())
{
    return StepOutcome::skipped(!reason.isEmpty() ? reason
                                : platform::isDirectory(folder)
                                    ? QStringLiteral("cartella di scambio vuota")
                                    : QStringLiteral("cartella di scambio assente"),
                                folder);
}
StepOutcome failedGroup(qint16 number, const QString& text)
{
    return StepOutcome::failure(number, text.trimmed());
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
struct DirectionEnd
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
DirectionEnd failDirection(Prompt& prompt, const QString& groupMessage, int number, const QString& file)
{
    const auto code = static_cast<qint16>(number);
    const int choice = number > 0 ? MsgErroreFile(prompt, number, file) : SceltaNessuna;
    if (choice == SceltaRiprova)
        return {DirectionEnd::Retry, code};
    QString text = groupMessage;
    if (choice == SceltaNessuna && number > 0)
        text += QLatin1Char('\n') + QString::number(number) + QLatin1Char('-') +
                platform::errorDescription(number);
    prompt.show(text, MsgStyle::Ok);
    return {DirectionEnd::Failed, code};
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
Error listFolder(const ChangeSink& sink, const QString& folder, const QString& pattern, QStringList& names,
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
DirectionEnd transferOnce(RunState& w, size_t group, int direction, const QString& from, const QString& to,
                          const QString& pattern, const QString& errorText)
{
    // A folder that could not be prepared (already reported at load) is never
    // taken for the current folder.
    QStringList names;
    QStringList existing;
    if (from.trimmed().isEmpty() || to.trimmed().isEmpty()) {
        w.prompt().show(errorText + pattern, MsgStyle::Ok);
        return {DirectionEnd::Failed, 0};
    }
    // The folders as they are named on disk: a folder configured as "Testi"
    // and stored as "testi" is the same folder, and the paths of its files
    // are built on the stored name.
    const QString fromOnDisk = platform::resolve(from);
    const QString toOnDisk = platform::resolve(to);
    QStringList passedAtDestination;
    for (const auto& [folder, list, passed] :
         {std::tuple<const QString&, QStringList&, QStringList&>{fromOnDisk, names, w.filesIgnored},
          std::tuple<const QString&, QStringList&, QStringList&>{toOnDisk, existing, passedAtDestination}}) {
        if (const Error error = listFolder(w.sink, folder, pattern, list, passed))
            return failDirection(w.prompt(), errorText + pattern, error.number, folder);
    }
    w.filesIgnored << passedAtDestination;
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

    qint16& counter = w.filesOffered[group][direction];
    QHash<QString, QString> nameOf; // destination on disk -> name shown
    QSet<QString> seen;             // upper-cased names offered in this direction
    ChangeSink::CopyBatch batch(w.sink);
    // Copies that never reached their place are not counted as updated.
    auto uncount = [&] { counter = static_cast<qint16>(std::max(0, counter - batch.state().dropped)); };
    auto batchFailed = [&] {
        uncount();
        const ChangeSink::CopyBatchState state = batch.state();
        const QString shown = nameOf.value(state.failedDestination, state.failedDestination);
        return failDirection(w.prompt(), errorText + shown, state.failure.number, state.failedDestination);
    };
    // Progress: one item per name listed, shown as the group and direction.
    const QString step = groupNames().value(static_cast<qsizetype>(group)) +
                         (direction == 0 ? QStringLiteral(": invio") : QStringLiteral(": ricezione"));
    const ProgressEnd progressEnd(w.prompt());
    qint64 done = 0;
    for (const QString& listed : names) {
        w.prompt().progress(step, done++, names.size());
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
        const CopyResult copy = detail::copyResolvedIfNewer(w, from + name, to + name, fromOnDisk + listed,
                                                            destination, counter, w.request.confirmCopies, 0);
        if (copy.failed) {
            if (batch.state().failure) // what was pending could not be put in place
                return batchFailed();
            batch.commit(); // the copies made before stay in place
            uncount();
            return failDirection(w.prompt(), errorText + name, copy.error ? copy.error.number : copy.number,
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
// Returns Ok or the failure. The files offered are counted into
// filesOffered(group, direction), from zero.
DirectionEnd transfer(RunState& w, size_t group, int direction, const QString& from, const QString& to,
                      const QString& pattern, const QString& errorText)
{
    w.filesOffered[group][direction] = 0;
    for (;;) {
        const DirectionEnd end = transferOnce(w, group, direction, from, to, pattern, errorText);
        if (end.kind != DirectionEnd::Retry)
            return end;
    }
}

// One notice for everything the stage left alone: links below the exchange
// folder and names that are no text. Shown once per run.
void tellIgnored(Prompt& prompt, QStringList ignored)
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
    prompt.show(text, MsgStyle::ExclamationOk);
}

// The end of a group's step. The stage ends with a group that fails or with
// the last group ticked: what it left alone is told then.
StepOutcome endGroup(RunState& w, size_t group, StepOutcome outcome)
{
    bool last = true;
    for (size_t later = group + 1; later < w.ticks.gruppi.size(); ++later)
        last = last && w.ticks.gruppi[later] != 1;
    if (outcome.failed() || last) {
        tellIgnored(w.prompt(), w.filesIgnored);
        w.filesIgnored.clear();
    }
    return outcome;
}

// A group folder below the exchange folder that is a link (it may lead
// anywhere, and the exchange area is shared with others) is not used; the
// link is told when the stage ends.
bool linkedFolder(RunState& w, const QString& folder)
{
    // The folder of the exchange database: the group folders below it are
    // the operator's exchange area.
    QString area, name;
    platform::splitPath(w.request.exchangeClients.trimmed(), area, name);
    const QString link = platform::linkBelow(area, folder);
    if (!link.isEmpty())
        w.filesIgnored << link;
    return !link.isEmpty();
}

// The exchange folder of a group holds something; a folder that cannot be
// read at all ends the run like a failed copy, never as an empty one.
// `failed` is the error of a folder that cannot be read, 0 otherwise.
bool availableFolder(Prompt& prompt, const QString& folder, const QString& failureText, int& failed)
{
    int error = 0;
    failed = 0;
    if (EsisteFile(prompt, folder, 0, &error))
        return true;
    if (error != 0) {
        prompt.show(failureText + QLatin1Char('\n') + folder + QLatin1Char('\n') + QString::number(error) +
                        QLatin1Char('-') + platform::errorDescription(error),
                    MsgStyle::Ok);
        failed = error;
    }
    return false;
}

QString linkNotFollowed()
{
    return QStringLiteral("la cartella di scambio è un collegamento: non seguito");
}

// Client cards or client sheets: sent, then received.
StepOutcome exchangeGroup(RunState& w, const DocumentGroup& g)
{
    const auto i = static_cast<size_t>(g.index);
    auto end = [&](StepOutcome outcome) { return endGroup(w, i, std::move(outcome)); };
    const QString exchange = w.request.exchangeFolders[i];
    if (linkedFolder(w, exchange))
        return end(skippedGroup(exchange, linkNotFollowed()));
    int failed = 0;
    if (!availableFolder(w.prompt(), exchange, g.receiveError + g.pattern, failed)) {
        if (failed != 0)
            return end(failedGroup(static_cast<qint16>(failed), g.receiveError + g.pattern));
        return end(skippedGroup(exchange));
    }
    if (const DirectionEnd sent = transfer(w, i, 0, g.localFolder, exchange, g.pattern, g.sendError);
        sent.kind != DirectionEnd::Ok)
        return end(failedGroup(sent.number, g.sendError));
    if (const DirectionEnd received = transfer(w, i, 1, exchange, g.localFolder, g.pattern, g.receiveError);
        received.kind != DirectionEnd::Ok)
        return end(failedGroup(received.number, g.receiveError));
    return end(markCompleted(w, g.index));
}

} // namespace

StepOutcome sendIndices(RunState& w)
{
    auto end = [&](StepOutcome outcome) { return endGroup(w, 0, std::move(outcome)); };
    const QString exchange = w.request.exchangeFolders[0];
    const QString errorText = QStringLiteral("Errore nell'aggiornamento degli INDICI");
    if (linkedFolder(w, exchange))
        return end(skippedGroup(exchange, linkNotFollowed()));
    int failed = 0;
    if (!availableFolder(w.prompt(), exchange, errorText, failed)) {
        if (failed != 0)
            return end(failedGroup(static_cast<qint16>(failed), errorText));
        return end(skippedGroup(exchange));
    }
    qint16& counter = w.filesOffered[0][0];
    counter = 0;
    const QString name = QStringLiteral("IndiciDV.mdb");
    const QString local = w.request.dataFolder + name;
    // A damaged database never replaces the exchange copy.
    if (const Error e = checkDatabaseIntegrity(platform::resolve(local));
        e.number == DbErr::CannotOpenDatabase) {
        w.prompt().show(errorText + QLatin1Char('\n') + QStringLiteral("Il database locale è danneggiato:") +
                            QLatin1Char('\n') + local,
                        MsgStyle::Ok);
        return end(failedGroup(static_cast<qint16>(e.number), QStringLiteral("database locale danneggiato")));
    }
    for (;;) {
        const CopyResult copy = copyIfNewer(w, local, exchange + name, counter, 1);
        if (!copy.failed)
            break;
        const int number = copy.error ? copy.error.number : copy.number;
        if (failDirection(w.prompt(), errorText, number, copy.error ? copy.error.path : exchange + name)
                .kind != DirectionEnd::Retry)
            return end(failedGroup(static_cast<qint16>(number), errorText));
    }
    return end(markCompleted(w, 0));
}

StepOutcome exchangeCards(RunState& w)
{
    return exchangeGroup(w, {1, QStringLiteral("SK*.doc"), w.request.cardsFolder,
                             QStringLiteral("Errore nell'invio della Scheda "),
                             QStringLiteral("Errore nella ricezione della Scheda ")});
}

StepOutcome exchangeSheets(RunState& w)
{
    return exchangeGroup(w, {2, QStringLiteral("XK*.xls"), w.request.sheetsFolder,
                             QStringLiteral("Errore nell'invio del Foglio "),
                             QStringLiteral("Errore nella ricezione del Foglio ")});
}

} // namespace mirsalex
