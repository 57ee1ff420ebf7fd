#pragma once
// Small pieces the two panel windows' Qt classes share.

#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <string>

#include "gui/main/meter_text.h"

namespace quorna::panel {

// A read-only, centred name field.
inline QLineEdit* nameField(const QString& objectName, const QString& accessibleName, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setAccessibleName(accessibleName);
    field->setReadOnly(true);
    field->setAlignment(Qt::AlignCenter);
    field->setFocusPolicy(Qt::NoFocus);
    field->setFixedWidth(60);
    return field;
}

// Buttons take the focus only by the keyboard, so that a click on one does not first run the
// focus-loss take of the edit the operator was in (the button's own action takes the fields).
inline QPushButton* button(const QString& text, const QString& objectName, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(objectName);
    b->setFocusPolicy(Qt::TabFocus);
    b->setAutoDefault(false);
    return b;
}

// The row of "OK" (the default), "Cancel" and "Help" at the foot of a panel window, right-aligned:
// OK runs the window's accept(), Cancel its reject(), Help its help().
template <class Window>
QHBoxLayout* buttonRow(Window* window) {
    auto* ok = button("OK", "okButton", window);
    ok->setDefault(true);
    auto* cancel = button("Cancel", "cancelButton", window);
    auto* help = button("Help", "helpButton", window);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    row->addWidget(help);
    QObject::connect(ok, &QPushButton::clicked, window, &Window::accept);
    QObject::connect(cancel, &QPushButton::clicked, window, &QDialog::reject);
    QObject::connect(help, &QPushButton::clicked, window, &Window::help);
    return row;
}

}  // namespace quorna::panel
