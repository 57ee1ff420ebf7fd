#pragma once
// "Database Setup": shows the data source and table being logged to. "New Database" closes it
// with Accepted (the caller then stops database logging and opens the link window).

#include <QDialog>

#include "settings/configuration.h"

class QLineEdit;
class QPushButton;

namespace quorna {

class DatabaseSetupWindow : public QDialog {
    Q_OBJECT

public:
    // Shows the data source and table of the settings.
    explicit DatabaseSetupWindow(const DatabaseSettings& settings, QWidget* parent = nullptr);

    QLineEdit* dataSourceEdit() const { return m_dsn; }
    QLineEdit* tableEdit() const { return m_table; }
    QPushButton* newDatabaseButton() const { return m_newDatabase; }

private:
    QLineEdit* m_dsn = nullptr;
    QLineEdit* m_table = nullptr;
    QPushButton* m_newDatabase = nullptr;
};

}  // namespace quorna
