#include "gui/PreviewDialog.h"

#include "common/AtomicFile.h"
#include "common/Platform.h"
#include "common/Prompt.h"
#include "gui/WindowHelpers.h"

#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace mirsalex {

namespace {

// Saves the preview's text in a file the user chooses.
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
    if (const Error e = saveToFile(path, text.toUtf8() + '\n')) {
        const Error error = platform::fileErrorFromErrno(e.number, path);
        prompt.show(QStringLiteral("ERRORE NEL SALVATAGGIO DELL'ANTEPRIMA\n") + path + QLatin1Char('\n') +
                        QString::number(error.number) + QLatin1Char('-') + error.text,
                    MsgStyle::ExclamationOk);
    }
}

} // namespace

void runPreviewDialog(QWidget* parent, const QString& text, const QString& operatorCode, Prompt& prompt,
                      const ModalRunner& runModal)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgAnteprima"));
    dialog.setWindowTitle(QStringLiteral("ANTEPRIMA DELL'AGGIORNAMENTO"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new QPlainTextEdit(text, &dialog);
    view->setObjectName(QStringLiteral("txtAnteprima"));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(fixedFont());
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(&dialog);
    auto* copy = buttons->addButton(QStringLiteral("&COPIA"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("cmdCopia"));
    copy->setToolTip(QStringLiteral("Copia il testo negli appunti"));
    auto* save = buttons->addButton(QStringLiteral("&SALVA..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("cmdSalva"));
    save->setToolTip(QStringLiteral("Salva il testo in un file"));
    auto* close = buttons->addButton(QStringLiteral("&CHIUDI"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdChiudi"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(copy, &QPushButton::clicked, &dialog,
                     [text] { QGuiApplication::clipboard()->setText(text); });
    QObject::connect(save, &QPushButton::clicked, &dialog, [&dialog, text, operatorCode, &prompt, &runModal] {
        savePreview(&dialog, text, operatorCode, prompt, runModal);
    });
    layout->addWidget(buttons);
    // Large enough to show the longest line and every line, within the
    // screen.
    const QFontMetrics metrics(view->font());
    int longest = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        longest = qMax(longest, metrics.horizontalAdvance(line));
    const int chrome = view->frameWidth() * 2 + view->document()->documentMargin() * 2 +
                       view->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    const QRect screen =
        (parent && parent->window()->screen() ? parent->window()->screen() : QGuiApplication::primaryScreen())
            ->availableGeometry();
    const int viewW = qBound(metrics.averageCharWidth() * 60, longest + chrome, screen.width() * 9 / 10 - 40);
    const int viewH =
        qBound(metrics.lineSpacing() * 10, metrics.lineSpacing() * int(lines.size() + 1) + chrome,
               screen.height() * 8 / 10 - buttons->sizeHint().height() - 40);
    view->setMinimumSize(qMin(viewW, metrics.averageCharWidth() * 60),
                         qMin(viewH, metrics.lineSpacing() * 10));
    dialog.resize(viewW + 24, viewH + buttons->sizeHint().height() + 36);
    runModal(dialog);
}

} // namespace mirsalex
