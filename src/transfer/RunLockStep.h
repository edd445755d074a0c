#pragma once

#include "common/RunLock.h"
#include "runtypes/ChangeSink.h"
#include "runtypes/RunRequest.h"

namespace mirsalex {

// The start of a run: one run at a time on the operator's folders. Taking it
// locks the folder of the local clients database and the folder of the
// exchange database (common/RunLock); when another run holds either, the
// user is told who holds it and the run is refused. While it is held the
// leftover temporary copies of killed runs (documents and databases) are
// removed from both folders through `sink` (see removeLeftovers()). The
// refusal is told through the request's prompt.
class ExclusiveRun
{
public:
    ExclusiveRun(const RunRequest& request, ChangeSink& sink);
    ExclusiveRun(const ExclusiveRun&) = delete;
    ExclusiveRun& operator=(const ExclusiveRun&) = delete;

    bool refused() const { return m_refused; }

    // For a dry run, which takes no lock: whether the run would be refused
    // now, told to the user with the same box as a refused run. Nothing is
    // taken or written.
    static bool wouldBeRefused(const RunRequest& request);

private:
    RunLock m_lock;
    bool m_refused = false;
};

// The temporaries that killed runs left in the folders of the two clients
// databases and of the configuration file, removed through `sink`: a real
// run does it holding its lock (ExclusiveRun), a dry run, which takes no
// lock, records those a run would remove.
void removeLeftovers(const RunRequest& request, ChangeSink& sink);

} // namespace mirsalex
