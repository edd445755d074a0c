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
// removed from both folders. A configuration file that could not be written
// (no dates or ticks recorded) is told to the user once per run.
class CorsaEsclusiva
{
public:
    CorsaEsclusiva(Context& ctx, const RunRequest& request);
    ~CorsaEsclusiva();
    CorsaEsclusiva(const CorsaEsclusiva&) = delete;
    CorsaEsclusiva& operator=(const CorsaEsclusiva&) = delete;

    bool refused() const { return m_refused; }

private:
    void tellIniNotWritten();

    Context& m_ctx;
    RunLock m_lock;
    bool m_refused = false;
    bool m_iniTold = false;
};

} // namespace mirsalex
