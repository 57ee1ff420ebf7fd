#pragma once
// A Circuit meter's "Panel Configuration" window: moves texts and box states between its
// controls and PanelConfigDialog, which decides what is read, validated and written.

#include <QDialog>
#include <optional>
#include <array>

#include "forms/panel/panel_config_dialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quorna {

class AppShell;
class FocusTakeWatcher;

class PanelConfigWindow : public QDialog {
    Q_OBJECT
public:
    // The logic must have been opened (PanelConfigDialog::open) for the selected meter.
    PanelConfigWindow(AppShell& shell, PanelConfigDialog& logic, QWidget* parent);

public slots:
    void setBoardName();
    void setPanelName();
    void setCtSize();
    void setMeterEnable();
    void clickBox(int box);  // 1 to 8
    void help();
    void accept() override;
    void takeFields();

private:
    void pull();
    void push();
    void pushBoxes();  // box states and the controls a locked selection hides
    // Gives the focus to the edit of a field that failed its take; nothing when none failed.
    void focusField(std::optional<int> field);
    void after(std::optional<int> failedField);

    AppShell& m_shell;
    PanelConfigDialog& m_logic;
    FocusTakeWatcher* m_watcher;
    QLineEdit* m_secondName;
    QLineEdit* m_firstName;
    QLabel* m_firmware;
    QLabel* m_serial;
    QLineEdit* m_boardName;
    QPushButton* m_boardNameSet;
    QLineEdit* m_panelName;
    QLineEdit* m_ctSize;
    std::array<QCheckBox*, kMeterEnableBoxCount> m_boxes{};
    QPushButton* m_meterEnableSet;
};

}  // namespace quorna
