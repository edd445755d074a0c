#include "run/RunReport.h"

#include <cstring>

namespace mirsalex {

CheckState& casella(WindowState& w, Casella box)
{
    switch (box) {
    case Casella::Dati:
        return w.chkDati;
    case Casella::Visite:
        return w.chkVisite;
    case Casella::Indici:
        return w.Check1[0];
    case Casella::Schede:
        return w.Check1[1];
    case Casella::Fogli:
        break;
    }
    return w.Check1[2];
}

const CheckState& casella(const WindowState& w, Casella box)
{
    return casella(const_cast<WindowState&>(w), box);
}

const StepReport* RunReport::firstFailure() const
{
    for (const StepReport& s : steps) {
        if (s.failed())
            return &s;
    }
    return nullptr;
}

std::vector<const StepReport*> RunReport::incompleteSteps() const
{
    std::vector<const StepReport*> list;
    for (const StepReport& s : steps) {
        if (s.incomplete())
            list.push_back(&s);
    }
    return list;
}

const StepReport& RunReport::of(const char* name) const
{
    for (const StepReport& s : steps) {
        if (s.step && std::strcmp(s.step->name, name) == 0)
            return s;
    }
    static const StepReport none;
    return none;
}

int RunReport::exitStatus() const
{
    if (refused)
        return exitstatus::kLocked;
    if (firstFailure())
        return exitstatus::kFailed;
    for (const StepReport& s : steps) {
        // A step asked for and never reached can only follow a failure; it is
        // counted as one all the same, should a report ever hold it alone.
        if (s.state == StepReport::State::NotReached)
            return exitstatus::kFailed;
    }
    return incompleteSteps().empty() ? exitstatus::kCompleted : exitstatus::kIncomplete;
}

QString describeStep(const StepReport& s)
{
    switch (s.state) {
    case StepReport::State::NotTicked:
        return QStringLiteral("non richiesto");
    case StepReport::State::NotReached:
        return QStringLiteral("non eseguito: la sessione si e' fermata a un errore precedente");
    case StepReport::State::Ran:
        break;
    }
    const StepOutcome& o = s.outcome;
    auto withReason = [&o](QString text) {
        if (!o.reason.isEmpty())
            text += QStringLiteral(": ") + o.reason;
        if (!o.path.isEmpty())
            text += QStringLiteral(": ") + o.path;
        return text;
    };
    switch (o.status) {
    case StepOutcome::Status::Done:
        return QStringLiteral("completato");
    case StepOutcome::Status::Skipped:
        return withReason(QStringLiteral("saltato"));
    case StepOutcome::Status::Stopped:
        return withReason(QStringLiteral("interrotto"));
    case StepOutcome::Status::Failed:
        break;
    }
    QString text = o.error != 0 ? QStringLiteral("NON riuscito (errore %1)").arg(o.error)
                                : QStringLiteral("NON riuscito");
    if (o.chainGoesOn)
        text += QStringLiteral(", la sessione e' proseguita");
    return withReason(text);
}

} // namespace mirsalex
