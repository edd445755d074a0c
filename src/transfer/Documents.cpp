#include "common/FileErrors.h"
#include "common/Helpers.h"
#include "common/Platform.h"
#include "config/ConfigLoader.h"
#include "db/Integrity.h"
#include "transfer/FileCopyDetail.h"
#include "transfer/SafeFileCopy.h"
#include "transfer/Transfer.h"

#include <algorithm>
#include <QDateTime>
#include <QHash>
#include <QSet>

namespace mirsalex {

namespace {

// Records the completion of document group `group` for the current side and
// operator, and greys its check box.
void segnaCompletato(Context& ctx, WindowState& w, int group)
{
    ScriviIni(ctx.config.FileIni, QStringLiteral("EXPORT"),
              w.PrefissoLato + QStringLiteral("DTLX") + QString::number(group) + ctx.CodOperatore,
              DateStamp(QDateTime::currentDateTime()));
    w.Check1[static_cast<size_t>(group)].value = 2;
    w.EsitoDocumenti[static_cast<size_t>(group)] = StepOutcome::done();
}

// For the run report: a ticked group whose exchange folder is missing or
// holds no file was skipped; a failed group ended with the text it showed.
void segnaSaltato(WindowState& w, size_t group, const QString& folder)
{
    w.EsitoDocumenti[group] =
        StepOutcome::skipped(platform::isDirectory(folder) ? QStringLiteral("cartella di scambio vuota")
                                                           : QStringLiteral("cartella di scambio assente"),
                             folder);
}
void segnaFallito(Context& ctx, WindowState& w, size_t group, const QString& text)
{
    w.EsitoDocumenti[group] = StepOutcome::failure(ctx.CodErrore, text.trimmed());
}

struct DocumentGroup
{
    int index;
    QString pattern;
    QString localFolder;
    QString sendError;
    QString receiveError;
};

enum class Listing
{
    Ok,
    Failed
};

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

// The names of `folder` matching `pattern`, in the folder's own order. A
// folder that does not exist holds nothing; a folder that cannot be read
// (device error) fails the direction.
Listing elenca(const QString& folder, const QString& pattern, QStringList& names)
{
    names.clear();
    QList<platform::DirEntry> entries;
    const platform::FileError error = platform::listDirectory(folder, pattern, false, entries);
    if (error && error.number != 76 && error.number != 53)
        return Listing::Failed;
    for (const platform::DirEntry& e : entries) {
        if (!e.isDir)
            names << e.name;
    }
    return Listing::Ok;
}

// One direction of a group: every listed name, upper-cased, goes through the
// newest-wins copy. Returns false after reporting the first failure.
//
// Both folders are listed once: a name is matched against the destination's
// names without regard to case, so a card listed as "sk12.doc" meets its
// copy "SK12.DOC", and a card new to the destination gets the upper-cased
// name. The copies of one direction are flushed to the disk together and put
// in place at its end, before the other direction lists them.
bool trasferisci(Context& ctx, WindowState& w, const QString& from, const QString& to, const QString& pattern,
                 const QString& errorText)
{
    // A folder that could not be prepared (already reported at load) is never
    // taken for the current folder.
    QStringList names;
    QStringList existing;
    if (from.trimmed().isEmpty() || to.trimmed().isEmpty()) {
        ctx.prompt.show(errorText + pattern, MsgStyle::Ok);
        return false;
    }
    // The folders as they are named on disk: a folder configured as "Testi"
    // and stored as "testi" is the same folder, and the paths of its files
    // are built on the stored name.
    const QString fromOnDisk = platform::resolve(from);
    const QString toOnDisk = platform::resolve(to);
    if (elenca(fromOnDisk, pattern, names) == Listing::Failed ||
        elenca(toOnDisk, pattern, existing) == Listing::Failed) {
        ctx.prompt.show(errorText + pattern, MsgStyle::Ok);
        return false;
    }
    // Leftovers of a copy into this folder that a killed run never ended.
    SafeFileCopy::removeStale(toOnDisk.endsWith(platform::separator()) ? toOnDisk
                                                                       : toOnDisk + platform::sep());
    QHash<QString, QString> onDisk;
    for (const QString& e : existing)
        onDisk.insert(e.toUpper(), e);

    const auto group = w.GruppoCorrente;
    const auto direction = w.DirezioneCorrente;
    QHash<QString, QString> nameOf; // destination on disk -> name shown
    QSet<QString> seen;             // upper-cased names offered in this direction
    SafeFileCopy::Batch batch;
    int made = 0;
    int placed = 0;
    QString failed;
    // Progress: one item per name listed, shown as the group and direction.
    const QString step = w.NomiGruppi.value(group) +
                         (direction == 0 ? QStringLiteral(": invio") : QStringLiteral(": ricezione"));
    const ProgressEnd progressEnd(ctx.prompt);
    qint64 done = 0;
    for (const QString& listed : names) {
        ctx.prompt.progress(step, done++, names.size());
        const QString name = listed.toUpper();
        // Two names that differ only in case (a folder on a case-sensitive
        // disk) go to one destination: the copy of the first is put in place
        // before the second is compared with it, so the newer one wins.
        if (seen.contains(name)) {
            made += batch.pending();
            placed += batch.commit(nullptr, &failed);
            if (placed < made)
                break;
        }
        seen.insert(name);
        const QString destination = toOnDisk + onDisk.value(name, name);
        if (detail::copiaFileRisolto(ctx, w, from + name, to + name, fromOnDisk + listed, destination,
                                     w.chkDebug.value, 0)) {
            ctx.prompt.show(errorText + name, MsgStyle::Ok);
            batch.commit(nullptr, nullptr); // the copies made before stay in place
            return false;
        }
        nameOf.insert(destination, name);
    }
    if (placed == made) {
        made += batch.pending();
        placed += batch.commit(nullptr, &failed);
    }
    if (placed < made) {
        // Copies that never reached their place are not counted as updated.
        qint16& counter = w.Contatori[group][direction];
        counter = static_cast<qint16>(std::max(0, counter - (made - placed)));
        ctx.prompt.show(errorText + nameOf.value(failed), MsgStyle::Ok);
        return false;
    }
    return true;
}

} // namespace

bool AggiornaDocumenti(Context& ctx, WindowState& w)
{
    // Group 0: the indices database, only ever pushed to the exchange folder,
    // always with its confirmation box.
    w.GruppoCorrente = 0;
    w.DirezioneCorrente = 0;
    const QString indici = w.lbFileX[0].caption;
    w.EsitoDocumenti = {};
    if (w.Check1[0].value == 1 && !EsisteFile(ctx.prompt, indici, 0)) {
        segnaSaltato(w, 0, indici);
    } else if (w.Check1[0].value == 1) {
        w.Contatori[0][0] = 0;
        const QString name = QStringLiteral("IndiciDV.mdb");
        // A damaged database never replaces the exchange copy.
        if (const DbError e = checkDatabaseIntegrity(platform::resolve(ctx.config.PathDati + name));
            e.number == DbErr::CannotOpenDatabase) {
            ctx.prompt.show(QStringLiteral("Errore nell'aggiornamento degli INDICI") + QLatin1Char('\n') +
                                QStringLiteral("Il database locale è danneggiato:") + QLatin1Char('\n') +
                                ctx.config.PathDati + name,
                            MsgStyle::Ok);
            return false;
        }
        if (CopiaFile(ctx, w, ctx.config.PathDati + name, indici + name, 1)) {
            ctx.prompt.show(QStringLiteral("Errore nell'aggiornamento degli INDICI"), MsgStyle::Ok);
            segnaFallito(ctx, w, 0, QStringLiteral("Errore nell'aggiornamento degli INDICI"));
            return false;
        }
        segnaCompletato(ctx, w, 0);
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
        const QString scambio = w.lbFileX[i].caption;
        if (w.Check1[i].value != 1)
            continue;
        if (!EsisteFile(ctx.prompt, scambio, 0)) {
            segnaSaltato(w, i, scambio);
            continue;
        }

        w.DirezioneCorrente = 0;
        w.Contatori[i][0] = 0;
        if (!trasferisci(ctx, w, g.localFolder, scambio, g.pattern, g.sendError)) {
            segnaFallito(ctx, w, i, g.sendError);
            return false;
        }

        w.DirezioneCorrente = 1;
        w.Contatori[i][1] = 0;
        if (!trasferisci(ctx, w, scambio, g.localFolder, g.pattern, g.receiveError)) {
            segnaFallito(ctx, w, i, g.receiveError);
            return false;
        }

        segnaCompletato(ctx, w, g.index);
    }
    return true;
}

} // namespace mirsalex
