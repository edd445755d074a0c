#pragma once

#include "common/Platform.h"
#include "runtypes/RunState.h"
#include "transfer/Transfer.h"

#include <QString>

namespace mirsalex::detail {

// The newest-wins copy for callers that already know the names on disk
// (the document stage lists both folders once instead of looking every name
// up): `source` and `destination` are shown in the messages, the `...OnDisk`
// paths are the ones used.
CopyResult copyResolvedIfNewer(RunState& w, const QString& source, const QString& destination,
                               const QString& sourceOnDisk, const QString& destinationOnDisk, qint16& counter,
                               int prompt, int force);

} // namespace mirsalex::detail
