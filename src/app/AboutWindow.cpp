#include "app/AboutWindow.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace mirsalex {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("InfDoran"));
    setWindowTitle(QStringLiteral("Informazioni su DORAN"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* company = new QLabel(QStringLiteral("DORAN"), this);
    company->setObjectName(QStringLiteral("Lb_adp_0"));
    QFont serif(QStringLiteral("Serif"));
    serif.setStyleHint(QFont::Serif);
    serif.setPointSize(font().pointSize() * 2);
    serif.setBold(true);
    company->setFont(serif);
    company->setAlignment(Qt::AlignCenter);

    auto* product = new QLabel(QStringLiteral("MirsalEX - Esportazione Dati per Filiale"), this);
    product->setObjectName(QStringLiteral("Lb_adp_1"));
    product->setAlignment(Qt::AlignCenter);
    QFont bold = font();
    bold.setBold(true);
    product->setFont(bold);

    auto* version = new QLabel(QStringLiteral("Versione %1").arg(QStringLiteral(MIRSALEX_VERSION)), this);
    version->setObjectName(QStringLiteral("Lb_adp_2"));
    version->setAlignment(Qt::AlignCenter);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::HLine);
    frame->setFrameShadow(QFrame::Sunken);

    auto* notice = new QLabel(
        QStringLiteral(
            "Programma di aggiornamento dei dati tra la sede e il computer portatile del promotore.\n"
            "Tutti i diritti riservati."),
        this);
    notice->setObjectName(QStringLiteral("Lb_cr"));
    QFont small = font();
    small.setPointSize(7);
    notice->setFont(small);
    notice->setAlignment(Qt::AlignCenter);
    notice->setWordWrap(true);

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(8);
    layout->addWidget(company);
    layout->addWidget(product);
    layout->addWidget(version);
    layout->addWidget(frame);
    layout->addWidget(notice);
    layout->addLayout(buttons);
    setMinimumWidth(380);
}

void AboutWindow::showEvent(QShowEvent* event)
{
    if (!m_placed) {
        m_placed = true;
        // Middle of the plain screen.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            adjustSize();
            const QRect g = screen->geometry();
            move(g.left() + (g.width() - width()) / 2, g.top() + (g.height() - height()) / 2);
        }
    }
    QDialog::showEvent(event);
}

} // namespace mirsalex
