#pragma once
// "Save-to-Database Setup": the modeless window over DatabaseLinkDialog. Every action goes to the
// logic; the window then shows the logic's lists, selections and button states again.

#include <QDialog>

#include <functional>

#include "forms/database_link_dialog.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace quorna {

class AppShell;

class DatabaseLinkWindow : public QDialog {
    Q_OBJECT

public:
    DatabaseLinkWindow(AppShell& shell, DatabaseLinkDialog& logic, QWidget* parent);

    // Opens the window from the Off state; it stays hidden when ODBC cannot be had.
    void openWindow();

    QListWidget* dataSourceList() const { return m_dataSources; }
    QListWidget* tableList() const { return m_tables; }
    QListWidget* variableList() const { return m_variables; }
    QListWidget* mappingList() const { return m_mapping; }
    QLineEdit* userEdit() const { return m_user; }
    QLineEdit* passwordEdit() const { return m_password; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* helpButton() const { return m_help; }
    QPushButton* addTableButton() const { return m_addTable; }
    QPushButton* addColumnButton() const { return m_addColumn; }
    QPushButton* linkButton() const { return m_link; }
    QPushButton* unlinkButton() const { return m_unlink; }

    // "Cancel", Esc and the close box: database logging Off.
    void reject() override;

private:
    void accept() override;
    void addTable();
    // Runs a step of the logic that may wait on a data source, keeping the program running
    // meanwhile, then shows the logic again unless the window went meanwhile.
    void runLogic(const std::function<void()>& step);
    // Shows what the logic holds now.
    void showLogic();

    AppShell& m_shell;
    DatabaseLinkDialog& m_logic;
    QListWidget* m_dataSources = nullptr;
    QListWidget* m_tables = nullptr;
    QListWidget* m_variables = nullptr;
    QListWidget* m_mapping = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_help = nullptr;
    QPushButton* m_addTable = nullptr;
    QPushButton* m_addColumn = nullptr;
    QPushButton* m_link = nullptr;
    QPushButton* m_unlink = nullptr;
};

// The database command (32778): the "Database Setup" window while logging is Active, then the
// link window when logging is Off; nothing while the link window is already open.
void runDatabaseCommand(AppShell& shell);

}  // namespace quorna
