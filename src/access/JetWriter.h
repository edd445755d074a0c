#pragma once

#include "access/JetConversion.h"
#include "access/JetData.h"

#include <vector>

namespace mirsalex::access {

// The second half of convertJetFile(): the tables read from the Jet file
// `c.source` written as the new SQLite file `c.target` (keys checked first,
// then written under a temporary name, verified and put in place). Sets
// c.tables, c.violations and c.error; leaves nothing at the target on failure.
void writeJetTables(const std::vector<JetTable>& tables, Conversion& c);

} // namespace mirsalex::access
