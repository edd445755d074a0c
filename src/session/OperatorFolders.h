#pragma once

#include <QString>
#include <QStringList>

namespace mirsalex {

// Whether `folder` (ending with the separator) holds an operator's clients or
// visits database (DatiDV.mdb, VisiteDV.mdb, in any case).
bool holdsOperatorDatabase(const QString& folder);

// The operator folders of the data folder, upper-cased, in name order: those
// that hold an operator database and can name an operator (at most 13
// characters). The other folders sharing it (cards, sheets, temporary
// files) are not operators.
QStringList operatorFolders(const QString& pathDati);

// The items of the operator list (folder name upper-cased in 14 characters,
// then its date) cut down to the folders that hold an operator database.
// When no folder does, every item stays: the user may still pick one.
QStringList ElencoCartelleOperatori(const QString& pathDati, const QStringList& items);

} // namespace mirsalex
