#include "session/ProgressText.h"

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

int copiedSoFar(const RunState& w, const QString& step)
{
    if (!step.endsWith(QLatin1String(": invio")) && !step.endsWith(QLatin1String(": ricezione")))
        return -1;
    const size_t group = w.GruppoCorrente % w.Contatori.size();
    const size_t direction = w.DirezioneCorrente % 2;
    return qMax(0, int(w.Contatori[group][direction]));
}

} // namespace mirsalex
