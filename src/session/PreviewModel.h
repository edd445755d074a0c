#pragma once

#include "runtypes/RunReport.h"

#include <array>
#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <vector>

namespace mirsalex {

// One line of the preview grid: one thing a run would change, or a box it
// would show with the answer it would get.
struct PreviewItem
{
    enum class Category
    {
        Clients,     // a client added
        VisitsTexts, // a known client's visits text taken over
        RowsAdded,   // a visits-group row added to one side
        RowsPurged,  // a row marked for deletion purged from one side
        Divergences, // a row both sides hold with different content
        Documents,   // a card or a sheet copied, newest wins
        Databases,   // a database copied whole, or its rows changed in place
        Keys,        // a configuration key written
        Temporaries, // a leftover of a killed run removed
        Questions,   // a question, with the answer the run would get
        Messages,    // a message box
    };
    static constexpr int kCategories = 11;

    enum class Direction
    {
        TowardBranch,   // from the portable toward the branch's desktop
        TowardPortable, // from the branch's desktop toward the portable
        Here,           // on this computer only
        BothSides,      // on both sides (a divergence)
    };
    static constexpr int kDirections = 4;

    Category category = Category::Documents;
    Direction direction = Direction::Here;
    QString item;   // what: a client's code, a file's name, a key, a box's title
    QString detail; // the rest: a name, dates and sizes, a value, a box's text and answer
    QString place;  // where: a table, a folder, a file
};

// The category and direction as the grid names them ("Documenti",
// "⇒ verso la sede").
QString categoryName(PreviewItem::Category category);
QString directionName(PreviewItem::Direction direction);

// The lines of a dry run's report: the rows the report lists one by one,
// every change (a document's dates and sizes read from the disk now), and
// the boxes with their answers. `exchangePlaces` are the exchange area's
// folders (its database's folder, the document groups' folders): a copy
// into one of them goes toward the exchange area, any other from it.
std::vector<PreviewItem> previewItems(const RunReport& report, const std::vector<ShownBox>& boxes,
                                      const QStringList& exchangePlaces);

// The preview grid's model: one row per item, columns category, direction,
// item, detail and place. Qt::UserRole of the category and direction
// columns holds their number, for filters.
class PreviewModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        CategoryColumn,
        DirectionColumn,
        ItemColumn,
        DetailColumn,
        PlaceColumn,
        ColumnCount,
    };

    explicit PreviewModel(std::vector<PreviewItem> items, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const std::vector<PreviewItem>& items() const { return m_items; }
    // How many items each category holds, in Category order.
    const std::array<int, PreviewItem::kCategories>& counts() const { return m_counts; }

private:
    std::vector<PreviewItem> m_items;
    std::array<int, PreviewItem::kCategories> m_counts{};
};

// The rows of `model` (any model of the grid's columns, a filtered one too)
// as tab-separated text: a heading line, then one line per row.
QString tabSeparated(const QAbstractItemModel& model);

} // namespace mirsalex
