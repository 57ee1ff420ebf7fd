#pragma once
// The Branch meter's "Panel Configuration" window: moves texts between its controls and
// PanelSetupDialog, which decides what is read, validated and written.

#include <QDialog>
#include <optional>
#include <array>

#include "forms/panel/panel_setup_dialog.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace quorna {

class AppShell;
class FocusTakeWatcher;

class PanelSetupWindow : public QDialog {
    Q_OBJECT
public:
    // The logic must have been opened (PanelSetupDialog::open) for the selected meter.
    PanelSetupWindow(AppShell& shell, PanelSetupDialog& logic, QWidget* parent);

public slots:
    void setGlobalRating();
    void setPanelName();
    void help();
    // "OK": writes the changed ratings and closes, or shows the failing field.
    void accept() override;
    // Takes the fields after an edit lost the focus.
    void takeFields();

private:
    void pull();
    void push();
    // Gives the focus to the edit of a field that failed its take; nothing when none failed.
    void focusField(std::optional<int> field);
    QWidget* fieldEdit(int field) const;

    AppShell& m_shell;
    PanelSetupDialog& m_logic;
    FocusTakeWatcher* m_watcher;
    QLineEdit* m_firstName;
    std::array<QLineEdit*, kBreakerCount> m_ratings{};
    QLineEdit* m_globalRating;
    QLineEdit* m_panelName;
    QLabel* m_firmware;
    QLabel* m_serial;
};

}  // namespace quorna
