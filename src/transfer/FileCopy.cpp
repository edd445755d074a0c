#include "common/Helpers.h"
#include "common/Platform.h"
#include "transfer/FileCopyDetail.h"
#include "transfer/FileTimes.h"
#include "transfer/Transfer.h"

#include <limits>
#include <optional>
#include <QDate>
#include <QDateTime>
#include <QTime>

namespace mirsalex {

namespace {
// Error number of a counter raised past its 16-bit limit.
constexpr qint16 kOverflow = 6;

QString messageDate(qint64 seconds)
{
    return MessageDate(QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime));
}
} // namespace

CopyResult copyIfNewer(RunState& w, const QString& source, const QString& destination, qint16& counter,
                       int prompt, int force)
{
    // Both names are looked up without regard to case: a card listed as
    // "sk12.doc" and named "SK12.DOC" here is the same file, and a file new
    // to the destination takes the name as given.
    return detail::copyResolvedIfNewer(w, source, destination, platform::resolve(source),
                                       platform::resolve(destination), counter, prompt, force);
}

CopyResult detail::copyResolvedIfNewer(RunState& w, const QString& source, const QString& destination,
                                       const QString& sourceOnDisk, const QString& destinationOnDisk,
                                       qint16& counter, int prompt, int force)
{
    // A source that cannot be dated counts as made today at midnight; a
    // destination that cannot be dated counts as missing.
    const std::optional<qint64> sourceTime = w.sink.modificationTime(sourceOnDisk);
    const qint64 sourceSeconds =
        sourceTime ? *sourceTime : QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
    const std::optional<qint64> destinationSeconds = w.sink.modificationTime(destinationOnDisk);

    const QChar lf(10);
    CopyResult result;

    bool passOn = force == 1 || !destinationSeconds;
    if (!passOn) {
        passOn = sourceTime ? FileTimes::sourceIsNewer(sourceSeconds, sourceOnDisk, *destinationSeconds,
                                                       destinationOnDisk)
                            : sourceSeconds > *destinationSeconds;
    }

    // The texts are built only for a box that is shown: a document stage
    // without confirmations goes through thousands of files.
    if (!passOn) {
        if (prompt > 0) {
            const QString text = QStringLiteral("NON passo: ") + lf + source + lf + QStringLiteral("del  ") +
                                 messageDate(sourceSeconds) + lf + QStringLiteral("su") + lf + destination +
                                 lf + QStringLiteral("del  ") + messageDate(*destinationSeconds);
            w.prompt().show(text, MsgStyle::Ok);
        }
        return result;
    }

    if (prompt > 0) {
        QString text = QStringLiteral("Copio: ") + lf + source + lf + QStringLiteral("del  ") +
                       messageDate(sourceSeconds) + lf + QStringLiteral("su") + lf;
        if (destinationSeconds)
            text += destination + lf + QStringLiteral("del  ") + messageDate(*destinationSeconds);
        else
            text += destination + QStringLiteral("  inesistente");
        result.answer = w.prompt().show(text, MsgStyle::Question, QStringLiteral("AGGIORNAMENTO FILE"));
    }

    bool copied = false;
    if (result.answer == AnswerYes) {
        result.error = w.sink.copyFile(sourceOnDisk, destinationOnDisk);
        if (result.error) {
            result.failed = true;
            result.number = static_cast<qint16>(result.error.number);
        } else {
            copied = true;
        }
    }

    // Every file offered is counted, also when the user declined it; a copy
    // that failed is not, so a failed group never shows as updated.
    if (copied || result.answer != AnswerYes) {
        if (counter == std::numeric_limits<qint16>::max()) {
            result.failed = true; // the counter would overflow: it stays as it is
            result.number = kOverflow;
        } else {
            ++counter;
        }
    }
    return result;
}

} // namespace mirsalex
