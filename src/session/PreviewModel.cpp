#include "session/PreviewModel.h"

#include "common/Prompt.h"
#include "session/ReportText.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace mirsalex {

QString categoryName(PreviewItem::Category category)
{
    switch (category) {
    case PreviewItem::Category::Clients:
        return QStringLiteral("Clienti aggiunti");
    case PreviewItem::Category::VisitsTexts:
        return QStringLiteral("Testi visite");
    case PreviewItem::Category::RowsAdded:
        return QStringLiteral("Righe aggiunte");
    case PreviewItem::Category::RowsPurged:
        return QStringLiteral("Righe eliminate");
    case PreviewItem::Category::Divergences:
        return QStringLiteral("Righe diverse");
    case PreviewItem::Category::Documents:
        return QStringLiteral("Documenti");
    case PreviewItem::Category::Databases:
        return QStringLiteral("Database");
    case PreviewItem::Category::Keys:
        return QStringLiteral("Configurazione");
    case PreviewItem::Category::Temporaries:
        return QStringLiteral("File temporanei");
    case PreviewItem::Category::Questions:
        return QStringLiteral("Domande");
    case PreviewItem::Category::Messages:
        break;
    }
    return QStringLiteral("Messaggi");
}

QString directionName(PreviewItem::Direction direction)
{
    switch (direction) {
    case PreviewItem::Direction::TowardBranch:
        return QStringLiteral("⇒ verso la sede");
    case PreviewItem::Direction::TowardPortable:
        return QStringLiteral("⇐ verso il portatile");
    case PreviewItem::Direction::BothSides:
        return QStringLiteral("≠ diversi sui due lati");
    case PreviewItem::Direction::Here:
        break;
    }
    return QStringLiteral("• su questo computer");
}

namespace {

using Category = PreviewItem::Category;
using Direction = PreviewItem::Direction;

// The direction of something that goes to the exchange area (or comes from
// it), seen from the side the run stands on.
Direction directionOf(bool toExchange, bool portable)
{
    return toExchange == portable ? Direction::TowardBranch : Direction::TowardPortable;
}

QString cleanFolder(const QString& path)
{
    QString p = QDir::cleanPath(path.trimmed());
    if (!p.endsWith(QLatin1Char('/')))
        p += QLatin1Char('/');
    return p;
}

bool inPlaces(const QString& path, const QStringList& places)
{
    const QString p = QDir::cleanPath(path);
    for (const QString& place : places) {
        if (!place.isEmpty() && p.startsWith(place, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString fileState(const QFileInfo& info)
{
    if (!info.exists())
        return QStringLiteral("assente");
    return QStringLiteral("%1, %2 byte")
        .arg(info.lastModified().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
             QLocale(QLocale::Italian).toString(info.size()));
}

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QStringLiteral(" / "));
}

// "[EXPORT]  DATAP001" with the desktop's blank side letter: one blank.
QString simplifiedKey(const QString& key)
{
    return key.simplified();
}

PreviewItem rowItem(const RowItem& r, bool portable)
{
    PreviewItem p;
    p.item = r.key;
    p.detail = r.text;
    p.place = r.table;
    p.direction = directionOf(r.toExchange, portable);
    switch (r.kind) {
    case RowItem::Kind::ClientAdded:
        p.category = Category::Clients;
        break;
    case RowItem::Kind::VisitsText:
        p.category = Category::VisitsTexts;
        break;
    case RowItem::Kind::RowAdded:
        p.category = Category::RowsAdded;
        break;
    case RowItem::Kind::RowPurged:
        p.category = Category::RowsPurged;
        break;
    case RowItem::Kind::Divergence: {
        p.category = Category::Divergences;
        p.direction = Direction::BothSides;
        QStringList parts;
        for (qsizetype i = 0; i < r.columns.size(); ++i) {
            parts << QStringLiteral("%1: qui «%2», scambio «%3»")
                         .arg(r.columns.at(i), r.localValues.value(i), r.exchangeValues.value(i));
        }
        if (!r.text.isEmpty())
            parts.prepend(r.text);
        p.detail = parts.join(QStringLiteral("; "));
        break;
    }
    }
    return p;
}

PreviewItem changeItem(const ChangeSink::Change& c, bool portable, const QStringList& places)
{
    PreviewItem p;
    const QFileInfo destination(c.path);
    p.place = destination.absolutePath();
    switch (c.kind) {
    case ChangeSink::Change::Kind::Key: {
        p.category = Category::Keys;
        const qsizetype eq = c.detail.indexOf(QLatin1Char('='));
        p.item = simplifiedKey(eq < 0 ? c.detail : c.detail.left(eq));
        p.detail = eq < 0 ? QString() : QStringLiteral("nuovo valore: ") + c.detail.mid(eq + 1);
        p.place = c.path;
        break;
    }
    case ChangeSink::Change::Kind::Database:
        p.category = Category::Databases;
        p.item = destination.fileName();
        p.detail = QStringLiteral("righe modificate: ") + c.detail;
        p.direction = inPlaces(c.path, places) ? directionOf(true, portable) : directionOf(false, portable);
        break;
    case ChangeSink::Change::Kind::File: {
        const QFileInfo source(c.source());
        const bool whole = destination.suffix().compare(QLatin1String("mdb"), Qt::CaseInsensitive) == 0;
        p.category = whole ? Category::Databases : Category::Documents;
        p.item = destination.fileName();
        p.direction = directionOf(inPlaces(c.path, places), portable);
        const QString from = fileState(source);
        const QString to = fileState(destination);
        p.detail = whole ? QStringLiteral("copiato intero: %1; sostituisce: %2").arg(from, to)
                   : destination.exists()
                       ? QStringLiteral("vince il più recente: %1; sostituisce: %2").arg(from, to)
                       : QStringLiteral("nuovo: %1").arg(from);
        break;
    }
    case ChangeSink::Change::Kind::Removal:
        p.category = Category::Temporaries;
        p.item = destination.fileName();
        p.detail = QStringLiteral("rimosso (avanzo di un aggiornamento interrotto)");
        break;
    }
    return p;
}

} // namespace

std::vector<PreviewItem> previewItems(const RunReport& report, const std::vector<ShownBox>& boxes,
                                      const QStringList& exchangePlaces)
{
    QStringList places;
    for (const QString& place : exchangePlaces) {
        if (!place.trimmed().isEmpty())
            places << cleanFolder(place);
    }
    std::vector<PreviewItem> items;
    items.reserve(report.rows.size() + report.changes.size() + boxes.size());
    for (const RowItem& r : report.rows)
        items.push_back(rowItem(r, report.portable));
    for (const ChangeSink::Change& c : report.changes)
        items.push_back(changeItem(c, report.portable, places));
    for (const ShownBox& b : boxes) {
        PreviewItem p;
        p.category = MsgStyle::buttons(b.style) == MsgStyle::Ok ? Category::Messages : Category::Questions;
        p.item = b.title;
        p.detail = oneLine(b.text) + QStringLiteral(" — risposta: ") + answerText(b.answer);
        items.push_back(std::move(p));
    }
    return items;
}

PreviewModel::PreviewModel(std::vector<PreviewItem> items, QObject* parent)
    : QAbstractTableModel(parent), m_items(std::move(items))
{
    for (const PreviewItem& p : m_items)
        ++m_counts[size_t(p.category)];
}

int PreviewModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

int PreviewModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PreviewModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_items.size())
        return {};
    const PreviewItem& p = m_items[size_t(index.row())];
    if (role == Qt::UserRole) {
        if (index.column() == CategoryColumn)
            return int(p.category);
        if (index.column() == DirectionColumn)
            return int(p.direction);
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case CategoryColumn:
        return categoryName(p.category);
    case DirectionColumn:
        return directionName(p.direction);
    case ItemColumn:
        return p.item;
    case DetailColumn:
        return p.detail;
    case PlaceColumn:
        return p.place;
    default:
        return {};
    }
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const names[] = {"Categoria", "Direzione", "Elemento", "Dettaglio", "Dove"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(names[section]) : QVariant();
}

QString tabSeparated(const QAbstractItemModel& model)
{
    QStringList lines;
    QStringList cells;
    for (int c = 0; c < model.columnCount(); ++c)
        cells << model.headerData(c, Qt::Horizontal).toString();
    lines << cells.join(QLatin1Char('\t'));
    for (int r = 0; r < model.rowCount(); ++r) {
        cells.clear();
        for (int c = 0; c < model.columnCount(); ++c) {
            QString cell = model.data(model.index(r, c)).toString();
            cell.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
            cells << cell;
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace mirsalex
