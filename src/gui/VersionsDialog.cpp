#include "gui/VersionsDialog.h"

#include "changes/Restore.h"
#include "changes/VersionStore.h"
#include "common/Prompt.h"
#include "gui/WindowHelpers.h"
#include "session/RunSession.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace mirsalex {

void runVersionsDialog(QWidget* parent, Context& ctx, OperatorForm& form, const ModalRunner& runModal,
                       const std::function<void()>& refresh)
{
    const bool portable = form.optPC == 1;
    const VersionStore store =
        versionStoreFor(ctx, form, VersionSettings::fromConfiguration(ctx.config.FileIni));

    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgVersioni"));
    dialog.setWindowTitle(
        QStringLiteral("VERSIONI - operatore %1 (%2)")
            .arg(ctx.CodOperatore, portable ? QStringLiteral("Portatile") : QStringLiteral("DeskTop")));
    auto* layout = new QVBoxLayout(&dialog);
    auto* heading = new QLabel(QStringLiteral("Aggiornamenti conservati, dal più recente:"), &dialog);
    heading->setObjectName(QStringLiteral("lblVersioni"));
    layout->addWidget(heading);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("lstVersioni"));
    list->setFont(fixedFont());
    // Whole lines, with a horizontal scroll bar when they are longer than
    // the list is wide.
    list->setTextElideMode(Qt::ElideNone);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(list, 1);
    auto* details = new QPlainTextEdit(&dialog);
    details->setObjectName(QStringLiteral("txtVersione"));
    details->setReadOnly(true);
    details->setLineWrapMode(QPlainTextEdit::NoWrap);
    details->setFont(fixedFont());
    layout->addWidget(details, 1);
    auto* buttons = new QDialogButtonBox(&dialog);
    auto* restore = buttons->addButton(QStringLiteral("&RIPRISTINA"), QDialogButtonBox::ActionRole);
    restore->setObjectName(QStringLiteral("cmdRipristina"));
    restore->setToolTip(
        QStringLiteral("Rimette file, database e chiavi come erano prima dell'aggiornamento scelto"));
    auto* close = buttons->addButton(QStringLiteral("&CHIUDI"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdChiudi"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    // This installation's entries, then those that do not say theirs (kept
    // by an earlier version of the program) under a heading of their own;
    // another installation's are not shown. Each row of an entry holds its
    // place in `entries`.
    std::vector<VersionEntry> entries;
    const auto entryAt = [&](int row) -> int {
        const QListWidgetItem* item = row >= 0 ? list->item(row) : nullptr;
        return item ? item->data(Qt::UserRole).toInt() : -1;
    };
    auto fill = [&] {
        entries = store.list(VersionStore::Owner::This);
        const size_t own = entries.size();
        for (VersionEntry& e : store.list(VersionStore::Owner::Unrecorded))
            entries.push_back(std::move(e));
        list->clear();
        auto addLine = [&](const QString& text, int index) {
            auto* item = new QListWidgetItem(text, list);
            item->setToolTip(text);
            item->setData(Qt::UserRole, index);
            if (index < 0)
                item->setFlags(Qt::ItemIsEnabled);
        };
        for (size_t i = 0; i < own; ++i)
            addLine(entries[i].summaryLine(), int(i));
        // A heading only over entries of its own.
        heading->setVisible(own > 0);
        if (entries.empty())
            addLine(QStringLiteral("nessuna versione in ") + store.folder(), -1);
        if (entries.size() > own)
            addLine(QStringLiteral("Versioni senza installazione registrata:"), -1);
        for (size_t i = own; i < entries.size(); ++i)
            addLine(entries[i].summaryLine(), int(i));
        int first = 0;
        while (first < list->count() && entryAt(first) < 0)
            ++first;
        list->setCurrentRow(first < list->count() ? first : 0);
        restore->setEnabled(entryAt(list->currentRow()) >= 0);
    };
    auto show = [&](int row) {
        const int index = entryAt(row);
        restore->setEnabled(index >= 0);
        if (index < 0) {
            details->clear();
            return;
        }
        const VersionEntry& e = entries[size_t(index)];
        QStringList lines;
        lines << QStringLiteral("Versione %1 del %2%3")
                     .arg(e.id, e.started.toString(QStringLiteral("dd/MM/yyyy HH:mm")),
                          !e.restores.isEmpty() ? QStringLiteral(" (ripristino di ") + e.restores + ')'
                          : e.madeBy == QLatin1String("conversione")
                              ? QStringLiteral(" (conversione da Access)")
                              : QString());
        if (!e.ended)
            lines << QStringLiteral("(aggiornamento interrotto: si può ripristinare quanto registrato)");
        for (const auto& [table, rows] : e.rows)
            lines << QStringLiteral("  righe %1: %2").arg(table).arg(rows);
        for (const VersionItem& item : e.items) {
            switch (item.kind) {
            case VersionItem::Kind::File:
                lines << (item.version.isEmpty() ? QStringLiteral("  file creato:   ")
                                                 : QStringLiteral("  file:          ")) +
                             item.path;
                break;
            case VersionItem::Kind::Database:
                lines << QStringLiteral("  database:      ") + item.path;
                break;
            case VersionItem::Kind::Key:
                // The desktop's side letter is a blank: the key is shown
                // without it.
                lines << QStringLiteral("  chiave:        [%1] %2, valore prima dell'aggiornamento: %3")
                             .arg(item.section.trimmed(), item.key.trimmed(),
                                  item.hadValue ? item.oldValue : QStringLiteral("(assente)"));
                break;
            }
        }
        details->setPlainText(lines.join(QLatin1Char('\n')));
    };
    QObject::connect(list, &QListWidget::currentRowChanged, &dialog, show);
    QObject::connect(restore, &QPushButton::clicked, &dialog, [&] {
        const int index = entryAt(list->currentRow());
        if (index < 0)
            return;
        const VersionEntry entry = entries[size_t(index)];
        // The question tells everything that stands in the way at once.
        const auto confirm = [&ctx](const VersionEntry& e, const RestoreChecks& checks) {
            QString text =
                QStringLiteral("RIPRISTINO DELLA VERSIONE ") + e.id + QLatin1Char('\n') +
                QStringLiteral("File, database e chiavi tornano come erano prima di quell'aggiornamento.");
            if (!checks.missing.isEmpty()) {
                text += QStringLiteral("\nATTENZIONE: area di scambio assente, non c'è la cartella:");
                for (const QString& m : checks.missing)
                    text += QStringLiteral("\n  ") + m;
            }
            if (checks.owner == VersionStore::Owner::Unrecorded)
                text += QLatin1Char('\n') + unrecordedEntryWarning();
            const QStringList& later = checks.later;
            if (!later.isEmpty()) {
                text += QStringLiteral(
                    "\nATTENZIONE: un aggiornamento successivo ha modificato gli stessi file o dati:");
                for (int i = 0; i < qMin(10, int(later.size())); ++i)
                    text += QStringLiteral("\n  ") + later[i];
                if (later.size() > 10)
                    text += QStringLiteral("\n  ... e altri ") + QString::number(later.size() - 10);
            }
            text += QStringLiteral("\nProcedo con il ripristino?");
            // Undoing later changes is never one Enter away: "No" is then
            // the default answer.
            const int style =
                later.isEmpty() ? MsgStyle::Question : MsgStyle::Question | MsgStyle::DefaultButton2;
            return ctx.prompt.show(text, style, QStringLiteral("VERSIONI")) == AnswerYes;
        };
        const RestoreResult result = restoreVersion(ctx, form, store, entry, confirm);
        switch (result.status) {
        case RestoreResult::Status::Damaged:
            // A damaged version is not put back, not even in part.
            ctx.prompt.show(QStringLiteral("RIPRISTINO NON ESEGUITO\nLa versione ") + entry.id +
                                QStringLiteral(" è danneggiata: nessun file è stato modificato.\n") +
                                result.damaged.join(QLatin1Char('\n')),
                            MsgStyle::ExclamationOk, QStringLiteral("VERSIONI"));
            return;
        case RestoreResult::Status::OtherInstallation:
        case RestoreResult::Status::NotConfirmed:
        case RestoreResult::Status::Refused:
            return;
        case RestoreResult::Status::Restored:
            ctx.prompt.show(
                QStringLiteral("RIPRISTINO COMPLETATO") +
                    (result.entryMade.isEmpty()
                         ? QString()
                         : QStringLiteral("\nIl ripristino stesso è la versione ") + result.entryMade),
                MsgStyle::Ok);
            break;
        case RestoreResult::Status::Failed:
            ctx.prompt.show(QStringLiteral("RIPRISTINO NON RIUSCITO\n") +
                                result.failures.join(QLatin1Char('\n')),
                            MsgStyle::ExclamationOk);
            break;
        }
        fill();
        show(list->currentRow());
        refresh();
    });
    fill();
    show(list->currentRow());
    const QRect screen =
        parent && parent->screen() ? parent->screen()->availableGeometry() : QRect(0, 0, 800, 600);
    // Wide enough for the longest line when the screen allows it.
    int longest = 0;
    for (int i = 0; i < list->count(); ++i)
        longest = qMax(longest, list->fontMetrics().horizontalAdvance(list->item(i)->text()));
    dialog.resize(qBound(qMin(screen.width() - 40, 760), longest + 60, screen.width() - 40),
                  qMin(screen.height() - 60, 480));
    runModal(dialog);
}

} // namespace mirsalex
