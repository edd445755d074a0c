#pragma once

#include "common/Platform.h"
#include "runtypes/RunState.h"
#include "transfer/Transfer.h"

#include <functional>
#include <optional>
#include <QString>

namespace mirsalex::detail {

// The two files of a newest-wins copy, for callers that already know the
// names on disk and their times (the document stage lists both folders once
// instead of looking every name up).
struct CopySides
{
    // Shown in the boxes (a caller that shows none may leave them empty).
    QString source;
    QString destination;
    // The paths used.
    QString sourceOnDisk;
    QString destinationOnDisk;
    // Their modification times as this run has left them; none for a file
    // that cannot be dated (a missing destination).
    std::optional<qint64> sourceTime;
    std::optional<qint64> destinationTime;
    // What FileTimes::twoSecondTimes() says of each side; asked only when the
    // answer counts.
    std::function<bool()> sourceCoarse;
    std::function<bool()> destinationCoarse;
    // What the listing of the destination's folder said of it, when it was
    // listed.
    DestinationName destinationListed = DestinationName::Unknown;
};

// Whether a newest-wins copy passes the file on (before any question): the
// destination cannot be dated (it is missing), the source is newer (see
// FileTimes::sourceIsNewer()), or `force` is 1. A source that cannot be
// dated counts as made today at midnight.
bool passesOn(const std::optional<qint64>& sourceTime, const std::optional<qint64>& destinationTime,
              int force, const std::function<bool()>& sourceCoarse,
              const std::function<bool()>& destinationCoarse);

CopyResult copyResolvedIfNewer(RunState& w, const CopySides& sides, qint16& counter, int prompt, int force);

} // namespace mirsalex::detail
