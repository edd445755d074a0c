#include "gui/AboutWindow.h"

#include "common/Prompt.h"
#include "common/SystemInfo.h"
#include "gui/WindowHelpers.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace mirsalex {

namespace {

// The maker's texts.
const QString kIndirizzo = QStringLiteral("Via dei Promotori 18 - 20121 Milano (MI)");
const QString kDati = QStringLiteral("Tel. 02 8645 2210\nFax 02 8645 2299\nCell. 348 771 0452");
const QString kNota = QStringLiteral(
    "Attenzione: questo programma è tutelato dalle leggi sul diritto d'autore e dai trattati "
    "internazionali. La riproduzione o la distribuzione non autorizzata di questo programma, o di "
    "parte di esso, è vietata e sarà perseguita a norma di legge. MirsalEX è un marchio dei suoi "
    "autori. Tutti i diritti riservati.");
const QString kMail = QStringLiteral("assistenza@mirsalex.it");
const QString kSito = QStringLiteral("www.mirsalex.it");

// Inner area of a link label, in twips from its edges.
constexpr int kMargineSinistro = 30;
constexpr int kMargineDestro = 50;
constexpr int kMargineVerticale = 30;

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

} // namespace

AboutWindow::AboutWindow(Context& ctx, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_ownInfo(std::make_unique<SystemInfo>()), m_info(m_ownInfo.get()),
      m_openLink([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("InfDoran"));
    setWindowTitle(QStringLiteral("Informazioni su DORAN"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setMouseTracking(true);

    // The name, in a serif font.
    QFont serif(QStringLiteral("Serif"));
    serif.setStyleHint(QFont::Serif);
    const int base = font().pointSize() > 0 ? font().pointSize() : 10;
    const QStringList nameLines{QStringLiteral("MirsalEX"), QStringLiteral("Esportazione Dati per Filiale"),
                                QStringLiteral("Versione %1").arg(QStringLiteral(MIRSALEX_VERSION))};
    const QList<int> nameSizes{base * 2 + 4, base + 2, base};
    QList<QLabel*> name;
    for (int i = 0; i < 3; ++i) {
        QLabel* l = makeLabel(QStringLiteral("Lb_adp_%1").arg(i), nameLines[i], this);
        QFont f = serif;
        f.setPointSize(nameSizes[i]);
        f.setBold(i == 0);
        f.setItalic(i == 1);
        l->setFont(f);
        name << l;
    }

    QLabel* symbol = makeLabel(QStringLiteral("Label1"), QString(), this);
    symbol->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
    symbol->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setMouseTracking(true);

    QLabel* indirizzo = makeLabel(QStringLiteral("lbIndirizzo"), QString(), frame);
    QLabel* dati = makeLabel(QStringLiteral("Lb_dati"), QString(), frame);
    dati->setMouseTracking(true);
    QLabel* mailCaption = makeLabel(QStringLiteral("Label2"), QStringLiteral("E-mail:"), frame);
    QLabel* sitoCaption = makeLabel(QStringLiteral("Label3"), QStringLiteral("Sito:"), frame);
    m_lbMail = makeLabel(QStringLiteral("lbMail"), kMail, frame);
    m_lbSito = makeLabel(QStringLiteral("lbSito"), kSito, frame);
    for (QLabel* link : {m_lbMail, m_lbSito}) {
        link->setMouseTracking(true);
        link->setCursor(Qt::PointingHandCursor);
        link->setForegroundRole(QPalette::Link);
        // Room around the text for the border area that leaves it plain.
        link->setContentsMargins(6, 3, 6, 3);
        link->setMinimumHeight(fontMetrics().height() + 8);
        link->installEventFilter(this);
    }

    auto* frameLayout = new QGridLayout(frame);
    frameLayout->setContentsMargins(14, 8, 14, 10);
    frameLayout->setHorizontalSpacing(8);
    frameLayout->setVerticalSpacing(2);
    frameLayout->addWidget(indirizzo, 0, 0, 1, 2);
    frameLayout->addWidget(dati, 1, 0, 1, 2);
    frameLayout->addWidget(mailCaption, 2, 0);
    frameLayout->addWidget(m_lbMail, 2, 1, Qt::AlignLeft);
    frameLayout->addWidget(sitoCaption, 3, 0);
    frameLayout->addWidget(m_lbSito, 3, 1, Qt::AlignLeft);
    frameLayout->setColumnStretch(1, 1);

    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    QLabel* notice = makeLabel(QStringLiteral("Lb_cr"), QString(), this);
    notice->setWordWrap(true);
    notice->setMouseTracking(true);

    // The folder list the disk search walks; never shown.
    m_dirHidden = new QListWidget(this);
    m_dirHidden->setObjectName(QStringLiteral("dirHidden"));
    m_dirHidden->hide();

    m_cmdInfoSys = new QPushButton(QStringLiteral("? &Sistema"), this);
    m_cmdInfoSys->setObjectName(QStringLiteral("cmdInfoSys"));
    m_cmdInfoSys->setAutoDefault(false);
    m_cmdInfoSys->setToolTip(QStringLiteral("Informazioni sul sistema"));
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cmdInfoSys, &QPushButton::clicked, this, &AboutWindow::clickInfoSys);

    auto* header = new QVBoxLayout;
    header->setSpacing(0);
    for (QLabel* l : name)
        header->addWidget(l);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(symbol, 0, Qt::AlignTop);
    top->addLayout(header, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdInfoSys);
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 14);
    layout->setSpacing(10);
    layout->addLayout(top);
    layout->addWidget(frame);
    layout->addWidget(line);
    layout->addWidget(notice);
    layout->addLayout(buttons);
    setMinimumWidth(440);

    // Load: the maker's texts.
    indirizzo->setText(QStringLiteral("\n") + kIndirizzo);
    dati->setText(kDati);
    notice->setText(kNota);
    QFont small = notice->font();
    small.setPointSize(7);
    notice->setFont(small);

    // Moving over the background and the plain texts leaves the links plain.
    for (QWidget* w :
         {static_cast<QWidget*>(frame), static_cast<QWidget*>(notice), static_cast<QWidget*>(dati)})
        w->installEventFilter(this);
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::setSystemInfo(SystemInfo* info)
{
    m_info = info ? info : m_ownInfo.get();
}

bool AboutWindow::dentroAreaLink(const QLabel* label, const QPoint& pos)
{
    if (!label)
        return false;
    const int tpp = TwipsPerPixel();
    const int x = pos.x() * tpp;
    const int y = pos.y() * tpp;
    const int w = label->width() * tpp;
    const int h = label->height() * tpp;
    return x > kMargineSinistro && x < w - kMargineDestro && y > kMargineVerticale &&
           y < h - kMargineVerticale;
}

QUrl AboutWindow::indirizzoDi(const QString& objectName, const QString& caption)
{
    const QString text = caption.trimmed();
    if (objectName == QLatin1String("lbMail"))
        return QUrl(QStringLiteral("mailto:") + text);
    if (text.contains(QStringLiteral("://")))
        return QUrl(text);
    return QUrl(QStringLiteral("https://") + text);
}

void AboutWindow::setLinkLook(QLabel* label, bool highlighted)
{
    QFont f = label->font();
    if (f.underline() == highlighted && f.bold() == highlighted)
        return;
    f.setUnderline(highlighted);
    f.setBold(highlighted);
    label->setFont(f);
}

void AboutWindow::openLink(QLabel* label)
{
    // Nothing is reported when no program takes the address.
    if (m_openLink)
        static_cast<void>(m_openLink(indirizzoDi(label->objectName(), label->text())));
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event)
{
    auto* label = qobject_cast<QLabel*>(watched);
    const bool isLink = label && (label == m_lbMail || label == m_lbSito);
    if (event->type() == QEvent::MouseMove) {
        const auto* move = static_cast<QMouseEvent*>(event);
        if (isLink) {
            // Inside its inner area the link stands out; anywhere else both
            // are plain.
            const bool inside = dentroAreaLink(label, move->position().toPoint());
            setLinkLook(label == m_lbMail ? m_lbSito : m_lbMail, false);
            setLinkLook(label, inside);
            // Taken here: passed on to the frame below, it would count as a
            // move over the frame.
            event->accept();
            return true;
        }
        setLinkLook(m_lbMail, false);
        setLinkLook(m_lbSito, false);
    } else if (isLink && event->type() == QEvent::MouseButtonPress) {
        openLink(label);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AboutWindow::mouseMoveEvent(QMouseEvent* event)
{
    // The window's background (and the controls that pass their moves on).
    setLinkLook(m_lbMail, false);
    setLinkLook(m_lbSito, false);
    QDialog::mouseMoveEvent(event);
}

void AboutWindow::clickInfoSys()
{
    // One search at a time: a click while one runs starts nothing.
    if (m_searching)
        return;
    qint16 codErrore = 0;
    AvviaInfoSistema(*m_info, codErrore);
    if (codErrore == 0)
        return;

    m_searching = true;
    m_trovato.clear();
    const QString tool = QString::fromLatin1(kStrumentoInfoSistema);
    QPointer<AboutWindow> self(this);
    const CartellaVisitata visit = [self](const QString& folder, const QStringList& subfolders) {
        if (!self || self->m_closed)
            return false;
        self->m_dirHidden->setProperty("Path", folder);
        self->m_dirHidden->clear();
        self->m_dirHidden->addItems(subfolders);
        return true;
    };
    Prompt& prompt = m_ctx.prompt;
    QString found;
    for (const QString& root : m_info->cartelleProgrammi()) {
        found = CercaSuDisco(prompt, root, tool, visit);
        if (!self || m_closed || !found.isEmpty())
            break;
    }
    if (!self)
        return; // the window is gone with the search
    m_trovato = found;
    m_searching = false;
    if (m_closed)
        return;
    if (m_trovato.isEmpty())
        m_ctx.prompt.show(tool + QStringLiteral("  NON TROVATO"), MsgStyle::Ok);
    else
        static_cast<void>(m_info->avvia(m_trovato)); // a failing start is not reported
}

void AboutWindow::done(int result)
{
    // A search still running stops at its next folder.
    m_closed = true;
    QDialog::done(result);
}

void AboutWindow::showEvent(QShowEvent* event)
{
    if (!m_placed) {
        m_placed = true;
        // Middle of the plain screen.
        adjustSize();
        const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
        if (s) {
            const QRect g = s->geometry();
            move(g.left() + (g.width() - width()) / 2, g.top() + (g.height() - height()) / 2);
        }
    }
    m_closed = false;
    QDialog::showEvent(event);
}

} // namespace mirsalex
