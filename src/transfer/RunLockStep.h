#pragma once

#include "common/RunLock.h"
#include "config/Context.h"
#include "runtypes/RunRequest.h"

namespace mirsalex {

// The start of a run: one run at a time on the operator's folders. Taking it
// locks the folder of the local clients database and the folder of the
// exchange database (common/RunLock); when another run holds either, the
// user is told who holds it and the run is refused. While it is held the
// leftover temporary copies of killed runs (documents and databases) are
// removed from both folders.
class CorsaEsclusiva
{
public:
    CorsaEsclusiva(Context& ctx, const RunRequest& request);
    CorsaEsclusiva(const CorsaEsclusiva&) = delete;
    CorsaEsclusiva& operator=(const CorsaEsclusiva&) = delete;

    bool refused() const { return m_refused; }

    // For a dry run, which takes no lock: whether the run would be refused
    // now, told to the user with the same box as a refused run. Nothing is
    // taken or written.
    static bool sarebbeRifiutata(Context& ctx, const RunRequest& request);

private:
    RunLock m_lock;
    bool m_refused = false;
};

} // namespace mirsalex
