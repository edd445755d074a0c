#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "db/Integrity.h"
#include "transfer/FileCopyDetail.h"
#include "transfer/FileTimes.h"
#include "transfer/Transfer.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <string_view>
#include <thread>
#include <vector>

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

// A name upper-cased, with its hash worked out once: a folder's index is
// looked up once for each file of the other folder, in each direction.
// (The hash of a text in a QHash is seeded, and slow for names this short.)
struct NameKey
{
    QString upper;
    size_t hash = 0;

    NameKey() = default;
    explicit NameKey(QString name)
        : upper(std::move(name)),
          hash(std::hash<std::u16string_view>{}(
              std::u16string_view(reinterpret_cast<const char16_t*>(upper.utf16()), size_t(upper.size()))))
    {
    }
    friend bool operator==(const NameKey& a, const NameKey& b)
    {
        return a.hash == b.hash && a.upper == b.upper;
    }
    friend size_t qHash(const NameKey& key, size_t seed) noexcept { return key.hash ^ seed; }
};

// A folder of a group, listed once for both directions of the group: its
// files matching the group's pattern, taken in name order (the folder's own
// order is arbitrary, and a run's boxes and progress follow it), each with
// its time as this run has left it. The copies of the first direction are
// entered as they are made, so that the second direction finds the folder
// as it stands without reading it again.
struct Listing
{
    struct File
    {
        QString name;               // as stored on disk
        NameKey key;                // the name upper-cased
        std::optional<qint64> time; // none: it cannot be dated
        // Copied onto a disk that may round the time it was given: read
        // again when it is next compared.
        bool reread = false;
    };
    QString folder;             // as named on disk
    std::vector<File> files;    // as listed, then as added: a file keeps its place
    std::vector<size_t> sorted; // the files in name order
    // Upper-cased name -> the file a name stands for, the last of those
    // that differ only in case in name order.
    QHash<NameKey, size_t> byName;
    QStringList passed; // links and names that are no text

    // Puts the files added since the last time in name order among the
    // others; the first time, indexes them by name too (a file added later
    // is indexed as it is added).
    void order()
    {
        const auto before = [this](size_t a, size_t b) {
            return files[a].name.compare(files[b].name, Qt::CaseInsensitive) < 0;
        };
        const size_t known = sorted.size();
        for (size_t i = known; i < files.size(); ++i)
            sorted.push_back(i);
        const auto middle = sorted.begin() + std::ptrdiff_t(known);
        std::stable_sort(middle, sorted.end(), before);
        std::inplace_merge(sorted.begin(), middle, sorted.end(), before);
        if (byName.isEmpty()) {
            byName.clear();
            byName.reserve(qsizetype(files.size()));
            for (const size_t i : sorted)
                byName.insert(files[i].key, i);
        }
    }
    // Some names differ only in case (a folder on a case-sensitive disk).
    bool namesAlike() const { return size_t(byName.size()) != files.size(); }
};

// What a folder holds on disk for the names matching a pattern (see
// platform::listFilesDated()), read apart from the run: its files keyed,
// dated as they are on disk and put in name order; or the error that
// stopped the read.
struct FolderOnDisk
{
    Listing listing;
    Error error;
};

// A folder that does not exist holds nothing; one that cannot be read
// (device error, no permission) is told by the error.
bool unreadable(const Error& error)
{
    return error && !error.notFound();
}

FolderOnDisk readFolder(const QString& folder, const QString& pattern)
{
    FolderOnDisk read;
    Listing& out = read.listing;
    out.folder = folder;
    QList<platform::DatedEntry> entries;
    read.error = platform::listFilesDated(folder, pattern, entries, out.passed);
    if (unreadable(read.error))
        return read;
    out.files.reserve(size_t(entries.size()));
    for (const platform::DatedEntry& e : entries)
        out.files.push_back({e.name, NameKey(e.name.toUpper()), e.modified});
    out.order();
    return read;
}

// Lists `folder` (as named on disk, read into `read`) for the names matching
// `pattern`, with the files this run has put there (a dry run only records
// them) and their times as the run has left them. A folder that does not
// exist holds nothing; a folder that cannot be read (device error, no
// permission) fails the direction with its error number. Links and names
// that are no text are left out and named in `out.passed`.
Error listFolder(const ChangeSink& sink, const QString& folder, const QString& pattern, FolderOnDisk read,
                 Listing& out)
{
    out = std::move(read.listing);
    if (unreadable(read.error))
        return read.error;
    for (Listing::File& f : out.files)
        f.time = sink.timeAsLeft(folder, f.name, f.time);
    const size_t listed = out.files.size();
    const QStringList made = sink.filesCreatedIn(folder);
    if (!made.isEmpty()) {
        QStringList names;
        for (const Listing::File& f : out.files)
            names << f.name;
        for (const QString& name : made) {
            if (!names.contains(name, Qt::CaseInsensitive) && platform::wildcardMatch(pattern, name)) {
                names << name;
                out.files.push_back({name, NameKey(name.toUpper()), sink.modificationTime(folder + name)});
            }
        }
    }
    if (out.files.size() != listed) {
        // The files added take their places in the order, and the index is
        // made again over them all.
        out.byName.clear();
        out.order();
    }
    return {};
}

// One direction of a group: every listed name, upper-cased, goes through the
// newest-wins copy.
//
// Both folders are listed once for the group (`source` and `target`, listed
// here when they are not yet): a name is matched against the destination's
// names without regard to case, so a card listed as "sk12.doc" meets its
// copy "SK12.DOC", and a card new to the destination gets the upper-cased
// name. The copies are flushed to the disk together and put in place in
// bounded batches of the sink (see ChangeSink::beginCopies()), the last at
// the end of the direction, before the other direction takes them up.
DirectionEnd transferOnce(RunState& w, size_t group, int direction, const QString& from, const QString& to,
                          const QString& pattern, const QString& errorText, std::optional<Listing>& source,
                          std::optional<Listing>& target)
{
    // A folder that could not be prepared (already reported at load) is never
    // taken for the current folder.
    if (from.trimmed().isEmpty() || to.trimmed().isEmpty()) {
        w.prompt().show(errorText + pattern, MsgStyle::Ok);
        return {DirectionEnd::Failed, 0};
    }
    // The folders as they are named on disk: a folder configured as "Testi"
    // and stored as "testi" is the same folder, and the paths of its files
    // are built on the stored name.
    const QString fromOnDisk = platform::resolve(from);
    const QString toOnDisk = platform::resolve(to);
    if (!source || !target || source->folder != fromOnDisk || target->folder != toOnDisk) {
        source.emplace();
        target.emplace();
        // The two folders are read, keyed and put in order at once, the
        // destination on a thread of its own (reading changes nothing; a
        // failure injector is only ever asked from this thread, and the sink
        // is asked afterwards, on this one).
        FolderOnDisk fromRead, toRead;
        if (platform::failureInjectorSet()) {
            fromRead = readFolder(fromOnDisk, pattern);
            if (!unreadable(fromRead.error))
                toRead = readFolder(toOnDisk, pattern);
        } else {
            std::thread reader([&] { toRead = readFolder(toOnDisk, pattern); });
            fromRead = readFolder(fromOnDisk, pattern);
            reader.join();
        }
        if (const Error error = listFolder(w.sink, fromOnDisk, pattern, std::move(fromRead), *source))
            return failDirection(w.prompt(), errorText + pattern, error.number, fromOnDisk);
        w.filesIgnored << source->passed;
        if (const Error error = listFolder(w.sink, toOnDisk, pattern, std::move(toRead), *target))
            return failDirection(w.prompt(), errorText + pattern, error.number, toOnDisk);
        w.filesIgnored << target->passed;
    }
    // Leftovers of a copy into this folder that a killed run never ended.
    w.sink.removeStaleTemporaries(toOnDisk.endsWith(platform::separator()) ? toOnDisk
                                                                           : toOnDisk + platform::sep());
    // A destination name that is a link is never written through nor replaced.
    QSet<QString> blocked;
    for (const QString& path : target->passed)
        blocked.insert(path.mid(path.lastIndexOf(platform::separator()) + 1).toUpper());

    qint16& counter = w.filesOffered[group][direction];
    // Destination on disk -> name shown, for the copies made (the later
    // wins); asked only when putting them in place fails.
    std::vector<std::pair<QString, QString>> nameOf;
    QSet<QString> seen; // upper-cased names offered in this direction
    ChangeSink::CopyBatch batch(w.sink);
    // Copies that never reached their place are not counted as updated.
    auto uncount = [&] { counter = static_cast<qint16>(std::max(0, counter - batch.state().dropped)); };
    auto batchFailed = [&] {
        uncount();
        const ChangeSink::CopyBatchState state = batch.state();
        QString shown = state.failedDestination;
        const auto it = std::find_if(nameOf.rbegin(), nameOf.rend(),
                                     [&](const auto& made) { return made.first == state.failedDestination; });
        if (it != nameOf.rend())
            shown = it->second;
        return failDirection(w.prompt(), errorText + shown, state.failure.number, state.failedDestination);
    };
    // Whether a folder's disk keeps times to 2 seconds: asked once, and only
    // when a comparison or a copy needs it.
    std::optional<bool> fromCoarse, toCoarse;
    auto coarse = [](std::optional<bool>& known, const QString& folder) {
        if (!known)
            known = FileTimes::twoSecondTimes(folder);
        return *known;
    };
    const std::function<bool()> sourceCoarse = [&] { return coarse(fromCoarse, fromOnDisk); };
    const std::function<bool()> destinationCoarse = [&] { return coarse(toCoarse, toOnDisk); };
    // Progress: one item per name listed, shown as the group and direction.
    const QString step = groupNames().value(static_cast<qsizetype>(group)) +
                         (direction == 0 ? QStringLiteral(": invio") : QStringLiteral(": ricezione"));
    const ProgressEnd progressEnd(w.prompt());
    qint64 done = 0;
    const qint64 total = qint64(source->files.size());
    // Room for the names this direction may add to the target.
    target->files.reserve(target->files.size() + source->files.size());
    struct Ordered
    {
        Listing& listing;
        ~Ordered() { listing.order(); } // files added on every way out
    } ordered{*target};
    const bool alike = source->namesAlike();
    const int prompt = w.request.confirmCopies;
    for (const size_t index : source->sorted) {
        Listing::File& listed = source->files[index];
        w.prompt().progress(step, done++, total);
        const QString& name = listed.key.upper;
        if (blocked.contains(name))
            continue;
        // Two names that differ only in case (a folder on a case-sensitive
        // disk) go to one destination: the copy of the first is put in place
        // before the second is compared with it, so the newer one wins.
        if (alike) {
            if (seen.contains(name)) {
                batch.commit();
                if (batch.state().failure)
                    return batchFailed();
            }
            seen.insert(name);
        }
        const auto at = target->byName.constFind(listed.key);
        Listing::File* existing = at != target->byName.cend() ? &target->files[*at] : nullptr;
        if (listed.reread) {
            listed.time = w.sink.modificationTime(fromOnDisk + listed.name);
            listed.reread = false;
        }
        if (existing && existing->reread) {
            existing->time = w.sink.modificationTime(toOnDisk + existing->name);
            existing->reread = false;
        }
        const std::optional<qint64> destinationTime = existing ? existing->time : std::nullopt;
        // A file left as it is, without a box to show, is done with here.
        if (prompt <= 0 &&
            !detail::passesOn(listed.time, destinationTime, 0, sourceCoarse, destinationCoarse))
            continue;
        const QString destination = toOnDisk + (existing ? existing->name : name);
        // The names shown are built only for the boxes that show them.
        const detail::CopySides sides{prompt > 0 ? from + name : QString(),
                                      prompt > 0 ? to + name : QString(),
                                      fromOnDisk + listed.name,
                                      destination,
                                      listed.time,
                                      destinationTime,
                                      sourceCoarse,
                                      destinationCoarse,
                                      existing ? DestinationName::Listed : DestinationName::NotListed};
        const CopyResult copy = detail::copyResolvedIfNewer(w, sides, counter, prompt, 0);
        if (copy.copied) {
            nameOf.emplace_back(destination, name);
            // The copy takes its source's time, unless its disk rounds it.
            if (!existing) {
                target->byName.insert(listed.key, target->files.size());
                target->files.push_back({name, listed.key, {}});
                existing = &target->files.back();
            }
            existing->time = listed.time;
            existing->reread = !listed.time || destinationCoarse();
        }
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

// A direction, tried again for as long as the user asks after a failure
// (the folders listed again each time); the copies already in place are
// equal by then and are not made twice. Returns Ok or the failure. The
// files offered are counted into filesOffered(group, direction), from zero.
DirectionEnd transfer(RunState& w, size_t group, int direction, const QString& from, const QString& to,
                      const QString& pattern, const QString& errorText, std::optional<Listing>& source,
                      std::optional<Listing>& target)
{
    w.filesOffered[group][direction] = 0;
    for (;;) {
        const DirectionEnd end =
            transferOnce(w, group, direction, from, to, pattern, errorText, source, target);
        if (end.kind != DirectionEnd::Retry)
            return end;
        source.reset();
        target.reset();
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
    // Both folders are listed once, by the first direction.
    std::optional<Listing> local, remote;
    if (const DirectionEnd sent =
            transfer(w, i, 0, g.localFolder, exchange, g.pattern, g.sendError, local, remote);
        sent.kind != DirectionEnd::Ok)
        return end(failedGroup(sent.number, g.sendError));
    if (const DirectionEnd received =
            transfer(w, i, 1, exchange, g.localFolder, g.pattern, g.receiveError, remote, local);
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
