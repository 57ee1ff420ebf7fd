#pragma once
// "Add Database Table": asks for the new table's name and its column set. Closes with OK only for
// a name the table rules accept; the table itself is made by the link window.

#include <QDialog>

#include "core/operator.h"
#include <string>

#include "forms/add_table.h"

class QLineEdit;
class QRadioButton;

namespace quorna {

class AddTableWindow : public QDialog {
    Q_OBJECT

public:
    explicit AddTableWindow(Operator& op, QWidget* parent = nullptr);

    [[nodiscard]] std::string tableName() const;
    [[nodiscard]] TableColumns columns() const;

    QLineEdit* nameEdit() const { return m_name; }
    QRadioButton* allColumnsButton() const { return m_all; }
    QRadioButton* minimalColumnsButton() const { return m_minimal; }

    // "OK": keeps the window open, with the name's edit focused, while the name is refused.
    void accept() override;

private:
    Operator& m_op;  // told why a name is refused
    QLineEdit* m_name = nullptr;
    QRadioButton* m_all = nullptr;
    QRadioButton* m_minimal = nullptr;
};

}  // namespace quorna
