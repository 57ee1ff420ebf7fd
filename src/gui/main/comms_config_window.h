#pragma once
// "Configuration": the window over CommsConfigDialog. It only moves values between the controls
// and the logic. The location and interval controls are not shown; the logic keeps both values.

#include <QDialog>
#include <array>

#include "forms/comms_config_dialog.h"

class QLineEdit;
class QRadioButton;

namespace quorna {

class CommsConfigWindow : public QDialog {
    Q_OBJECT

public:
    explicit CommsConfigWindow(CommsConfigDialog& logic, QWidget* parent = nullptr);

    // "OK" closes only when the logic accepts; "Cancel", Esc and the close box restore the saved copies.
    void done(int result) override;

    [[nodiscard]] CommsConfigDialog& logic() { return m_logic; }

signals:
    // "Help": whoever runs the window opens the help at its section.
    void helpRequested();

private:
    void showTexts();

    CommsConfigDialog& m_logic;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_depth = nullptr;
    std::array<QRadioButton*, 4> m_portButtons{};
    std::array<QRadioButton*, 4> m_speedButtons{};
    std::array<QRadioButton*, 3> m_parityButtons{};
};

}  // namespace quorna
