#include "gui/logging/add_table_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quorna {

AddTableWindow::AddTableWindow(Operator& op, QWidget* parent) : QDialog(parent), m_op(op) {
    setWindowTitle(QStringLiteral("Add Database Table"));
    auto* layout = new QVBoxLayout(this);

    auto* explanation = new QLabel(QString::fromUtf8(kAddTableExplanation), this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);

    auto* form = new QFormLayout;
    m_name = new QLineEdit(this);
    m_name->setMaxLength(static_cast<int>(kNewTableNameCapacity));
    form->addRow(QStringLiteral("New Table Name"), m_name);
    layout->addLayout(form);

    m_all = new QRadioButton(QStringLiteral("Include columns for all variables"), this);
    m_minimal = new QRadioButton(QStringLiteral("Include only a minimal set of columns"), this);
    m_all->setChecked(true);
    layout->addWidget(m_all);
    layout->addWidget(m_minimal);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddTableWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AddTableWindow::reject);
    layout->addWidget(buttons);
    m_name->setFocus();
}

std::string AddTableWindow::tableName() const { return m_name->text().toStdString(); }

TableColumns AddTableWindow::columns() const {
    return m_minimal->isChecked() ? TableColumns::MinimalSet : TableColumns::AllVariables;
}

void AddTableWindow::accept() {
    if (!acceptNewTableName(tableName(), m_op)) {
        m_name->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace quorna
