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
    detail::CopySides sides;
    sides.source = source;
    sides.destination = destination;
    sides.sourceOnDisk = platform::resolve(source);
    sides.destinationOnDisk = platform::resolve(destination);
    sides.sourceTime = w.sink.modificationTime(sides.sourceOnDisk);
    sides.destinationTime = w.sink.modificationTime(sides.destinationOnDisk);
    sides.sourceCoarse = [&] { return FileTimes::twoSecondTimes(sides.sourceOnDisk); };
    sides.destinationCoarse = [&] { return FileTimes::twoSecondTimes(sides.destinationOnDisk); };
    return detail::copyResolvedIfNewer(w, sides, counter, prompt, force);
}

namespace {
// A source that cannot be dated counts as made today at midnight.
qint64 sourceSecondsOf(const std::optional<qint64>& sourceTime)
{
    return sourceTime ? *sourceTime : QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch();
}
} // namespace

bool detail::passesOn(const std::optional<qint64>& sourceTime, const std::optional<qint64>& destinationTime,
                      int force, const std::function<bool()>& sourceCoarse,
                      const std::function<bool()>& destinationCoarse)
{
    // A destination that cannot be dated counts as missing.
    if (force == 1 || !destinationTime)
        return true;
    if (!sourceTime)
        return sourceSecondsOf(sourceTime) > *destinationTime;
    return FileTimes::sourceIsNewer(*sourceTime, *destinationTime, sourceCoarse, destinationCoarse);
}

CopyResult detail::copyResolvedIfNewer(RunState& w, const CopySides& sides, qint16& counter, int prompt,
                                       int force)
{
    const QString& source = sides.source;
    const QString& destination = sides.destination;
    const qint64 sourceSeconds = sourceSecondsOf(sides.sourceTime);
    const std::optional<qint64>& destinationSeconds = sides.destinationTime;

    const QChar lf(10);
    CopyResult result;

    const bool passOn =
        passesOn(sides.sourceTime, sides.destinationTime, force, sides.sourceCoarse, sides.destinationCoarse);

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

    if (result.answer == AnswerYes) {
        result.error = w.sink.copyFile(sides.sourceOnDisk, sides.destinationOnDisk, sides.destinationListed);
        if (result.error) {
            result.failed = true;
            result.number = static_cast<qint16>(result.error.number);
        } else {
            result.copied = true;
        }
    }

    // Every file offered is counted, also when the user declined it; a copy
    // that failed is not, so a failed group never shows as updated.
    if (result.copied || result.answer != AnswerYes) {
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
