#include "gui/main/comms_config_window.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace quorna {
namespace {

// A group of radio buttons of which at most one is marked; none when mark is -1.
template <std::size_t N>
QGroupBox* radioGroup(QWidget* owner, const QString& title, const std::array<const char*, N>& texts,
                      const char* namePrefix, std::array<QRadioButton*, N>& buttons, int mark) {
    auto* box = new QGroupBox(title);
    auto* column = new QVBoxLayout(box);
    auto* group = new QButtonGroup(owner);
    for (std::size_t i = 0; i < N; ++i) {
        buttons[i] = new QRadioButton(QString::fromLatin1(texts[i]));
        buttons[i]->setObjectName(QString::fromLatin1(namePrefix) + QString::number(i));
        group->addButton(buttons[i], static_cast<int>(i));
        column->addWidget(buttons[i]);
    }
    column->addStretch();
    if (mark >= 0 && mark < static_cast<int>(N)) buttons[static_cast<std::size_t>(mark)]->setChecked(true);
    return box;
}

QPushButton* sideButton(const char* text, const char* name) {
    auto* button = new QPushButton(QString::fromLatin1(text));
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QToolButton* arrowButton(Qt::ArrowType arrow, const char* name) {
    auto* button = new QToolButton;
    button->setArrowType(arrow);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoRepeat(true);
    button->setFixedSize(18, 12);
    return button;
}

}  // namespace

CommsConfigWindow::CommsConfigWindow(CommsConfigDialog& logic, QWidget* parent) : QDialog(parent), m_logic(logic) {
    setWindowTitle(QStringLiteral("Configuration"));

    m_port = new QLineEdit;
    m_port->setObjectName(QStringLiteral("serialPort"));
    m_port->setAccessibleName(QStringLiteral("Serial Port"));
    m_port->setReadOnly(true);
    m_port->setMinimumWidth(90);  // a gateway's address is longer than "COM1:"
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(QStringLiteral("Serial Port:")));
    portRow->addWidget(m_port);
    portRow->addStretch();

    std::array<const char*, 4> portTexts{"COM1", "COM2", "COM3", "COM4"};
    auto* portGroup = radioGroup(this, QStringLiteral("Port"), portTexts, "port", m_portButtons, m_logic.markedPort());
    auto* speedGroup =
        radioGroup(this, QStringLiteral("Speed"), kSpeedButtonTexts, "speed", m_speedButtons, m_logic.markedSpeed());
    auto* parityGroup =
        radioGroup(this, QStringLiteral("Parity"), kParityButtonTexts, "parity", m_parityButtons, m_logic.markedParity());

    auto* depthGroup = new QGroupBox(QStringLiteral("Scan Depth"));
    m_depth = new QLineEdit;
    m_depth->setObjectName(QStringLiteral("scanDepth"));
    m_depth->setReadOnly(true);
    m_depth->setMaxLength(11);
    m_depth->setMinimumWidth(90);
    auto* up = arrowButton(Qt::UpArrow, "depthUp");
    auto* down = arrowButton(Qt::DownArrow, "depthDown");
    auto* arrows = new QVBoxLayout;
    arrows->setSpacing(0);
    arrows->addWidget(up);
    arrows->addWidget(down);
    auto* depthRow = new QHBoxLayout;
    depthRow->setSpacing(0);
    depthRow->addWidget(m_depth);
    depthRow->addLayout(arrows);
    auto* depthColumn = new QVBoxLayout(depthGroup);
    depthColumn->addLayout(depthRow);
    depthColumn->addStretch();

    auto* groups = new QHBoxLayout;
    groups->addWidget(portGroup);
    groups->addWidget(speedGroup);
    groups->addWidget(parityGroup);
    groups->addWidget(depthGroup);

    auto* left = new QVBoxLayout;
    left->addLayout(portRow);
    left->addLayout(groups);

    auto* ok = sideButton("OK", "ok");
    ok->setDefault(true);
    auto* save = sideButton("Save", "save");
    auto* cancel = sideButton("Cancel", "cancel");
    auto* help = sideButton("Help", "help");
    auto* right = new QVBoxLayout;
    right->addWidget(ok);
    right->addWidget(save);
    right->addWidget(cancel);
    right->addWidget(help);
    right->addStretch();

    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addLayout(right);

    m_port->setWhatsThis(QStringLiteral("The port in use: a serial port, or an Ethernet gateway (tcp://HOST:PORT for Modbus TCP, "
                                      "rtu+tcp://HOST:PORT for RTU over TCP). A port button opens its port at once."));
    m_depth->setWhatsThis(QStringLiteral("The highest meter address the scan asks, 1 to 247."));

    for (std::size_t i = 0; i < m_portButtons.size(); ++i) {
        connect(m_portButtons[i], &QRadioButton::clicked, this, [this, i] {
            m_logic.clickPort(static_cast<int>(i));
            showTexts();
        });
    }
    for (std::size_t i = 0; i < m_speedButtons.size(); ++i) {
        connect(m_speedButtons[i], &QRadioButton::clicked, this, [this, i] { m_logic.clickSpeed(static_cast<int>(i)); });
    }
    for (std::size_t i = 0; i < m_parityButtons.size(); ++i) {
        connect(m_parityButtons[i], &QRadioButton::clicked, this, [this, i] { m_logic.clickParity(static_cast<int>(i)); });
    }
    connect(up, &QToolButton::clicked, this, [this] {
        m_logic.stepDepth(1);
        showTexts();
    });
    connect(down, &QToolButton::clicked, this, [this] {
        m_logic.stepDepth(-1);
        showTexts();
    });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(save, &QPushButton::clicked, this, [this] { (void)m_logic.save(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, &CommsConfigWindow::helpRequested);

    showTexts();
}

void CommsConfigWindow::showTexts() {
    m_port->setText(QString::fromStdString(m_logic.portText()));
    m_port->setToolTip(m_port->text());
    m_port->setCursorPosition(0);
    m_depth->setText(QString::fromStdString(m_logic.depthText()));
}

void CommsConfigWindow::done(int result) {
    if (result == QDialog::Accepted) {
        if (!m_logic.ok()) return;
    } else {
        m_logic.cancel();
    }
    QDialog::done(result);
}

}  // namespace quorna
