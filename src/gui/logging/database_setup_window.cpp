#include "gui/logging/database_setup_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/configuration.h"

namespace quorna {

DatabaseSetupWindow::DatabaseSetupWindow(const DatabaseSettings& settings, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Database Setup"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Data is currently being logged to:"), this));

    auto* form = new QFormLayout;
    m_dsn = new QLineEdit(QString::fromStdString(settings.dsn), this);
    m_dsn->setReadOnly(true);
    m_table = new QLineEdit(QString::fromStdString(settings.table), this);
    m_table->setReadOnly(true);
    form->addRow(QStringLiteral("Database (DSN)"), m_dsn);
    form->addRow(QStringLiteral("Table"), m_table);
    layout->addLayout(form);

    auto* note = new QLabel(QStringLiteral("Selecting \"New Database\" will stop logging to this database and "
                                           "allow a new database/table to be used."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* buttons = new QDialogButtonBox(this);
    m_newDatabase = buttons->addButton(QStringLiteral("New Database"), QDialogButtonBox::AcceptRole);
    m_newDatabase->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

}  // namespace quorna
