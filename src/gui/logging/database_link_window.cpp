#include "gui/logging/database_link_window.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTextOption>
#include <QVBoxLayout>

#include "gui/main/app_shell.h"
#include "gui/main/dialog_units.h"
#include "gui/main/help_anchors.h"
#include "station/station.h"
#include "gui/logging/add_table_window.h"
#include "forms/database_link_dialog.h"
#include "gui/logging/database_setup_window.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

// Tab stops of the mapping list, in dialog units: variable, arrow, column.
constexpr int kFirstTabStop = 54;
constexpr int kSecondTabStop = 66;

// Draws a row's text with the mapping list's tab stops, so that "Amps1\t->\tAMPS1" lines up.
class TabStopDelegate : public QStyledItemDelegate {
public:
    TabStopDelegate(QList<qreal> stops, QObject* parent) : QStyledItemDelegate(parent), m_stops(std::move(stops)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QString text = item.text;
        item.text.clear();
        const QWidget* widget = item.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
        QTextOption textOption(Qt::AlignLeft | Qt::AlignVCenter);
        textOption.setTabArray(m_stops);
        textOption.setWrapMode(QTextOption::NoWrap);
        painter->save();
        painter->setPen(item.state & QStyle::State_Selected ? item.palette.highlightedText().color()
                                                            : item.palette.text().color());
        painter->drawText(QRectF(item.rect.adjusted(3, 0, -3, 0)), text, textOption);
        painter->restore();
    }

private:
    QList<qreal> m_stops;
};

void showList(QListWidget* list, const std::vector<std::string>& texts, int selected) {
    const QSignalBlocker blocker(list);
    bool same = list->count() == static_cast<int>(texts.size());
    for (int i = 0; same && i < list->count(); ++i) same = list->item(i)->text().toStdString() == texts[i];
    if (!same) {
        list->clear();
        for (const std::string& t : texts) list->addItem(QString::fromStdString(t));
    }
    list->setCurrentRow(selected);
    if (selected < 0) list->clearSelection();
}

int selectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> picked = list->selectedItems();
    return picked.isEmpty() ? -1 : list->row(picked.front());
}

QListWidget* addList(QGridLayout* grid, const QString& label, int row, int column, QWidget* parent) {
    grid->addWidget(new QLabel(label, parent), row, column);
    auto* list = new QListWidget(parent);
    list->setAccessibleName(label);
    grid->addWidget(list, row + 1, column);
    return list;
}


}  // namespace

DatabaseLinkWindow::DatabaseLinkWindow(AppShell& shell, DatabaseLinkDialog& logic, QWidget* parent)
    : QDialog(parent), m_shell(shell), m_logic(logic) {
    setWindowTitle(QStringLiteral("Save-to-Database Setup"));
    setModal(false);
    auto* grid = new QGridLayout;
    m_dataSources = addList(grid, QStringLiteral("Databases (DSN)"), 0, 0, this);
    m_tables = addList(grid, QStringLiteral("Table"), 0, 1, this);
    m_variables = addList(grid, QStringLiteral("Variables"), 2, 0, this);
    m_mapping = addList(grid, QStringLiteral("Variable to Database Column Mapping"), 2, 1, this);
    const DialogUnits units(font());
    m_mapping->setItemDelegate(new TabStopDelegate(
        {static_cast<qreal>(units.x(kFirstTabStop)), static_cast<qreal>(units.x(kSecondTabStop))}, m_mapping));
    m_mapping->setMinimumWidth(units.x(kSecondTabStop + 80));

    auto* credentials = new QGridLayout;
    m_user = new QLineEdit(this);
    m_user->setMaxLength(static_cast<int>(kUserCapacity));
    m_password = new QLineEdit(this);
    m_password->setMaxLength(static_cast<int>(kPasswordCapacity));
    m_password->setEchoMode(QLineEdit::Password);
    m_user->setAccessibleName(QStringLiteral("Username"));
    m_password->setAccessibleName(QStringLiteral("Password"));
    credentials->addWidget(new QLabel(QStringLiteral("Username"), this), 0, 0);
    credentials->addWidget(m_user, 0, 1);
    credentials->addWidget(new QLabel(QStringLiteral("Password"), this), 1, 0);
    credentials->addWidget(m_password, 1, 1);
    grid->addLayout(credentials, 4, 0);

    auto* tableButtons = new QHBoxLayout;
    m_addTable = new QPushButton(QStringLiteral("Add Table"), this);
    m_addColumn = new QPushButton(QStringLiteral("Add Column"), this);
    m_link = new QPushButton(QStringLiteral("Link ->"), this);
    m_unlink = new QPushButton(QStringLiteral("Unlink"), this);
    for (QPushButton* b : {m_addTable, m_addColumn, m_link, m_unlink}) tableButtons->addWidget(b);
    grid->addLayout(tableButtons, 4, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_help = new QPushButton(QStringLiteral("Help"), this);
    m_ok->setDefault(true);
    for (QPushButton* b : {m_ok, m_cancel, m_help}) buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    // A pick is a selection the operator made. A list that takes the focus makes its first row
    // current without selecting it; that picks nothing (and connects to no data source).
    connect(m_dataSources, &QListWidget::itemSelectionChanged, this,
            [this] { runLogic([this, row = selectedRow(m_dataSources)] { m_logic.selectDataSource(row); }); });
    connect(m_tables, &QListWidget::itemSelectionChanged, this,
            [this] { runLogic([this, row = selectedRow(m_tables)] { m_logic.selectTable(row); }); });
    connect(m_variables, &QListWidget::itemSelectionChanged, this, [this] {
        m_logic.selectVariable(selectedRow(m_variables));
        showLogic();
    });
    connect(m_mapping, &QListWidget::itemSelectionChanged, this, [this] {
        m_logic.selectRow(selectedRow(m_mapping));
        showLogic();
    });
    const auto linkNow = [this] {
        m_logic.link();
        showLogic();
    };
    connect(m_variables, &QListWidget::itemDoubleClicked, this, linkNow);
    connect(m_mapping, &QListWidget::itemDoubleClicked, this, linkNow);
    connect(m_link, &QPushButton::clicked, this, linkNow);
    connect(m_unlink, &QPushButton::clicked, this, [this] {
        m_logic.unlink();
        showLogic();
    });
    connect(m_addColumn, &QPushButton::clicked, this, [this] { m_logic.addColumn(); });
    connect(m_addTable, &QPushButton::clicked, this, &DatabaseLinkWindow::addTable);
    connect(m_user, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_logic.setUser(text.toStdString()); });
    connect(m_password, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_logic.setPassword(text.toStdString()); });
    connect(m_ok, &QPushButton::clicked, this, &DatabaseLinkWindow::accept);
    connect(m_cancel, &QPushButton::clicked, this, &DatabaseLinkWindow::reject);
    connect(m_help, &QPushButton::clicked, this,
            [this] { m_shell.showHelpAt(QString::fromLatin1(help::kDatabaseLink)); });
}

void DatabaseLinkWindow::runLogic(const std::function<void()>& step) {
    // While a data source keeps the logic waiting (a server that does not answer holds a connect
    // for the login time-out), the program goes on: the main window's tick, repaints, the boxes
    // of notices raised before. It takes no input meanwhile: the operator's clicks and keys wait
    // until the step is done, so neither this window nor its logic is used again during the step.
    // The hook is the logic's for this step alone: the window may go before the logic does.
    const QPointer<DatabaseLinkWindow> alive(this);
    DatabaseLinkDialog& logic = m_logic;
    logic.setWaitHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    step();
    logic.setWaitHook({});
    // A window closed meanwhile is only hidden; one destroyed is not touched again.
    if (alive) showLogic();
}

void DatabaseLinkWindow::openWindow() {
    if (!m_logic.open()) {
        hide();
        return;
    }
    showLogic();
    show();
    raise();
    activateWindow();
}

void DatabaseLinkWindow::showLogic() {
    const DatabaseLinkDialog& logic = m_logic;
    showList(m_dataSources, logic.dataSources(), logic.selectedDataSource());
    showList(m_tables, logic.tables(), logic.selectedTable());
    showList(m_variables, logic.variables(), logic.selectedVariable());
    std::vector<std::string> rowTexts;
    for (const LinkRow& row : logic.rows()) rowTexts.push_back(linkRowText(row));
    showList(m_mapping, rowTexts, logic.selectedRow());
    const QSignalBlocker userBlocker(m_user);
    const QSignalBlocker passwordBlocker(m_password);
    if (m_user->text().toStdString() != logic.user()) m_user->setText(QString::fromStdString(logic.user()));
    if (m_password->text().toStdString() != logic.password())
        m_password->setText(QString::fromStdString(logic.password()));
    m_ok->setEnabled(logic.okEnabled());
    m_addTable->setEnabled(logic.addTableEnabled());
    m_addColumn->setEnabled(logic.addColumnEnabled());
    m_link->setEnabled(logic.linkEnabled());
    m_unlink->setEnabled(logic.unlinkEnabled());
}

void DatabaseLinkWindow::addTable() {
    AddTableWindow dialog(m_shell.station().op(), this);
    if (m_shell.runModal(dialog) != QDialog::Accepted) return;
    runLogic([this, name = dialog.tableName(), columns = dialog.columns()] { m_logic.addTable(name, columns); });
}

void DatabaseLinkWindow::accept() {
    if (!m_logic.accept()) return;
    QDialog::accept();
}

void DatabaseLinkWindow::reject() {
    m_logic.cancel();
    QDialog::reject();
}

void runDatabaseCommand(AppShell& shell) {
    Station& station = shell.station();
    const ConfigurationRecord& config = station.settings();
    if (config.databaseLogging == DatabaseLoggingState::Active) {
        DatabaseSetupWindow setup(config.database, shell.mainWindow());
        if (shell.runModal(setup) == QDialog::Accepted) startNewDatabase(station.logging());
    }
    if (config.databaseLogging != DatabaseLoggingState::Off) return;
    // One link window for the whole run: it is hidden, not destroyed, when it closes.
    auto* window = shell.mainWindow()->findChild<DatabaseLinkWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (window == nullptr) window = new DatabaseLinkWindow(shell, station.databaseLink(), shell.mainWindow());
    window->openWindow();
}

}  // namespace quorna
