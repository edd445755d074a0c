#include "db/Cell.h"

#include <cstring>
#include <limits>
#include <QDateTime>

namespace mirsalex {

namespace {

bool hasBytes(CellKind kind)
{
    return kind == CellKind::Text || kind == CellKind::Bytes;
}

} // namespace

Cell::Cell(const Cell& other)
    : kind(other.kind), whole(other.whole), real(other.real), bytes(other.bytes), m_held(other.ownBytes())
{
    if (m_held) {
        // The room is shared until either side changes it.
        m_room = other.m_room;
        bytes = QByteArrayView(m_room.constData(), other.bytes.size());
    }
}

Cell::Cell(Cell&& other) noexcept
    : kind(other.kind), whole(other.whole), real(other.real), bytes(other.bytes),
      m_room(std::move(other.m_room)), m_held(other.m_held)
{
    // A moved QByteArray keeps its data where it is.
    other.bytes = {};
    other.m_held = false;
    other.kind = Kind::Null;
}

Cell& Cell::operator=(const Cell& other)
{
    if (this != &other) {
        kind = other.kind;
        whole = other.whole;
        real = other.real;
        m_held = other.ownBytes();
        if (m_held) {
            m_room = other.m_room;
            bytes = QByteArrayView(m_room.constData(), other.bytes.size());
        } else {
            bytes = other.bytes;
        }
    }
    return *this;
}

Cell& Cell::operator=(Cell&& other) noexcept
{
    if (this != &other) {
        kind = other.kind;
        whole = other.whole;
        real = other.real;
        bytes = other.bytes;
        m_room = std::move(other.m_room);
        m_held = other.m_held;
        other.bytes = {};
        other.m_held = false;
        other.kind = Kind::Null;
    }
    return *this;
}

void Cell::take(const Cell& other)
{
    if (this == &other) {
        if (!isHeld())
            take(view());
        return;
    }
    const QByteArrayView from = hasBytes(other.kind) ? other.bytes : QByteArrayView();
    kind = other.kind;
    whole = other.whole;
    real = other.real;
    // The source may lie in this cell's own room (a view of it): memmove.
    const char* source = from.data();
    const qsizetype size = from.size();
    if (m_room.isDetached() || m_room.isNull()) {
        m_room.resize(size);
        if (size > 0)
            memmove(m_room.data(), source, size_t(size));
    } else {
        // Shared with another cell: a room of its own, the other keeps its bytes.
        m_room = QByteArray(source, size);
    }
    bytes = QByteArrayView(m_room.constData(), size);
    m_held = true;
}

void Cell::clear()
{
    kind = Kind::Null;
    whole = 0;
    real = 0;
    bytes = {};
    m_held = false;
}

Cell Cell::fromVariant(const QVariant& value)
{
    Cell c;
    if (!value.isValid() || value.isNull())
        return c;
    QByteArray room;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return integer(value.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong v = value.toULongLong();
        if (v > qulonglong(std::numeric_limits<qint64>::max()))
            return number(double(v));
        return integer(qint64(v));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return number(value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray& b = *static_cast<const QByteArray*>(value.constData());
        if (b.isNull())
            return c;
        c.kind = Kind::Bytes;
        room = b;
        break;
    }
    case QMetaType::QString: {
        const QString& s = *static_cast<const QString*>(value.constData());
        if (s.isNull())
            return c;
        c.kind = Kind::Text;
        room = s.toUtf8();
        break;
    }
    case QMetaType::QDateTime: {
        const QDateTime d = value.toDateTime();
        if (d.isNull())
            return c;
        c.kind = Kind::Text;
        room = d.toString(Qt::ISODateWithMs).toUtf8();
        break;
    }
    case QMetaType::QDate: {
        const QDate d = value.toDate();
        if (d.isNull())
            return c;
        c.kind = Kind::Text;
        room = d.toString(Qt::ISODate).toUtf8();
        break;
    }
    case QMetaType::QTime: {
        const QTime t = value.toTime();
        if (t.isNull())
            return c;
        c.kind = Kind::Text;
        room = t.toString(QStringLiteral("hh:mm:ss.zzz")).toUtf8();
        break;
    }
    default:
        c.kind = Kind::Text;
        room = value.toString().toUtf8();
        break;
    }
    c.m_room = std::move(room);
    c.bytes = QByteArrayView(c.m_room.constData(), c.m_room.size());
    c.m_held = true;
    return c;
}

QVariant Cell::toVariant() const
{
    switch (kind) {
    case Kind::Integer:
        return QVariant(qlonglong(whole));
    case Kind::Real:
        return QVariant(real);
    case Kind::Text:
        return QVariant(QString::fromUtf8(bytes));
    case Kind::Bytes:
        if (ownBytes() && !bytes.isEmpty() && bytes.size() == m_room.size())
            return QVariant(m_room); // shared, not copied
        return QVariant(bytes.toByteArray());
    case Kind::Null:
        break;
    }
    return QVariant(QMetaType::fromType<QString>());
}

bool operator==(const Cell& a, const Cell& b)
{
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
    case CellKind::Null:
        return true;
    case CellKind::Integer:
        return a.whole == b.whole;
    case CellKind::Real:
        return a.real == b.real;
    case CellKind::Text:
    case CellKind::Bytes:
        return a.bytes == b.bytes;
    }
    return false;
}

} // namespace mirsalex
