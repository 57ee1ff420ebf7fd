#include "gui/panel/panel_config_window.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/main/app_shell.h"
#include "gui/main/help_anchors.h"
#include "forms/field_validation.h"
#include "gui/panel/focus_take_watcher.h"
#include "gui/panel/panel_common.h"

namespace quorna {
namespace {

// A meter enable box: a click asks the window, which decides the box's next state.
class EnableBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

Qt::CheckState toQtState(BoxState state) {
    switch (state) {
    case BoxState::Checked: return Qt::Checked;
    case BoxState::Indeterminate: return Qt::PartiallyChecked;
    case BoxState::Unchecked: break;
    }
    return Qt::Unchecked;
}

// A group with a "SET" button followed by one edit.
QGroupBox* setGroup(const QString& title, QPushButton* set, QLineEdit* edit, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    auto* row = new QHBoxLayout(group);
    row->addWidget(set);
    row->addWidget(edit);
    row->addStretch();
    return group;
}

}  // namespace

PanelConfigWindow::PanelConfigWindow(AppShell& shell, PanelConfigDialog& logic, QWidget* parent)
    : QDialog(parent), m_shell(shell), m_logic(logic) {
    setWindowTitle("Panel Configuration");
    setObjectName("PanelConfigDialog");
    m_watcher = new FocusTakeWatcher(this, [this] { takeFields(); });

    m_secondName = panel::nameField("secondName", "Second meter name", this);
    m_firstName = panel::nameField("firstName", "First meter name", this);
    m_firmware = new QLabel(this);
    m_firmware->setObjectName("firmwareText");
    m_serial = new QLabel(this);
    m_serial->setObjectName("serialText");
    auto* lines = new QVBoxLayout;
    lines->addWidget(m_firmware);
    lines->addWidget(m_serial);
    auto* top = new QHBoxLayout;
    top->addWidget(m_secondName);
    top->addWidget(m_firstName);
    top->addSpacing(24);
    top->addLayout(lines);
    top->addStretch();

    const auto edit = [this](const QString& name, int width, int maxLength) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setFixedWidth(width);
        if (maxLength > 0) e->setMaxLength(maxLength);
        m_watcher->watch(e);
        return e;
    };
    m_boardName = edit("boardName", 60, kMeterNameLength);
    m_boardNameSet = panel::button("SET", "boardNameSet", this);
    m_panelName = edit("panelName", 60, kMeterNameLength);
    auto* panelNameSet = panel::button("SET", "panelNameSet", this);
    m_ctSize = edit("ctSize", 60, 0);
    m_ctSize->setAlignment(Qt::AlignRight);
    auto* ctSizeSet = panel::button("SET", "ctSizeSet", this);

    auto* enableGroup = new QGroupBox("Meter Enable", this);
    auto* enableRow = new QHBoxLayout(enableGroup);
    for (int box = 1; box <= kMeterEnableBoxCount; ++box) {
        auto* check = new EnableBox(QString::number(box), this);
        check->setObjectName(QString("meterEnable%1").arg(box));
        check->setTristate(true);
        check->setFocusPolicy(Qt::TabFocus);
        connect(check, &QCheckBox::clicked, this, [this, box] { clickBox(box); });
        enableRow->addWidget(check);
        m_boxes[static_cast<std::size_t>(box - 1)] = check;
    }
    m_meterEnableSet = panel::button("SET", "meterEnableSet", this);
    enableRow->addSpacing(8);
    enableRow->addWidget(m_meterEnableSet);

    QHBoxLayout* buttons = panel::buttonRow(this);

    auto* groups = new QHBoxLayout;
    groups->addWidget(setGroup("Board Name", m_boardNameSet, m_boardName, this));
    groups->addWidget(setGroup("Panel Name", panelNameSet, m_panelName, this));
    groups->addWidget(setGroup("CT Size", ctSizeSet, m_ctSize, this));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(groups);
    layout->addWidget(enableGroup);
    layout->addLayout(buttons);

    connect(m_boardNameSet, &QPushButton::clicked, this, &PanelConfigWindow::setBoardName);
    connect(panelNameSet, &QPushButton::clicked, this, &PanelConfigWindow::setPanelName);
    connect(ctSizeSet, &QPushButton::clicked, this, &PanelConfigWindow::setCtSize);
    connect(m_meterEnableSet, &QPushButton::clicked, this, &PanelConfigWindow::setMeterEnable);

    push();
    (m_boardName->isEnabled() ? m_boardName : m_panelName)->setFocus(Qt::OtherFocusReason);
}

void PanelConfigWindow::pull() {
    auto& texts = m_logic.texts;
    texts.firstName = fromQt(m_firstName->text());
    texts.secondName = fromQt(m_secondName->text());
    texts.panelName = fromQt(m_panelName->text());
    texts.boardName = fromQt(m_boardName->text());
    texts.ctSize = fromQt(m_ctSize->text());
    texts.firmwareText = fromQt(m_firmware->text());
    texts.serialText = fromQt(m_serial->text());
}

void PanelConfigWindow::push() {
    const auto& texts = m_logic.texts;
    m_firstName->setText(toQt(texts.firstName));
    m_secondName->setText(toQt(texts.secondName));
    m_panelName->setText(toQt(texts.panelName));
    m_boardName->setText(toQt(texts.boardName));
    m_ctSize->setText(toQt(texts.ctSize));
    m_firmware->setText(toQt(texts.firmwareText));
    m_serial->setText(toQt(texts.serialText));
    pushBoxes();
}

void PanelConfigWindow::pushBoxes() {
    for (std::size_t i = 0; i < m_boxes.size(); ++i) m_boxes[i]->setCheckState(toQtState(m_logic.boxes()[i]));
    // A locked meter selection: neither the enables nor the board name can be changed here.
    const bool locked = m_logic.meterSelectionLocked();
    m_meterEnableSet->setVisible(!locked);
    m_boardNameSet->setVisible(!locked);
    m_boardName->setEnabled(!locked);
}

void PanelConfigWindow::focusField(std::optional<int> field) {
    if (!field) return;
    QWidget* edit = nullptr;
    switch (*field) {
    case PanelConfigDialog::kBoardNameField: edit = m_boardName; break;
    case PanelConfigDialog::kPanelNameField: edit = m_panelName; break;
    case PanelConfigDialog::kCtSizeField: edit = m_ctSize; break;
    default: break;
    }
    if (edit != nullptr) m_watcher->giveFocus(edit);
}

void PanelConfigWindow::after(std::optional<int> failedField) {
    push();
    focusField(failedField);
}

void PanelConfigWindow::takeFields() {
    pull();
    focusField(m_logic.takeFields());
}

void PanelConfigWindow::setBoardName() {
    pull();
    after(m_logic.setBoardName());
}

void PanelConfigWindow::setPanelName() {
    pull();
    after(m_logic.setPanelName());
}

void PanelConfigWindow::setCtSize() {
    pull();
    after(m_logic.setCtSize());
}

void PanelConfigWindow::setMeterEnable() {
    pull();
    after(m_logic.setMeterEnable());
}

void PanelConfigWindow::clickBox(int box) {
    m_logic.clickBox(box);
    pushBoxes();  // the edits keep what the operator typed
}

void PanelConfigWindow::help() { m_shell.showHelpAt(QString::fromLatin1(help::kPanelConfig)); }

void PanelConfigWindow::accept() {
    pull();
    const std::optional<int> failed = m_logic.accept();
    if (!failed) {
        QDialog::accept();
    } else {
        focusField(failed);
    }
}

}  // namespace quorna
