#include "gui/bus/protocol_trace_window.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "forms/protocol_trace_dialog.h"

namespace quorna {
namespace {

QLineEdit* counterField(const char* name, const QString& accessibleName) {
    auto* field = new QLineEdit;
    field->setObjectName(QString::fromLatin1(name));
    field->setAccessibleName(accessibleName);
    field->setReadOnly(true);
    return field;
}

}  // namespace

ProtocolTraceWindow::ProtocolTraceWindow(ProtocolTraceDialog& logic, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      m_logic(logic) {
    setWindowTitle(QStringLiteral("Modbus Protocol Communication"));
    setModal(false);

    m_pane = new QLabel;
    m_pane->setObjectName(QStringLiteral("pane"));
    m_pane->setAccessibleName(QStringLiteral("Protocol trace"));
    m_pane->setTextFormat(Qt::PlainText);
    m_pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pane->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pane->setWordWrap(true);
    m_pane->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_pane->setMinimumSize(560, 220);
    m_pane->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    m_good = counterField("good", QStringLiteral("Ok reads"));
    m_bad = counterField("bad", QStringLiteral("Bad reads"));
    m_lastError = counterField("lastError", QStringLiteral("Last error"));
    m_lastError->setMinimumWidth(300);

    auto* freeze = new QPushButton(QStringLiteral("Freeze"));
    freeze->setObjectName(QStringLiteral("freeze"));
    freeze->setAutoDefault(false);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("Ok")), 0, 0);
    fields->addWidget(m_good, 0, 1);
    fields->addWidget(new QLabel(QStringLiteral("Bad")), 1, 0);
    fields->addWidget(m_bad, 1, 1);
    fields->addWidget(new QLabel(QStringLiteral("Last\nErr")), 0, 2, 2, 1);
    fields->addWidget(m_lastError, 0, 3, 2, 1, Qt::AlignVCenter);

    auto* bottom = new QHBoxLayout;
    bottom->addLayout(fields);
    bottom->addStretch();
    bottom->addWidget(freeze);
    bottom->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pane, 1);
    layout->addLayout(bottom);

    connect(freeze, &QPushButton::clicked, this, [this] { m_logic.toggleFreeze(); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    refresh();
}

ProtocolTraceWindow::~ProtocolTraceWindow() {
    // Destroyed with its parent while still open: the master must not refresh it any more.
    if (m_logic.isOpen()) m_logic.close();
}

void ProtocolTraceWindow::refresh() {
    const TraceView view = m_logic.view();
    m_pane->setText(QString::fromStdString(view.pane));
    // A screen reader names the pane and reads the exchanges as its description.
    m_pane->setAccessibleDescription(m_pane->text());
    m_good->setText(QString::fromStdString(view.goodReads));
    m_bad->setText(QString::fromStdString(view.badReads));
    m_lastError->setText(QString::fromStdString(view.lastError));
}

void ProtocolTraceWindow::refreshLater() {
    if (m_refreshPending) return;
    m_refreshPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_refreshPending = false;
            refresh();
        },
        Qt::QueuedConnection);
}

void ProtocolTraceWindow::done(int result) {
    m_logic.close();
    QDialog::done(result);
    deleteLater();
}

void ProtocolTraceWindow::showEvent(QShowEvent* event) {
    refresh();
    QDialog::showEvent(event);
}

void ProtocolTraceWindow::resizeEvent(QResizeEvent* event) {
    refresh();
    QDialog::resizeEvent(event);
}

void openProtocolTraceWindow(ProtocolTraceDialog& logic, QWidget* parent) {
    if (!logic.open()) return;
    auto* window = new ProtocolTraceWindow(logic, parent);
    window->show();
}

void repaintTraceWindow(QWidget* parent) {
    ProtocolTraceWindow* window = protocolTraceWindow(parent);
    if (window == nullptr || !window->isVisible()) return;
    window->refresh();
    window->repaint();
    // The caller of an exchange counts it (good, bad, last error) only after this returns, so
    // the window looks again once the tick or command is over; otherwise its counters would
    // stay one exchange behind until the next one.
    window->refreshLater();
}

ProtocolTraceWindow* protocolTraceWindow(QWidget* parent) {
    // A window being closed has handed its logic back already; it waits only for its deletion.
    for (auto* window : parent->findChildren<ProtocolTraceWindow*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (window->m_logic.isOpen()) return window;
    }
    return nullptr;
}

}  // namespace quorna
