#pragma once

#include <QDialog>

namespace mirsalex {

// The About box ("InfDoran"): maker, product name and version; closed with
// "&OK". Shown before the program ends when the start-up fails.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool m_placed = false;
};

} // namespace mirsalex
