#include "gui/alarms/alarm_window.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "gui/main/app_shell.h"
#include "gui/main/command_ids.h"

namespace quorna {

AlarmWindow::AlarmWindow(AppShell& shell, const QString& title, const char* helpAnchor)
    : QDialog(shell.mainWindow()), m_shell(shell) {
    setWindowTitle(title);
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_help = new QPushButton(QStringLiteral("Help"), this);
    m_ok->setDefault(true);
    m_cancel->setAutoDefault(false);
    m_help->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &AlarmWindow::onOk);
    connect(m_cancel, &QPushButton::clicked, this, &AlarmWindow::reject);
    connect(m_help, &QPushButton::clicked, this,
            [this, helpAnchor] { m_shell.showHelpAt(QString::fromLatin1(helpAnchor)); });
}

AlarmWindow::~AlarmWindow() {
    // Destroyed with its parent while still open: the mark must not outlive the window.
    closeLogic();
}

void AlarmWindow::closeLogic() {
    if (m_closed) return;
    m_closed = true;
    if (m_cancelLogic) m_cancelLogic();
}

QHBoxLayout* AlarmWindow::buttonRow() {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_ok);
    row->addWidget(m_cancel);
    row->addWidget(m_help);
    return row;
}

void AlarmWindow::watchFocus(QLineEdit* edit) { edit->installEventFilter(this); }

bool AlarmWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !m_taking && !m_closed) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        QWidget* next = QApplication::focusWidget();
        // Leaving for another window (or a box) is no change of field; leaving for "Cancel"
        // must not hold the operator in a field that is about to be thrown away.
        const bool staysInWindow = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
        if (staysInWindow && next != m_cancel && (next == nullptr || isAncestorOf(next))) {
            // The take (and its message box) runs once the focus change has finished.
            m_takePending = true;
            QTimer::singleShot(0, this, &AlarmWindow::queuedTake);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AlarmWindow::queuedTake() {
    if (!m_takePending || m_closed) return;
    (void)takeFromWindow();
}

bool AlarmWindow::takeFromWindow() {
    m_takePending = false;
    m_taking = true;
    const std::optional<int> failed = takeFields();
    focusField(failed);
    m_taking = false;
    return !failed;
}

void AlarmWindow::focusField(std::optional<int> field) {
    if (!field) return;
    const bool wasTaking = m_taking;
    m_taking = true;
    if (QLineEdit* edit = editOfField(*field)) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
    m_taking = wasTaking;
}

void AlarmWindow::onOk() {
    if (!takeFromWindow()) return;
    if (const std::optional<int> refused = writeChanges()) {
        focusField(refused);
        return;
    }
    m_closed = true;
    QDialog::accept();
}

void AlarmWindow::reject() {
    m_takePending = false;
    closeLogic();
    QDialog::reject();
}

}  // namespace quorna
