#include "db/Statement.h"

#include "db/Database.h"

#include <cstring>
#include <limits>
#include <QDateTime>
#include <sqlite3.h>

namespace mirsalex {

namespace {

// A value that is stored as Null: no value, a null variant, or a null text,
// bytes or date (as Cell::fromVariant() decides).
bool storedAsNull(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return true;
    switch (v.typeId()) {
    case QMetaType::QString:
        return static_cast<const QString*>(v.constData())->isNull();
    case QMetaType::QByteArray:
        return static_cast<const QByteArray*>(v.constData())->isNull();
    case QMetaType::QDate:
        return static_cast<const QDate*>(v.constData())->isNull();
    case QMetaType::QTime:
        return static_cast<const QTime*>(v.constData())->isNull();
    case QMetaType::QDateTime:
        return static_cast<const QDateTime*>(v.constData())->isNull();
    default:
        return false;
    }
}

} // namespace

int Statement::prepare(sqlite3* db, const QString& sql)
{
    finalize();
    m_db = db;
    if (!db)
        return SQLITE_MISUSE;
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v3(db, text.constData(), int(text.size()) + 1, SQLITE_PREPARE_PERSISTENT, &stmt,
                                &tail);
    m_ownError.clear();
    if (rc == SQLITE_OK && !stmt) {
        rc = SQLITE_MISUSE;
        m_ownError = QStringLiteral("No statement to execute");
    }
    if (rc == SQLITE_OK && tail) {
        // A second statement after the first one is refused, not ignored.
        const char* end = text.constData() + text.size();
        while (tail < end &&
               (*tail == ' ' || *tail == '\t' || *tail == '\n' || *tail == '\r' || *tail == '\0'))
            ++tail;
        if (tail < end) {
            rc = SQLITE_MISUSE;
            m_ownError = QStringLiteral("Unable to execute multiple statements at a time");
        }
    }
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return rc;
    }
    m_stmt = stmt;
    m_columns = sqlite3_column_count(stmt);
    m_ownError.clear();
    m_bound.assign(size_t(sqlite3_bind_parameter_count(stmt)), QByteArray());
    return SQLITE_OK;
}

void Statement::finalize()
{
    if (m_stmt) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
    m_columns = 0;
    m_bound.clear();
}

int Statement::bindInt64(int index, qint64 value)
{
    return sqlite3_bind_int64(m_stmt, index + 1, value);
}

int Statement::bindDouble(int index, double value)
{
    return sqlite3_bind_double(m_stmt, index + 1, value);
}

int Statement::bindBuffer(int index, bool blob)
{
    // Bound without a copy of the engine's own: the buffer stays as it is
    // until this parameter is bound again.
    const QByteArray& b = m_bound[size_t(index)];
    if (b.size() > std::numeric_limits<int>::max())
        return SQLITE_TOOBIG;
    return blob ? sqlite3_bind_blob(m_stmt, index + 1, b.constData(), int(b.size()), SQLITE_STATIC)
                : sqlite3_bind_text(m_stmt, index + 1, b.constData(), int(b.size()), SQLITE_STATIC);
}

int Statement::bindText(int index, QByteArrayView utf8)
{
    if (!m_stmt || index < 0 || size_t(index) >= m_bound.size())
        return SQLITE_RANGE;
    QByteArray& b = m_bound[size_t(index)];
    b.resize(utf8.size());
    if (!utf8.isEmpty())
        memcpy(b.data(), utf8.data(), size_t(utf8.size()));
    return bindBuffer(index, false);
}

int Statement::bindBlob(int index, QByteArrayView bytes)
{
    if (!m_stmt || index < 0 || size_t(index) >= m_bound.size())
        return SQLITE_RANGE;
    QByteArray& b = m_bound[size_t(index)];
    b.resize(bytes.size());
    if (!bytes.isEmpty())
        memcpy(b.data(), bytes.data(), size_t(bytes.size()));
    return bindBuffer(index, true);
}

int Statement::bindInPlace(int index, QByteArrayView bytes, bool blob)
{
    if (!m_stmt || index < 0 || size_t(index) >= m_bound.size())
        return SQLITE_RANGE;
    if (bytes.size() > std::numeric_limits<int>::max())
        return SQLITE_TOOBIG;
    // No pointer binds Null: an empty value is bound from a buffer of its own.
    const char* data = bytes.data() ? bytes.data() : "";
    return blob ? sqlite3_bind_blob(m_stmt, index + 1, data, int(bytes.size()), SQLITE_STATIC)
                : sqlite3_bind_text(m_stmt, index + 1, data, int(bytes.size()), SQLITE_STATIC);
}

int Statement::bind(int index, const QVariant& value)
{
    if (!m_stmt || index < 0 || size_t(index) >= m_bound.size())
        return SQLITE_RANGE;
    const int at = index + 1;
    if (storedAsNull(value))
        return sqlite3_bind_null(m_stmt, at);
    QByteArray bytes;
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
        return sqlite3_bind_int64(m_stmt, at, value.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong v = value.toULongLong();
        if (v > qulonglong(std::numeric_limits<qint64>::max()))
            return sqlite3_bind_double(m_stmt, at, double(v));
        return sqlite3_bind_int64(m_stmt, at, qint64(v));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(m_stmt, at, value.toDouble());
    case QMetaType::QByteArray:
        return bindBlob(index, *static_cast<const QByteArray*>(value.constData()));
    case QMetaType::QString: {
        // Encoded straight into the parameter's buffer.
        const QString& text = *static_cast<const QString*>(value.constData());
        QByteArray& b = m_bound[size_t(index)];
        b.resize(m_utf8.requiredSpace(text.size()));
        char* end = m_utf8.appendToBuffer(b.data(), text);
        b.truncate(end - b.constData());
        return bindBuffer(index, false);
    }
    case QMetaType::QDateTime:
        bytes = value.toDateTime().toString(Qt::ISODateWithMs).toUtf8();
        break;
    case QMetaType::QDate:
        bytes = value.toDate().toString(Qt::ISODate).toUtf8();
        break;
    case QMetaType::QTime:
        bytes = value.toTime().toString(QStringLiteral("hh:mm:ss.zzz")).toUtf8();
        break;
    default:
        bytes = value.toString().toUtf8();
        break;
    }
    return bindText(index, bytes);
}

int Statement::bind(int index, const Cell& value)
{
    if (!m_stmt || index < 0 || size_t(index) >= m_bound.size())
        return SQLITE_RANGE;
    switch (value.kind) {
    case CellKind::Integer:
        return bindInt64(index, value.whole);
    case CellKind::Real:
        return bindDouble(index, value.real);
    case CellKind::Text:
        return bindText(index, value.bytes);
    case CellKind::Bytes:
        return bindBlob(index, value.bytes);
    case CellKind::Null:
        break;
    }
    return sqlite3_bind_null(m_stmt, index + 1);
}

int Statement::bindInPlace(int index, const Cell& value)
{
    if (!m_stmt || index < 0 || size_t(index) >= m_bound.size())
        return SQLITE_RANGE;
    switch (value.kind) {
    case CellKind::Integer:
        return bindInt64(index, value.whole);
    case CellKind::Real:
        return bindDouble(index, value.real);
    case CellKind::Text:
    case CellKind::Bytes:
        return bindInPlace(index, value.bytes, value.kind == CellKind::Bytes);
    case CellKind::Null:
        break;
    }
    return sqlite3_bind_null(m_stmt, index + 1);
}

int Statement::bindAll(const QVariantList& values)
{
    if (!m_stmt)
        return SQLITE_MISUSE;
    if (size_t(values.size()) != m_bound.size())
        return SQLITE_RANGE;
    for (int i = 0; i < int(values.size()); ++i) {
        if (const int rc = bind(i, values[i]); rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

int Statement::step()
{
    if (!m_stmt)
        return SQLITE_MISUSE;
    return sqlite3_step(m_stmt);
}

void Statement::reset()
{
    if (m_stmt)
        sqlite3_reset(m_stmt);
}

int Statement::columnCount() const
{
    return m_columns;
}

QString Statement::columnName(int index) const
{
    const char* name = m_stmt ? sqlite3_column_name(m_stmt, index) : nullptr;
    return name ? QString::fromUtf8(name) : QString();
}

QVariant Statement::value(int index) const
{
    if (!m_stmt || index < 0 || index >= m_columns)
        return QVariant();
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_stmt, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, index));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB: {
        const void* data = sqlite3_column_blob(m_stmt, index);
        const int size = sqlite3_column_bytes(m_stmt, index);
        return QVariant(QByteArray(static_cast<const char*>(data), size));
    }
    default: {
        const unsigned char* text = sqlite3_column_text(m_stmt, index);
        const int size = sqlite3_column_bytes(m_stmt, index);
        return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(text), size));
    }
    }
}

qint64 Statement::int64(int index) const
{
    return m_stmt ? sqlite3_column_int64(m_stmt, index) : 0;
}

int Statement::columnType(int index) const
{
    if (!m_stmt || index < 0 || index >= m_columns)
        return SQLITE_NULL;
    return sqlite3_column_type(m_stmt, index);
}

QByteArrayView Statement::columnBytes(int index, bool blob) const
{
    if (!m_stmt || index < 0 || index >= m_columns)
        return {};
    const auto* data = blob ? static_cast<const char*>(sqlite3_column_blob(m_stmt, index))
                            : reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, index));
    return QByteArrayView(data, data ? sqlite3_column_bytes(m_stmt, index) : 0);
}

double Statement::columnDouble(int index) const
{
    return m_stmt ? sqlite3_column_double(m_stmt, index) : 0.0;
}

Statement::Column Statement::column(int index) const
{
    Column c;
    if (!m_stmt || index < 0 || index >= m_columns)
        return c;
    // One call through the connection instead of one per question. The
    // value is read at once, on the thread that steps the statement, and
    // not kept past the statement's next move.
    sqlite3_value* v = sqlite3_column_value(m_stmt, index);
    c.type = sqlite3_value_type(v);
    switch (c.type) {
    case SQLITE_INTEGER:
        c.whole = sqlite3_value_int64(v);
        break;
    case SQLITE_FLOAT:
        c.real = sqlite3_value_double(v);
        break;
    case SQLITE_TEXT: {
        const auto* data = reinterpret_cast<const char*>(sqlite3_value_text(v));
        c.bytes = QByteArrayView(data, data ? sqlite3_value_bytes(v) : 0);
        break;
    }
    case SQLITE_BLOB: {
        const auto* data = static_cast<const char*>(sqlite3_value_blob(v));
        c.bytes = QByteArrayView(data, data ? sqlite3_value_bytes(v) : 0);
        break;
    }
    default:
        break;
    }
    return c;
}

Cell Statement::cell(int index) const
{
    const Column c = column(index);
    switch (c.type) {
    case SQLITE_INTEGER:
        return Cell::integer(c.whole);
    case SQLITE_FLOAT:
        return Cell::number(c.real);
    case SQLITE_TEXT:
        return Cell::text(c.bytes);
    case SQLITE_BLOB:
        return Cell::blob(c.bytes);
    default:
        return Cell();
    }
}

int Statement::changes() const
{
    return m_db ? sqlite3_changes(m_db) : 0;
}

Error Statement::error(const QString& object) const
{
    if (!m_db)
        return dbError(DbErr::ObjectClosed);
    if (!m_ownError.isEmpty())
        return dbErrorWithDetail(DbErr::Reserved, object, m_ownError);
    const int code = sqlite3_extended_errcode(m_db);
    return Database::fromNative(code == SQLITE_OK ? SQLITE_ERROR : code,
                                QString::fromUtf8(sqlite3_errmsg(m_db)), object);
}

} // namespace mirsalex
