#include "gui/PreviewDialog.h"

#include "common/AtomicFile.h"
#include "common/Platform.h"
#include "common/Prompt.h"
#include "session/PreviewModel.h"

#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace mirsalex {

namespace {

// The grid's rows that pass the category and direction chosen (-1: all)
// and hold the text searched in any column.
class PreviewFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setCategory(int category)
    {
        m_category = category;
        invalidateRowsFilter();
    }
    void setDirection(int direction)
    {
        m_direction = direction;
        invalidateRowsFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const QAbstractItemModel* m = sourceModel();
        if (m_category >= 0 &&
            m->data(m->index(row, PreviewModel::CategoryColumn, parent), Qt::UserRole).toInt() != m_category)
            return false;
        if (m_direction >= 0 &&
            m->data(m->index(row, PreviewModel::DirectionColumn, parent), Qt::UserRole).toInt() !=
                m_direction)
            return false;
        return QSortFilterProxyModel::filterAcceptsRow(row, parent);
    }

private:
    int m_category = -1;
    int m_direction = -1;
};

// A place cut in its middle: the start and the end of a path tell most.
class MiddleElided : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

// Saves the grid's text in a file the user chooses.
void savePreview(QWidget* parent, const QString& text, const QString& operatorCode, Prompt& prompt,
                 const ModalRunner& runModal)
{
    QFileDialog dialog(parent, QStringLiteral("SALVA ANTEPRIMA"));
    dialog.setObjectName(QStringLiteral("dlgSalvaAnteprima"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(QStringLiteral("Testo (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(QStringLiteral("anteprima-%1.txt").arg(operatorCode));
    if (runModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (const Error e = saveToFile(path, text.toUtf8())) {
        const Error error = platform::fileErrorFromErrno(e.number, path);
        prompt.show(QStringLiteral("ERRORE NEL SALVATAGGIO DELL'ANTEPRIMA\n") + path + QLatin1Char('\n') +
                        QString::number(error.number) + QLatin1Char('-') + error.text,
                    MsgStyle::ExclamationOk);
    }
}

// "Documenti 40 · Configurazione 6 · ...": the categories that hold items.
QString countsLine(const PreviewModel& model)
{
    QStringList parts;
    for (int c = 0; c < PreviewItem::kCategories; ++c) {
        const int n = model.counts()[size_t(c)];
        if (n > 0)
            parts << QStringLiteral("%1: <b>%2</b>").arg(categoryName(PreviewItem::Category(c))).arg(n);
    }
    return parts.isEmpty() ? QStringLiteral("Nessuna modifica.")
                           : parts.join(QStringLiteral(" &nbsp;·&nbsp; "));
}

} // namespace

void runPreviewDialog(QWidget* parent, const RunReport& report, const std::vector<ShownBox>& boxes,
                      const QStringList& exchangePlaces, Prompt& prompt, const ModalRunner& runModal)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgAnteprima"));
    dialog.setWindowTitle(QStringLiteral("ANTEPRIMA DELL'AGGIORNAMENTO"));
    auto* model = new PreviewModel(previewItems(report, boxes, exchangePlaces), &dialog);
    auto* filter = new PreviewFilter(&dialog);
    filter->setSourceModel(model);
    filter->setFilterKeyColumn(-1);
    filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    filter->setSortCaseSensitivity(Qt::CaseInsensitive);

    auto* layout = new QVBoxLayout(&dialog);
    auto* heading = new QLabel(
        QStringLiteral("Operatore %1 (%2): che cosa farebbe l'aggiornamento. Nulla è stato scritto.")
            .arg(report.operatore, report.portable ? QStringLiteral("Portatile") : QStringLiteral("DeskTop")),
        &dialog);
    heading->setObjectName(QStringLiteral("lblAnteprima"));
    layout->addWidget(heading);
    auto* counts = new QLabel(countsLine(*model), &dialog);
    counts->setObjectName(QStringLiteral("lblConteggi"));
    counts->setWordWrap(true);
    counts->setTextFormat(Qt::RichText);
    layout->addWidget(counts);

    auto* filters = new QHBoxLayout;
    auto* category = new QComboBox(&dialog);
    category->setObjectName(QStringLiteral("cboCategoria"));
    category->addItem(QStringLiteral("Tutte le categorie (%1)").arg(model->rowCount()), -1);
    for (int c = 0; c < PreviewItem::kCategories; ++c) {
        const int n = model->counts()[size_t(c)];
        if (n > 0)
            category->addItem(QStringLiteral("%1 (%2)").arg(categoryName(PreviewItem::Category(c))).arg(n),
                              c);
    }
    auto* direction = new QComboBox(&dialog);
    direction->setObjectName(QStringLiteral("cboDirezione"));
    direction->addItem(QStringLiteral("Tutte le direzioni"), -1);
    for (int d = 0; d < PreviewItem::kDirections; ++d)
        direction->addItem(directionName(PreviewItem::Direction(d)), d);
    auto* search = new QLineEdit(&dialog);
    search->setObjectName(QStringLiteral("txtCerca"));
    search->setPlaceholderText(QStringLiteral("Cerca..."));
    search->setClearButtonEnabled(true);
    filters->addWidget(category);
    filters->addWidget(direction);
    filters->addWidget(search, 1);
    layout->addLayout(filters);

    auto* view = new QTableView(&dialog);
    view->setObjectName(QStringLiteral("tblAnteprima"));
    view->setModel(filter);
    view->setSortingEnabled(true);
    view->sortByColumn(-1, Qt::AscendingOrder); // the run's order until a heading is clicked
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setAlternatingRowColors(true);
    view->verticalHeader()->hide();
    // Fixed row heights and column widths: the grid opens at once whatever
    // the number of rows.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics fm = view->fontMetrics();
    view->setColumnWidth(PreviewModel::CategoryColumn,
                         fm.horizontalAdvance(QStringLiteral("Configurazione")) + 12);
    int directionWidth = 0;
    for (int d = 0; d < PreviewItem::kDirections; ++d)
        directionWidth = qMax(directionWidth, fm.horizontalAdvance(directionName(PreviewItem::Direction(d))));
    view->setColumnWidth(PreviewModel::DirectionColumn, directionWidth + 12);
    view->setColumnWidth(PreviewModel::ItemColumn,
                         fm.horizontalAdvance(QStringLiteral("[EXPORT] XDTLX0P001")) + 16);
    view->setColumnWidth(PreviewModel::PlaceColumn, fm.horizontalAdvance(QLatin1Char('M')) * 10);
    view->setItemDelegateForColumn(PreviewModel::PlaceColumn, new MiddleElided(view));
    // The detail last, taking the room left (the place before it; the rows
    // copied keep the model's order).
    view->horizontalHeader()->moveSection(PreviewModel::PlaceColumn, PreviewModel::DetailColumn);
    layout->addWidget(view, 1);

    auto* shown = new QLabel(&dialog);
    shown->setObjectName(QStringLiteral("lblMostrate"));
    auto updateShown = [shown, filter, model] {
        shown->setText(
            QStringLiteral("Righe mostrate: %1 di %2").arg(filter->rowCount()).arg(model->rowCount()));
    };
    updateShown();
    QObject::connect(category, &QComboBox::currentIndexChanged, &dialog, [=] {
        filter->setCategory(category->currentData().toInt());
        updateShown();
    });
    QObject::connect(direction, &QComboBox::currentIndexChanged, &dialog, [=] {
        filter->setDirection(direction->currentData().toInt());
        updateShown();
    });
    QObject::connect(search, &QLineEdit::textChanged, &dialog, [=](const QString& text) {
        filter->setFilterFixedString(text);
        updateShown();
    });

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(shown, 1);
    auto* buttons = new QDialogButtonBox(&dialog);
    auto* copy = buttons->addButton(QStringLiteral("&COPIA"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("cmdCopia"));
    copy->setToolTip(QStringLiteral("Copia le righe mostrate negli appunti (testo separato da tabulazioni)"));
    auto* save = buttons->addButton(QStringLiteral("&SALVA..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("cmdSalva"));
    save->setToolTip(QStringLiteral("Salva le righe mostrate in un file (testo separato da tabulazioni)"));
    auto* close = buttons->addButton(QStringLiteral("&CHIUDI"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdChiudi"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(copy, &QPushButton::clicked, &dialog,
                     [filter] { QGuiApplication::clipboard()->setText(tabSeparated(*filter)); });
    const QString code = report.operatore;
    QObject::connect(save, &QPushButton::clicked, &dialog, [&dialog, filter, code, &prompt, &runModal] {
        savePreview(&dialog, tabSeparated(*filter), code, prompt, runModal);
    });
    bottom->addWidget(buttons);
    layout->addLayout(bottom);

    // As large as a 800x600 screen allows, frame included.
    const QRect screen =
        (parent && parent->window()->screen() ? parent->window()->screen() : QGuiApplication::primaryScreen())
            ->availableGeometry();
    dialog.resize(qMin(900, screen.width() - 40), qMin(640, screen.height() - 60));
    search->setFocus(Qt::OtherFocusReason);
    runModal(dialog);
}

} // namespace mirsalex
