#include "access/JetReader.h"

#include "access/AccessError.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mdbtools.h>
#include <poll.h>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <sys/wait.h>
#include <unistd.h>

namespace mirsalex::access {

namespace {

int g_timeoutMs = 0;

// The stream's records.
constexpr quint8 kTable = 'T';
constexpr quint8 kRow = 'R';
constexpr quint8 kEnd = 'Z';
constexpr quint8 kFailure = 'X';
constexpr quint32 kMagic = 0x4a455431; // "JET1"

// Texts and memos are read into a buffer of this size; a value that fills it
// may have been cut, and is refused rather than written short.
constexpr size_t kBindSize = size_t(4) << 20;

// Exit statuses of the child.
constexpr int kChildDone = 0;
constexpr int kChildFailed = 3;

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

// The child: reads the file and writes the stream to `fd`. Never returns.
[[noreturn]] void childRead(const QByteArray& path, int fd)
{
    // libmdb's warnings on a damaged file are of no use to the user.
    if (!qEnvironmentVariableIsSet("MIRSALEX_JET_DEBUG")) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            ::close(devnull);
        }
    }
    QByteArray buffer;
    QDataStream out(&buffer, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    auto flush = [&](bool force) {
        if (!force && buffer.size() < (1 << 16))
            return;
        if (!writeAll(fd, buffer))
            ::_exit(kChildFailed);
        buffer.clear();
        out.device()->seek(0);
    };
    auto fail = [&](const QString& why) {
        out << kFailure << why;
        flush(true);
        ::_exit(kChildFailed);
    };
    out << kMagic;

    MdbHandle* mdb = mdb_open(path.constData(), MDB_NOFLAGS);
    if (!mdb)
        fail(QStringLiteral("libmdb non riesce ad aprirlo"));
    mdb_set_bind_size(mdb, kBindSize);
    mdb_set_boolean_fmt_numbers(mdb);
    if (!mdb_read_catalog(mdb, MDB_TABLE))
        fail(QStringLiteral("il catalogo delle tabelle non è leggibile"));
    const int pageSize = mdb->fmt->pg_size;
    // Every Jet file lists its own catalog table in the catalog: without it
    // the catalog was not read whole.
    bool catalogListed = false;
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        catalogListed = catalogListed || (entry->object_type == MDB_TABLE &&
                                          std::strcmp(entry->object_name, "MSysObjects") == 0);
    }
    if (!catalogListed)
        fail(QStringLiteral("il catalogo delle tabelle è incompleto"));
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || mdb_is_system_table(entry) ||
            isSystemTable(QString::fromUtf8(entry->object_name)))
            continue;
        MdbTableDef* table = mdb_read_table(entry);
        if (!table)
            fail(QStringLiteral("la tabella %1 non è leggibile").arg(QString::fromUtf8(entry->object_name)));
        if (!mdb_read_columns(table))
            fail(QStringLiteral("le colonne della tabella %1 non sono leggibili")
                     .arg(QString::fromUtf8(entry->object_name)));
        const unsigned int columns = table->num_cols;
        std::vector<QByteArray> bound(columns);
        out << kTable << QString::fromUtf8(entry->object_name) << quint32(columns);
        for (unsigned int c = 0; c < columns; ++c) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
            out << QString::fromUtf8(col->name) << qint32(col->col_type);
            switch (col->col_type) {
            case MDB_TEXT:
            case MDB_MEMO:
            case MDB_NUMERIC:
            case MDB_REPID:
            case MDB_OLE:
                bound[c].resize(qsizetype(kBindSize) + MDB_MEMO_OVERHEAD, '\0');
                mdb_bind_column(table, int(c) + 1, bound[c].data(), nullptr);
                break;
            default:
                break;
            }
        }
        mdb_rewind_table(table);
        quint64 read = 0;
        while (mdb_fetch_row(table)) {
            ++read;
            out << kRow;
            for (unsigned int c = 0; c < columns; ++c) {
                auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
                const int start = col->cur_value_start;
                const int len = col->cur_value_len;
                auto fits = [&](int size) { return start >= 0 && size >= 0 && start + size <= pageSize; };
                JetValue v;
                if (col->col_type == MDB_BOOL) {
                    // The value is the column's bit in the row's null mask.
                    v = JetValue::integer(len ? 0 : 1);
                } else if (len <= 0) {
                    v = JetValue::null();
                } else {
                    switch (col->col_type) {
                    case MDB_BYTE:
                        if (fits(1))
                            v = JetValue::integer(mdb_get_byte(mdb->pg_buf, start));
                        break;
                    case MDB_INT:
                        if (fits(2))
                            v = JetValue::integer(qint16(mdb_get_int16(mdb->pg_buf, start)));
                        break;
                    case MDB_LONGINT:
                    case MDB_COMPLEX:
                        if (fits(4))
                            v = JetValue::integer(qint32(mdb_get_int32(mdb->pg_buf, start)));
                        break;
                    case MDB_FLOAT:
                        if (fits(4))
                            v = JetValue::number(double(mdb_get_single(mdb->pg_buf, start)));
                        break;
                    case MDB_DOUBLE:
                    case MDB_DATETIME:
                        if (fits(8))
                            v = JetValue::number(mdb_get_double(mdb->pg_buf, start));
                        break;
                    case MDB_MONEY:
                        if (fits(8)) {
                            qint64 units = 0;
                            std::memcpy(&units, mdb->pg_buf + start, 8); // little-endian, 1/10000
                            v = JetValue::number(double(units) / 10000.0);
                        }
                        break;
                    case MDB_BINARY:
                        if (fits(len))
                            v = JetValue::blob(
                                QByteArray(reinterpret_cast<const char*>(mdb->pg_buf) + start, len));
                        break;
                    case MDB_OLE: {
                        size_t size = 0;
                        void* data = mdb_ole_read_full(mdb, col, &size);
                        v = JetValue::blob(QByteArray(static_cast<const char*>(data), qsizetype(size)));
                        free(data);
                        break;
                    }
                    case MDB_NUMERIC: {
                        bool ok = false;
                        const double d = QByteArray(bound[c].constData()).toDouble(&ok);
                        if (ok)
                            v = JetValue::number(d);
                        break;
                    }
                    default: { // texts, memos, GUIDs: libmdb's UTF-8 text
                        const QByteArray text(bound[c].constData());
                        if (size_t(text.size()) + 1 >= kBindSize)
                            fail(QStringLiteral("un testo della tabella %1 è troppo lungo")
                                     .arg(QString::fromUtf8(entry->object_name)));
                        v = JetValue::text(text);
                        break;
                    }
                    }
                    if (v.kind == JetValue::Kind::Null)
                        fail(QStringLiteral("un valore della colonna %1 della tabella %2 non è leggibile")
                                 .arg(QString::fromUtf8(col->name), QString::fromUtf8(entry->object_name)));
                }
                out << quint8(v.kind);
                switch (v.kind) {
                case JetValue::Kind::Null:
                    break;
                case JetValue::Kind::Integer:
                    out << v.whole;
                    break;
                case JetValue::Kind::Real:
                    out << v.real;
                    break;
                case JetValue::Kind::Text:
                case JetValue::Kind::Blob:
                    out << v.bytes;
                    break;
                }
            }
            flush(false);
        }
        // libmdb ends a table quietly at a page it cannot read: the count the
        // table's definition keeps tells a file cut short.
        if (read != table->num_rows)
            fail(QStringLiteral("la tabella %1 ha %2 righe, ne sono state lette %3")
                     .arg(QString::fromUtf8(entry->object_name))
                     .arg(table->num_rows)
                     .arg(read));
        out << quint8('E');
        mdb_free_tabledef(table);
    }
    out << kEnd;
    flush(true);
    mdb_close(mdb);
    ::_exit(kChildDone);
}

// Reads the stream the child wrote. False when it is not whole and well formed.
bool parseStream(const QByteArray& bytes, std::vector<JetTable>& tables, QString* childFailure)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    in >> magic;
    if (magic != kMagic)
        return false;
    while (in.status() == QDataStream::Ok) {
        quint8 tag = 0;
        in >> tag;
        if (in.status() != QDataStream::Ok)
            return false;
        if (tag == kEnd)
            return in.atEnd();
        if (tag == kFailure) {
            in >> *childFailure;
            return false;
        }
        if (tag != kTable)
            return false;
        JetTable t;
        quint32 columns = 0;
        in >> t.name >> columns;
        if (columns > 4096)
            return false;
        for (quint32 c = 0; c < columns && in.status() == QDataStream::Ok; ++c) {
            JetColumn col;
            qint32 type = 0;
            in >> col.name >> type;
            col.type = type;
            t.columns.push_back(col);
        }
        for (;;) {
            quint8 rowTag = 0;
            in >> rowTag;
            if (in.status() != QDataStream::Ok)
                return false;
            if (rowTag == 'E')
                break;
            if (rowTag == kFailure) {
                in >> *childFailure;
                return false;
            }
            if (rowTag != kRow)
                return false;
            JetRow row(columns);
            for (quint32 c = 0; c < columns; ++c) {
                quint8 kind = 0;
                in >> kind;
                JetValue& v = row[c];
                switch (kind) {
                case quint8(JetValue::Kind::Null):
                    break;
                case quint8(JetValue::Kind::Integer):
                    v.kind = JetValue::Kind::Integer;
                    in >> v.whole;
                    break;
                case quint8(JetValue::Kind::Real):
                    v.kind = JetValue::Kind::Real;
                    in >> v.real;
                    break;
                case quint8(JetValue::Kind::Text):
                case quint8(JetValue::Kind::Blob):
                    v.kind = JetValue::Kind(kind);
                    in >> v.bytes;
                    break;
                default:
                    return false;
                }
            }
            if (in.status() != QDataStream::Ok)
                return false;
            t.rows.push_back(std::move(row));
        }
        tables.push_back(std::move(t));
    }
    return false;
}

} // namespace

void setJetReadTimeout(int milliseconds)
{
    g_timeoutMs = milliseconds;
}

Error readJetFile(const QString& path, std::vector<JetTable>& tables)
{
    tables.clear();
    const qint64 size = QFileInfo(path).size();
    const qint64 timeoutMs = g_timeoutMs > 0 ? g_timeoutMs : 60000 + size / (1 << 20) * 2000;
    // What a whole file can give, with room for the stream's own bytes.
    const qint64 maxBytes = size * 64 + (qint64(64) << 20);
    const QByteArray native = QFile::encodeName(path);
    auto damaged = [&](const QString& why) {
        return accessError(
            AccessErr::Damaged,
            QStringLiteral("Il file Access '%1' non può essere letto: è danneggiato, cifrato o "
                           "protetto da password (%2).")
                .arg(path, why),
            path);
    };

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return accessError(AccessErr::Unreadable,
                           QStringLiteral("Il file Access '%1' non può essere letto: %2.")
                               .arg(path, QString::fromLocal8Bit(std::strerror(errno))),
                           path);
    const pid_t child = ::fork();
    if (child < 0) {
        const int err = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return accessError(AccessErr::Unreadable,
                           QStringLiteral("Il file Access '%1' non può essere letto: %2.")
                               .arg(path, QString::fromLocal8Bit(std::strerror(err))),
                           path);
    }
    if (child == 0) {
        ::close(fds[0]);
        childRead(native, fds[1]);
    }
    ::close(fds[1]);

    QByteArray stream;
    QElapsedTimer clock;
    clock.start();
    bool timedOut = false;
    bool tooMuch = false;
    char chunk[1 << 16];
    for (;;) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, int(std::min<qint64>(left, 1000)));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            continue;
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // end of the stream (or a failed read: the stream is then short)
        stream.append(chunk, n);
        if (stream.size() > maxBytes) {
            tooMuch = true;
            break;
        }
    }
    ::close(fds[0]);
    if (timedOut || tooMuch)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        return damaged(QStringLiteral("la lettura non è finita in %1 secondi").arg(timeoutMs / 1000));
    if (tooMuch)
        return damaged(QStringLiteral("la lettura dà più dati di quanti il file ne possa contenere"));
    if (WIFSIGNALED(status))
        return damaged(QStringLiteral("la lettura si è interrotta con il segnale %1").arg(WTERMSIG(status)));
    QString childFailure;
    const bool whole = parseStream(stream, tables, &childFailure);
    if (!whole || !WIFEXITED(status) || WEXITSTATUS(status) != kChildDone) {
        tables.clear();
        return damaged(childFailure.isEmpty() ? QStringLiteral("lettura incompleta") : childFailure);
    }
    return Error{};
}

} // namespace mirsalex::access
