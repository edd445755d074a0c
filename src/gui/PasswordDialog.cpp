#include "gui/PasswordDialog.h"

#include "common/Helpers.h"
#include "common/Prompt.h"
#include "gui/WindowHelpers.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProxyStyle>
#include <QVBoxLayout>

namespace mirsalex {

namespace {

// Shows every character of a password field as "&".
class AmpersandStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '&';
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

constexpr int kMaxLength = 12;
constexpr int kHeightTwips = 1400;

bool leavesField(Qt::FocusReason reason)
{
    // Another application or a box of this one taking over is not leaving.
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
           reason != Qt::MenuBarFocusReason;
}

} // namespace

PasswordDialog::PasswordDialog(Prompt& prompt, std::function<bool(const QString&)> verify, QWidget* parent)
    : QDialog(parent), m_prompt(prompt), m_verify(std::move(verify))
{
    setObjectName(QStringLiteral("GesPasWd"));
    setWindowTitle(QStringLiteral("RICHIESTA DELLA PASSWORD"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    m_frame = new QGroupBox(QStringLiteral("PassWord"), this);
    m_frame->setObjectName(QStringLiteral("Frame1_0"));
    m_txtPasswd = new QLineEdit(m_frame);
    m_txtPasswd->setObjectName(QStringLiteral("txtPasswd_0"));
    auto* style = new AmpersandStyle();
    style->setParent(this);
    m_txtPasswd->setStyle(style);
    m_txtPasswd->setEchoMode(QLineEdit::Password);
    m_txtPasswd->setMaxLength(kMaxLength);
    m_txtPasswd->setContextMenuPolicy(Qt::NoContextMenu);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPointSize(font().pointSize() + 2);
    m_txtPasswd->setFont(mono);
    m_txtPasswd->setMinimumWidth(m_txtPasswd->fontMetrics().horizontalAdvance(QLatin1Char('&')) *
                                 (kMaxLength + 3));
    m_txtPasswd->installEventFilter(this);

    auto* frameLayout = new QVBoxLayout(m_frame);
    frameLayout->addWidget(m_txtPasswd);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_frame);

    // The focus goes here when the user leaves the password field, so that
    // leaving it is what checks it; it lies below the visible part.
    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setReadOnly(true);
    const int tpp = TwipsPerPixel();
    m_text1->setFixedSize(qMax(1, 195 / tpp), qMax(1, 285 / tpp));

    const int height = qMax(kHeightTwips / tpp, sizeHint().height());
    setFixedHeight(height);
    resize(qMax(sizeHint().width(), 320), height);
    m_text1->move(0, height + 40);
    setTabOrder(m_txtPasswd, m_text1);
}

void PasswordDialog::showEvent(QShowEvent* event)
{
    if (!m_placed) {
        m_placed = true;
        CentraForm(this);
        m_tentativi = 0;
        m_txtPasswd->clear();
        m_txtPasswd->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
}

bool PasswordDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_txtPasswd) {
        switch (event->type()) {
        case QEvent::FocusIn:
            // Every attempt starts from an empty field.
            m_txtPasswd->clear();
            break;
        case QEvent::FocusOut:
            if (leavesField(static_cast<QFocusEvent*>(event)->reason()) && isVisible() && !m_finished)
                check();
            break;
        case QEvent::KeyPress: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                // Enter types nothing and moves the focus on, which checks the field.
                focusNextChild();
                return true;
            }
            break;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PasswordDialog::check()
{
    if (m_checking)
        return;
    m_checking = true;
    // Only a-z become upper case, as everywhere in the program: a full
    // Unicode mapping would let other characters turn into letters (the
    // German sharp s into "SS").
    QString typed = m_txtPasswd->text();
    for (QChar& c : typed)
        c = QChar(char16_t(TastoMaiuscolo(c.unicode())));
    if (m_verify && m_verify(typed)) {
        m_accepted = typed;
        m_finished = true;
        m_checking = false;
        accept();
        return;
    }
    m_prompt.show(QStringLiteral("PASSWORD ERRATA"), MsgStyle::Ok);
    if (m_tentativi >= 2) {
        m_finished = true;
        m_checking = false;
        reject();
        return;
    }
    ++m_tentativi;
    m_txtPasswd->clear();
    m_txtPasswd->setFocus(Qt::OtherFocusReason);
    m_checking = false;
}

} // namespace mirsalex
