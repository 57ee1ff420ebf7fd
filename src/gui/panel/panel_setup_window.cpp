#include "gui/panel/panel_setup_window.h"

#include <QGridLayout>
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

PanelSetupWindow::PanelSetupWindow(AppShell& shell, PanelSetupDialog& logic, QWidget* parent)
    : QDialog(parent), m_shell(shell), m_logic(logic) {
    setWindowTitle("Panel Configuration");
    setObjectName("PanelSetupDialog");
    m_watcher = new FocusTakeWatcher(this, [this] { takeFields(); });

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Breaker Ratings - ", this));
    m_firstName = panel::nameField("firstName", "Meter name", this);
    top->addWidget(m_firstName);
    top->addStretch();

    // Odd breakers on the left, even on the right, each edit after its number.
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(2);
    for (int k = 1; k <= kBreakerCount; ++k) {
        const int row = (k - 1) / 2;
        const int column = (k % 2 == 1) ? 0 : 2;
        auto* label = new QLabel(QString::number(k), this);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString("rating%1").arg(k));
        edit->setAccessibleName(QString("Breaker %1 rating").arg(k));
        edit->setFixedWidth(44);
        edit->setAlignment(Qt::AlignRight);
        grid->addWidget(label, row, column);
        grid->addWidget(edit, row, column + 1);
        m_ratings[static_cast<std::size_t>(k - 1)] = edit;
        m_watcher->watch(edit);
    }
    grid->setColumnMinimumWidth(2, 36);

    auto* globalGroup = new QGroupBox("Global Rating", this);
    auto* globalRow = new QHBoxLayout(globalGroup);
    auto* globalSet = panel::button("SET", "globalRatingSet", this);
    m_globalRating = new QLineEdit(this);
    m_globalRating->setObjectName("globalRating");
    m_globalRating->setFixedWidth(50);
    m_globalRating->setAlignment(Qt::AlignRight);
    m_watcher->watch(m_globalRating);
    globalRow->addWidget(globalSet);
    globalRow->addWidget(m_globalRating);
    globalRow->addWidget(new QLabel("Amps", this));
    globalRow->addStretch();

    auto* nameGroup = new QGroupBox("Panel Name", this);
    auto* nameRow = new QHBoxLayout(nameGroup);
    auto* nameSet = panel::button("SET", "panelNameSet", this);
    m_panelName = new QLineEdit(this);
    m_panelName->setObjectName("panelName");
    m_panelName->setMaxLength(kMeterNameLength);
    m_panelName->setFixedWidth(60);
    m_watcher->watch(m_panelName);
    nameRow->addWidget(nameSet);
    nameRow->addWidget(m_panelName);
    nameRow->addStretch();

    m_firmware = new QLabel(this);
    m_firmware->setObjectName("firmwareText");
    m_serial = new QLabel(this);
    m_serial->setObjectName("serialText");

    QHBoxLayout* buttons = panel::buttonRow(this);

    auto* side = new QVBoxLayout;
    side->addWidget(globalGroup);
    side->addWidget(nameGroup);
    side->addSpacing(8);
    side->addWidget(m_firmware);
    side->addWidget(m_serial);
    side->addStretch();
    side->addLayout(buttons);

    auto* middle = new QHBoxLayout;
    middle->addLayout(grid);
    middle->addSpacing(16);
    middle->addLayout(side);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle);

    connect(globalSet, &QPushButton::clicked, this, &PanelSetupWindow::setGlobalRating);
    connect(nameSet, &QPushButton::clicked, this, &PanelSetupWindow::setPanelName);

    push();
    m_ratings[0]->setFocus(Qt::OtherFocusReason);
}

void PanelSetupWindow::pull() {
    auto& texts = m_logic.texts;
    for (std::size_t i = 0; i < m_ratings.size(); ++i) texts.rating[i] = fromQt(m_ratings[i]->text());
    texts.globalRating = fromQt(m_globalRating->text());
    texts.firstName = fromQt(m_firstName->text());
    texts.panelName = fromQt(m_panelName->text());
    texts.firmwareText = fromQt(m_firmware->text());
    texts.serialText = fromQt(m_serial->text());
}

void PanelSetupWindow::push() {
    const auto& texts = m_logic.texts;
    for (std::size_t i = 0; i < m_ratings.size(); ++i) m_ratings[i]->setText(toQt(texts.rating[i]));
    m_globalRating->setText(toQt(texts.globalRating));
    m_firstName->setText(toQt(texts.firstName));
    m_panelName->setText(toQt(texts.panelName));
    m_firmware->setText(toQt(texts.firmwareText));
    m_serial->setText(toQt(texts.serialText));
}

QWidget* PanelSetupWindow::fieldEdit(int field) const {
    if (field >= 0 && field < kBreakerCount) return m_ratings[static_cast<std::size_t>(field)];
    if (field == PanelSetupDialog::kGlobalRatingField) return m_globalRating;
    if (field == PanelSetupDialog::kPanelNameField) return m_panelName;
    return nullptr;
}

void PanelSetupWindow::focusField(std::optional<int> field) {
    if (!field) return;
    if (QWidget* edit = fieldEdit(*field)) m_watcher->giveFocus(edit);
}

void PanelSetupWindow::takeFields() {
    pull();
    focusField(m_logic.takeFields());
}

void PanelSetupWindow::setGlobalRating() {
    pull();
    const std::optional<int> failed = m_logic.setGlobalRating();
    push();
    focusField(failed);
}

void PanelSetupWindow::setPanelName() {
    pull();
    const std::optional<int> failed = m_logic.setPanelName();
    push();
    focusField(failed);
}

void PanelSetupWindow::help() { m_shell.showHelpAt(QString::fromLatin1(help::kPanelSetup)); }

void PanelSetupWindow::accept() {
    pull();
    const std::optional<int> failed = m_logic.accept();
    if (!failed) {
        QDialog::accept();
    } else {
        focusField(failed);
    }
}

}  // namespace quorna
