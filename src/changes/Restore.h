#pragma once

#include "changes/VersionStore.h"

#include <QString>
#include <QStringList>

namespace mirsalex {

class VersioningChanges;

// The items of `entry` that something changed again after its run: a file,
// database or key that is no longer as the run left it (a later run, the
// main application). One line each.
// An item whose folder is not there (see missingFolders()) is not one of
// them.
QStringList laterChanges(const VersionEntry& entry);

// The folders that the files and databases of `entry` lie in and that are
// not there now (an exchange area that is not mounted): for each, the
// outermost folder missing, with the separator at its end.
QStringList missingFolders(const VersionEntry& entry);

// The kept files of `entry` that are no longer what was kept: missing, of
// another size or checksum, a database that fails the engine's check. One
// line each, naming the item. Empty when every one can be put back.
QStringList damagedItems(const VersionEntry& entry);

// What a restore of an entry that does not say its installation warns of
// before it asks (two lines).
QString unrecordedEntryWarning();

// Puts back, through `sink`, everything `entry` changed, as it was just
// before its run: files byte for byte with their times, files the run
// created removed, databases whole, keys with their old values (a key that
// did not exist removed). Every kept file is checked first (damagedItems()):
// a damaged entry is refused whole, nothing changed, and its damaged items
// are returned. Returns the failures, one line each.
QStringList restoreEntry(const VersionEntry& entry, VersioningChanges& sink);

} // namespace mirsalex
