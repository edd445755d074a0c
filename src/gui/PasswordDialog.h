#pragma once

#include <functional>
#include <QDialog>

class QGroupBox;
class QLineEdit;

namespace mirsalex {

class Prompt;

// The password request ("GesPasWd"): one field showing "&" for every typed
// character, at most 12 characters, checked when the user leaves it (Enter,
// Tab or a click elsewhere). The dialog is accepted on the right password;
// the third wrong one, or closing the dialog, rejects it and the program
// ends.
class PasswordDialog : public QDialog
{
    Q_OBJECT
public:
    // `verify` receives the typed text upper-cased.
    PasswordDialog(Prompt& prompt, std::function<bool(const QString&)> verify, QWidget* parent = nullptr);

    QLineEdit* field() const { return m_txtPasswd; }
    int attempts() const { return m_tentativi; }
    // The accepted text (upper-cased), empty until then.
    QString acceptedPassword() const { return m_accepted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void check();

    Prompt& m_prompt;
    std::function<bool(const QString&)> m_verify;
    QGroupBox* m_frame = nullptr;
    QLineEdit* m_txtPasswd = nullptr;
    QLineEdit* m_text1 = nullptr;
    quint8 m_tentativi = 0;
    bool m_checking = false;
    bool m_placed = false;
    bool m_finished = false;
    QString m_accepted;
};

} // namespace mirsalex
