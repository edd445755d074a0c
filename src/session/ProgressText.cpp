#include "session/ProgressText.h"

#include "runtypes/ChangeSink.h"
#include "runtypes/RunState.h"

namespace mirsalex {

QString progressText(const QString& step, qint64 done, qint64 total, int copied)
{
    if (copied >= 0) {
        return QStringLiteral("%1: esaminati %2 di %3, copiati %4")
            .arg(step)
            .arg(done)
            .arg(total)
            .arg(copied);
    }
    if (total > 0)
        return QStringLiteral("%1: righe %2 di %3").arg(step).arg(done).arg(total);
    if (done > 0)
        return QStringLiteral("%1: righe %2").arg(step).arg(done);
    return step;
}

QString progressText(const QString& step, qint64 done, qint64 total, const CopyProgress& copies)
{
    if (copies.copied >= 0 && copies.dryRun) {
        return QStringLiteral("%1: esaminati %2 di %3, da copiare %4")
            .arg(step)
            .arg(done)
            .arg(total)
            .arg(copies.copied);
    }
    return progressText(step, done, total, copies.copied);
}

CopyProgress copyProgress(const RunState& w, const QString& step)
{
    return {copiedSoFar(w, step), w.sink.dryRun()};
}

int copiedSoFar(const RunState& w, const QString& step)
{
    if (!step.endsWith(QLatin1String(": invio")) && !step.endsWith(QLatin1String(": ricezione")))
        return -1;
    const size_t direction = step.endsWith(QLatin1String(": invio")) ? 0 : 1;
    const qsizetype group = groupNames().indexOf(step.left(step.lastIndexOf(QLatin1String(": "))));
    if (group < 0 || size_t(group) >= w.filesOffered.size())
        return -1;
    return qMax(0, int(w.filesOffered[size_t(group)][direction]));
}

} // namespace mirsalex
