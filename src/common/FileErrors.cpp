#include "common/FileErrors.h"

#include "common/Platform.h"
#include "common/Prompt.h"

namespace mirsalex {

namespace {

// Attribute bit of the directory search that lets folders match too.
constexpr int kAttributeDirectory = 16;

} // namespace

int MsgErroreFile(Prompt& prompt, int errorNumber, const QString& fileName, const QString& driveText)
{
    const QString drive =
        driveText.isEmpty() ? fileName.left(2).leftJustified(2, QLatin1Char(' ')) : driveText;
    QString text;
    bool retry = false;
    switch (errorNumber) {
    case 52:
    case 64:
        text = QStringLiteral("Il nome dell'archivio non è corretto.");
        break;
    case 54:
        text = QStringLiteral("L'archivio non si può aprire per quel tipo di accesso.");
        break;
    case 55:
        text = QStringLiteral("L'archivio è già aperto.");
        retry = true;
        break;
    case 57:
        text = QStringLiteral("Errore di I/O sul DEVICE del file   ") + drive;
        retry = true;
        break;
    case 61:
        text = QStringLiteral("Non c'è più spazio sul disco   ") + drive;
        retry = true;
        break;
    case 62:
        text = QStringLiteral(
            "L'archivio ha un fine-file non standard,\no è stata fatta una lettura oltre la fine.");
        break;
    case 68:
        text = QStringLiteral("Questo device non e' utilizzabile   ") + drive;
        break;
    case 71:
        text = QStringLiteral("Il disco non è pronto   ") + drive;
        retry = true;
        break;
    case 76:
        text = QStringLiteral("Questo percorso non esiste.");
        retry = true;
        break;
    default:
        return SceltaNessuna;
    }
    const int style = retry ? MsgStyle::ExclamationRetryCancel : MsgStyle::ExclamationOk;
    switch (prompt.show(text, style, QStringLiteral("Errori su  ") + fileName)) {
    case AnswerRetry:
        return SceltaRiprova;
    case AnswerIgnore:
        return SceltaIgnora;
    case AnswerOk:
    case AnswerCancel:
    case AnswerAbort:
        return SceltaChiudi;
    default:
        return SceltaNessuna;
    }
}

bool EsisteFile(Prompt& prompt, const QString& fileName, int attributes, int* failure)
{
    if (failure)
        *failure = 0;
    if (fileName.trimmed().isEmpty())
        return false;
    QString folder, pattern;
    platform::splitPath(fileName, folder, pattern);
    if (pattern.isEmpty())
        pattern = QStringLiteral("*");
    const bool directoriesToo = (attributes & kAttributeDirectory) != 0;
    // Names starting with a dot are the hidden entries of this platform; an
    // ordinary search skips them unless it asks for such a name.
    const bool skipHidden = !pattern.startsWith(QLatin1Char('.'));
    const std::function<bool(const platform::DirEntry&)> shown = [skipHidden](const platform::DirEntry& e) {
        return !skipHidden || !e.name.startsWith(QLatin1Char('.'));
    };
    for (;;) {
        // Listed up to the first entry shown (a folder of thousands of
        // documents is not gathered to be told it holds one).
        QList<platform::DirEntry> entries;
        const Error err = platform::listDirectoryUntil(folder, pattern, directoriesToo, shown, entries);
        if (!err && !entries.isEmpty() && shown(entries.constLast()))
            return true;
        // Nothing found on a medium that is not inserted (a missing mount
        // point, or one with nothing mounted on it): the disk is not ready.
        const QString medium = platform::absentMedium(fileName);
        if (!medium.isEmpty()) {
            if (MsgErroreFile(prompt, 71, fileName, medium) != SceltaRiprova)
                return false;
            continue;
        }
        if (!err)
            return false;
        // A folder that is not there is a search that finds nothing, not a
        // failure: only a device that cannot be read is worth a message.
        if (err.notFound())
            return false;
        if (MsgErroreFile(prompt, err.number, fileName) != SceltaRiprova) {
            if (failure)
                *failure = err.number;
            return false;
        }
    }
}

} // namespace mirsalex
