#pragma once

#include "config/Context.h"

#include <functional>
#include <memory>
#include <QDialog>
#include <QUrl>

class QLabel;
class QListWidget;
class QPushButton;

namespace mirsalex {

class SystemInfo;

// The About box ("InfDoran", caption "Informazioni su DORAN"): the maker of
// the product with its address, telephone numbers, e-mail and web address
// and a legal notice; the two addresses are links (underlined and bold while
// the pointer is inside their inner area), "? &Sistema" starts the system
// information tool and "&OK" closes the window. Shown modally before the
// program ends when the start-up fails.
//
// Controls: Lb_adp_0..Lb_adp_2 (the name), lbIndirizzo, Lb_dati, Lb_cr,
// Label2 "E-mail:" with lbMail, Label3 "Sito:" with lbSito, Label1 (the
// symbol), Frame1, Line1, cmdInfoSys, Command1 and the hidden folder list
// dirHidden that the disk search walks.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    // Opens an address with the desktop's default handler (e-mail program,
    // browser); its result is ignored.
    using LinkOpener = std::function<bool(const QUrl& url)>;

    explicit AboutWindow(Context& ctx, QWidget* parent = nullptr);
    ~AboutWindow() override;

    // Replaces the registry and the program starter (tests); not owned.
    void setSystemInfo(SystemInfo* info);
    void setLinkOpener(LinkOpener opener) { m_openLink = std::move(opener); }

    // "? &Sistema": the registry first, then the disk search.
    void clickInfoSys();
    // The address of a link label as it is opened: "mailto:" + the e-mail
    // address, the web address with its scheme.
    static QUrl indirizzoDi(const QString& objectName, const QString& caption);

    // The path of the tool the last search found (empty when none).
    QString percorsoTrovato() const { return m_trovato; }
    bool ricercaInCorso() const { return m_searching; }

    QLabel* lbMail() const { return m_lbMail; }
    QLabel* lbSito() const { return m_lbSito; }
    // True when `pos` (label pixels) lies inside the inner area of a link
    // label: more than 30 twips from its left, top and bottom edges and more
    // than 50 from its right edge.
    static bool dentroAreaLink(const QLabel* label, const QPoint& pos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void setLinkLook(QLabel* label, bool highlighted);
    void openLink(QLabel* label);

    Context& m_ctx;
    std::unique_ptr<SystemInfo> m_ownInfo;
    SystemInfo* m_info = nullptr;
    LinkOpener m_openLink;
    QString m_trovato;
    bool m_searching = false;
    bool m_closed = false;
    bool m_placed = false;
    QLabel* m_lbMail = nullptr;
    QLabel* m_lbSito = nullptr;
    QListWidget* m_dirHidden = nullptr;
    QPushButton* m_cmdInfoSys = nullptr;
};

} // namespace mirsalex
