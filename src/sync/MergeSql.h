#pragma once

#include <QString>

namespace mirsalex {

struct MergePlan;

// Pieces of the statements the merges are made of, shared by the merges and
// by what reads the same rows without writing them (the preview's rows, the
// rows left different).

// The keys of a plan as an ORDER BY list, each prefixed with `alias`
// ("s." or empty).
QString keyOrder(const MergePlan& p, const QString& alias);

// Row `x` has the key of source row `s`: numbers equal, texts equal without
// regard to case.
QString sameKey(const MergePlan& p, const QString& x);

// Row `d` comes before source row `s` in key order (the texts' exact
// spelling decides between keys that differ only in case).
QString comesBefore(const MergePlan& p, const QString& d);

// The row `alias` is not marked for deletion.
QString unmarked(const MergePlan& p, const QString& alias);

// The source rows (aliased s) of `source` a pass adds to `target`: unmarked,
// their key missing from the target. Of source rows whose keys differ only
// in case, the first in key order.
QString missingRows(const MergePlan& p, const QString& source, const QString& target);

// A visits text (plain ASCII, or Null) as held in 13 characters, padded
// with blanks.
QString heldVisitsText(const QString& field);

} // namespace mirsalex
