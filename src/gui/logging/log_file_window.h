#pragma once
// "Logging File Setup": the window over LogFileDialog. It only moves values between the
// controls and the logic.

#include <QDialog>
#include <QString>
#include <functional>

#include "forms/log_file_dialog.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace quorna {

class LogFileWindow : public QDialog {
    Q_OBJECT

public:
    explicit LogFileWindow(LogFileDialog& logic, QWidget* parent = nullptr);

    // How "Select Output File" asks for a name: the platform's save-file dialog unless a test
    // answers in its place. The chooser returns an empty name when the operator cancels.
    using FileChooser = std::function<QString(QWidget* parent)>;
    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

    // "OK" discards the records waiting for the file; "Cancel", Esc and the close box restore
    // path, flag and format.
    void done(int result) override;

signals:
    // "Help": whoever runs the window opens the help at its section.
    void helpRequested();

private:
    void loggingActiveClicked(bool checked);
    void selectOutputFile();
    void showSettings();

    LogFileDialog& m_logic;
    FileChooser m_chooser;
    QLineEdit* m_path = nullptr;
    QCheckBox* m_active = nullptr;
    QRadioButton* m_comma = nullptr;
    QRadioButton* m_tab = nullptr;
    QRadioButton* m_space = nullptr;
};

// The save-file dialog of "Select Output File": proposes "DATA", adds ".TXT" to a name without
// an extension, and offers comma-delimited, tab-delimited and all files.
QString chooseLogFile(QWidget* parent);

class AppShell;
// Binds command 32777 (Configuration, "Log File", Ctrl+L), which runs this dialog modally.
void installLogFileCommands(AppShell& shell);

}  // namespace quorna
