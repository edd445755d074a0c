#include "access/JetData.h"

#include "db/Sqlite.h"
#include "db/Statement.h"
#include "sync/Schema.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>

namespace mirsalex::access {

bool JetValue::operator==(const JetValue& o) const
{
    if (kind != o.kind)
        return false;
    switch (kind) {
    case Kind::Null:
        return true;
    case Kind::Integer:
        return whole == o.whole;
    case Kind::Real:
        return std::memcmp(&real, &o.real, sizeof real) == 0;
    case Kind::Text:
    case Kind::Blob:
        return bytes == o.bytes;
    }
    return false;
}

QString JetValue::display() const
{
    switch (kind) {
    case Kind::Null:
        return QStringLiteral("Null");
    case Kind::Integer:
        return QString::number(whole);
    case Kind::Real:
        return QString::number(real, 'g', 15);
    case Kind::Text:
        return QLatin1Char('\'') + QString::fromUtf8(bytes) + QLatin1Char('\'');
    case Kind::Blob:
        return QStringLiteral("0x") + QString::fromLatin1(bytes.left(16).toHex()) +
               (bytes.size() > 16 ? QStringLiteral("...") : QString());
    }
    return QString();
}

QString sqliteTypeFor(int jetType)
{
    switch (jetType) {
    case JetType::Bool:
    case JetType::Byte:
    case JetType::Int:
    case JetType::LongInt:
    case JetType::Complex:
        return QStringLiteral("INTEGER");
    case JetType::Money:
    case JetType::Float:
    case JetType::Double:
    case JetType::Numeric:
    case JetType::DateTime:
        return QStringLiteral("REAL");
    case JetType::Binary:
    case JetType::Ole:
        return QStringLiteral("BLOB");
    default: // text, memo, GUID and any type of a later engine: kept as read, a text
        return QStringLiteral("TEXT");
    }
}

bool isSystemTable(const QString& name)
{
    return name.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive);
}

namespace {

struct SchemaStatements
{
    QString name;
    QStringList statements;
};

// Each table of the schema with its statements, in the schema's order.
std::vector<SchemaStatements> schemaStatements(QString* error)
{
    static const QRegularExpression createTable(QStringLiteral("^CREATE\\s+TABLE\\s+\"?(\\w+)"),
                                                QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression createIndex(
        QStringLiteral("^CREATE\\s+(?:UNIQUE\\s+)?INDEX\\s+\\S+\\s+ON\\s+\"?(\\w+)"),
        QRegularExpression::CaseInsensitiveOption);
    std::vector<SchemaStatements> out;
    for (const auto kind : {schema::Kind::Clients, schema::Kind::Visits, schema::Kind::Indices}) {
        QString why;
        const QStringList statements = schema::statements(kind, &why);
        if (statements.isEmpty()) {
            if (error)
                *error = why;
            return {};
        }
        for (const QString& sql : statements) {
            if (const auto m = createTable.match(sql); m.hasMatch()) {
                out.push_back({m.captured(1), {sql}});
            } else if (const auto i = createIndex.match(sql); i.hasMatch()) {
                for (auto& t : out)
                    if (t.name.compare(i.captured(1), Qt::CaseInsensitive) == 0)
                        t.statements << sql;
            }
        }
    }
    return out;
}

} // namespace

QHash<QString, SchemaTable> schemaTables(QString* error)
{
    QHash<QString, SchemaTable> out;
    const std::vector<SchemaStatements> tables = schemaStatements(error);
    if (tables.empty())
        return out;
    // The schema's own engine tells the columns, their kinds and the keys:
    // each table is built in a database in memory and read back.
    sqlite::Connection db;
    if (db.open(QStringLiteral("file:mirsalex-schema?mode=memory"),
                sqlite::kOpenReadWrite | sqlite::kOpenCreate | sqlite::kOpenNoMutex, 0) != sqlite::kOk) {
        if (error)
            *error = db.message();
        return out;
    }
    for (const SchemaStatements& t : tables) {
        SchemaTable s;
        s.name = t.name;
        s.statements = t.statements;
        for (const QString& sql : t.statements) {
            if (db.exec(sql) != sqlite::kOk) {
                if (error)
                    *error = db.message();
                return {};
            }
        }
        std::vector<std::pair<int, int>> primary; // (place in the key, column)
        {
            Statement info;
            info.prepare(db.get(), QStringLiteral("PRAGMA table_info(%1)").arg(Database::quoted(t.name)));
            while (info.step() == sqlite::kRow) {
                s.columns << info.value(1).toString();
                s.kinds.push_back(Database::kindOf(info.value(2).toString()));
                s.notNull.push_back(info.int64(3) != 0);
                if (info.int64(5) > 0)
                    primary.emplace_back(int(info.int64(5)), int(s.columns.size()) - 1);
            }
        }
        std::sort(primary.begin(), primary.end());
        if (!primary.empty()) {
            std::vector<int> key;
            for (const auto& p : primary)
                key.push_back(p.second);
            s.keys.push_back(key);
        }
        QStringList unique;
        {
            Statement list;
            list.prepare(db.get(), QStringLiteral("PRAGMA index_list(%1)").arg(Database::quoted(t.name)));
            while (list.step() == sqlite::kRow)
                if (list.int64(2) != 0 && list.value(3).toString() != QLatin1String("pk"))
                    unique << list.value(1).toString();
        }
        for (const QString& index : unique) {
            Statement cols;
            cols.prepare(db.get(), QStringLiteral("PRAGMA index_info(%1)").arg(Database::quoted(index)));
            std::vector<int> key;
            while (cols.step() == sqlite::kRow)
                key.push_back(int(cols.int64(1)));
            if (!key.empty())
                s.keys.push_back(key);
        }
        out.insert(t.name.toLower(), s);
    }
    return out;
}

std::vector<TargetColumn> targetColumns(const JetTable& table, const SchemaTable* schema)
{
    std::vector<TargetColumn> out;
    for (const JetColumn& c : table.columns) {
        TargetColumn t;
        int place = -1;
        for (qsizetype i = 0; schema && i < schema->columns.size() && place < 0; ++i)
            if (schema->columns[i].compare(c.name, Qt::CaseInsensitive) == 0)
                place = int(i);
        if (place >= 0) {
            t.name = schema->columns.at(place);
            t.kind = schema->kinds.at(place);
            t.schemaColumn = place;
        } else {
            t.name = c.name;
            t.type = sqliteTypeFor(c.type);
            t.kind = Database::kindOf(t.type);
        }
        out.push_back(t);
    }
    return out;
}

namespace {

bool wholeValue(double d, qint64* out)
{
    // Within the range where every whole double is exact and fits 64 bits.
    if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > 9.0e15)
        return false;
    *out = qint64(d);
    return true;
}

} // namespace

JetValue toColumnKind(const JetValue& v, Database::ColumnKind kind)
{
    using K = JetValue::Kind;
    switch (kind) {
    case Database::ColumnKind::Integer:
        if (v.kind == K::Real) {
            qint64 w = 0;
            if (wholeValue(v.real, &w))
                return JetValue::integer(w);
        } else if (v.kind == K::Text) {
            bool ok = false;
            const qint64 w = v.bytes.trimmed().toLongLong(&ok);
            if (ok)
                return JetValue::integer(w);
            const double d = v.bytes.trimmed().toDouble(&ok);
            if (ok) {
                qint64 whole = 0;
                return wholeValue(d, &whole) ? JetValue::integer(whole) : JetValue::number(d);
            }
        }
        return v;
    case Database::ColumnKind::Real:
        if (v.kind == K::Integer)
            return JetValue::number(double(v.whole));
        if (v.kind == K::Text) {
            bool ok = false;
            const double d = v.bytes.trimmed().toDouble(&ok);
            if (ok)
                return JetValue::number(d);
        }
        return v;
    case Database::ColumnKind::Text:
        if (v.kind == K::Integer)
            return JetValue::text(QByteArray::number(v.whole));
        if (v.kind == K::Real)
            return JetValue::text(QByteArray::number(v.real, 'g', 17));
        return v;
    case Database::ColumnKind::Any:
        return v;
    }
    return v;
}

QStringList keyViolations(const JetTable& table, const SchemaTable& schema, int cap, int* total)
{
    QStringList out;
    int found = 0;
    const std::vector<TargetColumn> targets = targetColumns(table, &schema);
    // The Jet column of each schema column, -1 when the file lacks it.
    std::vector<int> jetOf(schema.columns.size(), -1);
    for (size_t i = 0; i < targets.size(); ++i)
        if (targets[i].schemaColumn >= 0)
            jetOf[targets[i].schemaColumn] = int(i);
    std::vector<bool> required(schema.columns.size(), false);
    for (size_t c = 0; c < size_t(schema.columns.size()); ++c)
        required[c] = schema.notNull[c];
    if (!schema.keys.empty())
        for (int c : schema.keys.front())
            required[c] = true;
    std::vector<QSet<QByteArray>> seen(schema.keys.size());
    auto note = [&](const QString& line) {
        ++found;
        if (out.size() < cap)
            out << line;
    };
    for (size_t r = 0; r < table.rows.size(); ++r) {
        const JetRow& row = table.rows[r];
        auto valueOf = [&](int schemaColumn) {
            const int j = jetOf[schemaColumn];
            return j >= 0 && size_t(j) < row.size() ? toColumnKind(row[j], schema.kinds[schemaColumn])
                                                    : JetValue::null();
        };
        const QString where = QStringLiteral("%1, riga %2: ").arg(table.name).arg(r + 1);
        QStringList nulls;
        for (size_t c = 0; c < size_t(schema.columns.size()); ++c)
            if (required[c] && valueOf(int(c)).kind == JetValue::Kind::Null)
                nulls << schema.columns[c];
        if (!nulls.isEmpty()) {
            note(where + QStringLiteral("Null in ") + nulls.join(QStringLiteral(", ")));
            continue;
        }
        for (size_t k = 0; k < schema.keys.size(); ++k) {
            QByteArray id;
            QStringList shown;
            bool hasNull = false;
            for (int c : schema.keys[k]) {
                const JetValue v = valueOf(c);
                hasNull = hasNull || v.kind == JetValue::Kind::Null;
                id += char(v.kind);
                id += QByteArray::number(v.whole) + '\x1f' + QByteArray::number(v.real, 'g', 17) + '\x1f' +
                      v.bytes.toHex() + '\x1e';
                shown << schema.columns[c] + QStringLiteral(" = ") + v.display();
            }
            if (hasNull) // a unique index admits any number of Nulls
                continue;
            if (seen[k].contains(id)) {
                note(where + QStringLiteral("chiave duplicata (%1)").arg(shown.join(QStringLiteral(", "))));
                break;
            }
            seen[k].insert(id);
        }
    }
    if (total)
        *total = found;
    return out;
}

void RowChecksum::addRow(const JetRow& row)
{
    QCryptographicHash h(QCryptographicHash::Sha256);
    for (const JetValue& v : row) {
        const char kind = char(v.kind);
        h.addData(QByteArrayView(&kind, 1));
        switch (v.kind) {
        case JetValue::Kind::Null:
            break;
        case JetValue::Kind::Integer:
            h.addData(QByteArrayView(reinterpret_cast<const char*>(&v.whole), sizeof v.whole));
            break;
        case JetValue::Kind::Real:
            h.addData(QByteArrayView(reinterpret_cast<const char*>(&v.real), sizeof v.real));
            break;
        case JetValue::Kind::Text:
        case JetValue::Kind::Blob: {
            const qint64 n = v.bytes.size();
            h.addData(QByteArrayView(reinterpret_cast<const char*>(&n), sizeof n));
            h.addData(v.bytes);
            break;
        }
        }
    }
    m_rows.push_back(h.result());
}

QByteArray RowChecksum::result() const
{
    std::vector<QByteArray> sorted = m_rows;
    std::sort(sorted.begin(), sorted.end());
    QCryptographicHash h(QCryptographicHash::Sha256);
    const qint64 n = qint64(sorted.size());
    h.addData(QByteArrayView(reinterpret_cast<const char*>(&n), sizeof n));
    for (const QByteArray& r : sorted)
        h.addData(r);
    return h.result();
}

} // namespace mirsalex::access
