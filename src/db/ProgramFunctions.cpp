// The functions the program adds to the engine's SQL on every connection
// (see Database::setWalkNotes).

#include "db/ProgramFunctions.h"

#include <algorithm>
#include <sqlite3.h>

namespace mirsalex {

namespace {

// mx_walk(x): notes x for the row walk (see setWalkNotes) and gives 0.
void noteWalkedRow(sqlite3_context* context, int, sqlite3_value** values)
{
    auto* rows = *static_cast<std::vector<qint64>**>(sqlite3_user_data(context));
    if (rows)
        rows->push_back(sqlite3_value_int64(values[0]));
    sqlite3_result_int(context, 0);
}

// mx_listed(x): 1 when x is among the listed rows (see setListedRows), else 0.
void listedRow(sqlite3_context* context, int, sqlite3_value** values)
{
    const auto* rows = *static_cast<const std::vector<qint64>**>(sqlite3_user_data(context));
    sqlite3_result_int(context, rows && sqlite3_value_type(values[0]) == SQLITE_INTEGER &&
                                        std::binary_search(rows->begin(), rows->end(),
                                                           qint64(sqlite3_value_int64(values[0])))
                                    ? 1
                                    : 0);
}

const char kNotOfItsKind[] = "mx: a value not of its field's kind";

// mx_text(x): a text as the program stores it (TestoODefault): a blank for a
// Null, an empty or blank text, or one beginning with the character of code
// 0; any other text as it is. Fails on a value of any other kind.
void storedText(sqlite3_context* context, int, sqlite3_value** values)
{
    switch (sqlite3_value_type(values[0])) {
    case SQLITE_NULL:
        sqlite3_result_text(context, " ", 1, SQLITE_STATIC);
        return;
    case SQLITE_TEXT: {
        const auto* text = sqlite3_value_text(values[0]);
        const int size = sqlite3_value_bytes(values[0]);
        int i = 0;
        if (!(size > 0 && text[0] > ' ')) {
            while (i < size && text[i] == ' ')
                ++i;
            if (size == 0 || text[0] == 0 || i == size) {
                sqlite3_result_text(context, " ", 1, SQLITE_STATIC);
                return;
            }
        }
        // The text as it is, copied into the result's own buffer, which the
        // engine keeps from row to row (handing the value over instead
        // costs an allocation and a release for every row).
        sqlite3_result_text(context, reinterpret_cast<const char*>(text), size, SQLITE_TRANSIENT);
        return;
    }
    default:
        sqlite3_result_error(context, kNotOfItsKind, -1);
    }
}

// mx_number(x): a number as the program stores it (NumeroOZero): 0 for a
// Null, a number as it is. Fails on a value of any other kind.
void storedNumber(sqlite3_context* context, int, sqlite3_value** values)
{
    switch (sqlite3_value_type(values[0])) {
    case SQLITE_NULL:
        sqlite3_result_int(context, 0);
        return;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        sqlite3_result_value(context, values[0]);
        return;
    default:
        sqlite3_result_error(context, kNotOfItsKind, -1);
    }
}

} // namespace

void addProgramFunctions(sqlite3* connection, std::vector<qint64>** walkNotes,
                         const std::vector<qint64>** listed)
{
    sqlite3_create_function_v2(connection, "mx_walk", 1, SQLITE_UTF8 | SQLITE_DIRECTONLY, walkNotes,
                               noteWalkedRow, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(connection, "mx_listed", 1, SQLITE_UTF8 | SQLITE_DIRECTONLY, listed, listedRow,
                               nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(connection, "mx_text", 1,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, storedText,
                               nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(connection, "mx_number", 1,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr, storedNumber,
                               nullptr, nullptr, nullptr);
}

} // namespace mirsalex
