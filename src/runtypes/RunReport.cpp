#include "runtypes/RunReport.h"

#include <cstring>

namespace mirsalex {

int& casella(Ticks& t, Casella box)
{
    switch (box) {
    case Casella::Dati:
        return t.dati;
    case Casella::Visite:
        return t.visite;
    case Casella::Indici:
        return t.gruppi[0];
    case Casella::Schede:
        return t.gruppi[1];
    case Casella::Fogli:
        break;
    }
    return t.gruppi[2];
}

int casella(const Ticks& t, Casella box)
{
    return casella(const_cast<Ticks&>(t), box);
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
    if (!configurationUnread.isEmpty() || !configurationUnwritten.isEmpty() || !accessDatabases.empty() ||
        firstFailure())
        return exitstatus::kFailed;
    for (const StepReport& s : steps) {
        // A step asked for and never reached can only follow a failure; it is
        // counted as one all the same, should a report ever hold it alone.
        if (s.state == StepReport::State::NotReached)
            return exitstatus::kFailed;
    }
    return incompleteSteps().empty() ? exitstatus::kCompleted : exitstatus::kIncomplete;
}

} // namespace mirsalex
