#pragma once

#include <functional>
#include <QDateTime>
#include <QString>

namespace mirsalex {

// Comparison of modification times between two copies of a file.
//
// Times are compared to the second, newer wins. FAT disks (the usual
// removable exchange disks) keep times to 2 seconds only: a file copied there
// gets its time rounded to an even second, so right after a copy the two
// copies may differ by up to 2 seconds. Such a pair counts as the same
// version, but only when the copy on the coarse file system carries an even
// second; between two ordinary file systems the comparison stays exact.
namespace FileTimes {

// True when the file system holding `path` (or its folder, for a missing
// file) keeps modification times to 2 seconds (FAT, exFAT).
bool twoSecondTimes(const QString& path);

// Replaces the file-system test (tests simulate FAT with it); an empty
// function restores the real detection.
void setTwoSecondHook(std::function<bool(const QString& path)> fn);

// True when the copy at `source` (dated `sourceTime`) is newer than the one
// at `destination` (dated `destinationTime`), both read to the second.
bool sourceIsNewer(const QDateTime& sourceTime, const QString& source, const QDateTime& destinationTime,
                   const QString& destination);
// The same with both times in whole seconds since the epoch.
bool sourceIsNewer(qint64 sourceSeconds, const QString& source, qint64 destinationSeconds,
                   const QString& destination);
// The same with what twoSecondTimes() says of each side asked of the
// caller, only when the answer counts (for one that asks once per folder).
bool sourceIsNewer(qint64 sourceSeconds, qint64 destinationSeconds, const std::function<bool()>& sourceCoarse,
                   const std::function<bool()>& destinationCoarse);

} // namespace FileTimes
} // namespace mirsalex
