#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QVariant>

namespace mirsalex {

// How the engine stores a value.
enum class CellKind
{
    Null,
    Integer,
    Real,
    Text,
    Bytes
};

// The value of one cell of a row, as the engine stores it: its kind, and
// its number or its bytes (UTF-8 for a text). The one value type of the
// engine layer: fields read from a snapshot or a table, values bound to a
// statement and values kept from one row to the next are all cells.
//
// A cell either borrows its bytes (a field of the row a statement stands on:
// valid until that statement moves) or holds them in room of its own (after
// take(), or when built from a QVariant). A copy of a borrowing cell borrows
// the same bytes; a copy of a holding cell holds them too.
class Cell
{
public:
    using Kind = CellKind;

    Kind kind = Kind::Null;
    qint64 whole = 0;     // Integer
    double real = 0;      // Real
    QByteArrayView bytes; // Text (UTF-8) and Bytes

    Cell() = default;
    // A borrowing cell (or a number).
    Cell(Kind k, qint64 w = 0, double r = 0, QByteArrayView b = {}) : kind(k), whole(w), real(r), bytes(b) {}
    Cell(const Cell& other);
    Cell(Cell&& other) noexcept;
    Cell& operator=(const Cell& other);
    Cell& operator=(Cell&& other) noexcept;
    ~Cell() = default;

    static Cell integer(qint64 value) { return Cell(Kind::Integer, value); }
    static Cell number(double value) { return Cell(Kind::Real, 0, value); }
    static Cell text(QByteArrayView utf8) { return Cell(Kind::Text, 0, 0, utf8); }
    static Cell blob(QByteArrayView bytes) { return Cell(Kind::Bytes, 0, 0, bytes); }
    // A holding cell with `value` as the engine stores it when it is bound:
    // Null for no value, a null variant, or a null text, bytes or date;
    // whole numbers and truth values as integers (an unsigned one beyond the
    // 64-bit range as a real); reals; bytes; texts, dates and times (ISO
    // form) and anything else as their text.
    static Cell fromVariant(const QVariant& value);
    // The value as the engine's readers hand it: a 64-bit integer, a double,
    // a QString, a QByteArray, or for Null a null QString.
    QVariant toVariant() const;

    bool isNull() const { return kind == Kind::Null; }
    // True when the cell does not depend on storage of someone else's.
    bool isHeld() const { return ownBytes() || (kind != Kind::Text && kind != Kind::Bytes); }
    // Becomes a copy of `other` that holds its bytes (the room of the bytes
    // already held is reused).
    void take(const Cell& other);
    // The same value borrowing this cell's bytes (valid while this cell
    // holds them unchanged).
    Cell view() const { return Cell(kind, whole, real, bytes); }
    // Back to Null; the room of the bytes is kept for the next take().
    void clear();

    // Same kind and same value (bytes compared exactly).
    friend bool operator==(const Cell& a, const Cell& b);
    friend bool operator!=(const Cell& a, const Cell& b) { return !(a == b); }

private:
    // Whether `bytes` lies in this cell's own room (and was not pointed
    // elsewhere since).
    bool ownBytes() const { return m_held && bytes.data() == m_room.constData(); }

    QByteArray m_room;
    bool m_held = false;
};

} // namespace mirsalex
