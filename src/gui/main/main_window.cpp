#include "gui/main/main_window.h"

#include <QTimer>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTextBrowser>
#include <QTimer>
#include <ctime>

#include "gui/main/about_window.h"
#include "gui/main/command_ids.h"
#include "gui/main/help_anchors.h"
#include "forms/field_validation.h"
#include "gui/main/lamp_pixmaps.h"
#include "gui/main/meter_text.h"
#include "bus/serial_link.h"
#include "logging/durable_queue.h"
#include "meters/meter_commands.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/meter_scan.h"
#include "meters/polling_cycle.h"
#include "settings/configuration.h"

namespace quorna {
namespace {

constexpr int kWindowFontPoints = 8;
// Where a fixed dialog frame and its caption would push the list down and right: the meter
// list's home place is its template place moved by these, which puts it just below the upper
// "Available Meters" label.
constexpr int kFrameWidth = 3;
constexpr int kCaptionHeight = 19;
// The band of the Circuit layout, in pixels from the client area's edges.
constexpr int kBandLeft = 21, kBandRightMargin = 20, kBandBottomMargin = 20, kBandHeight = 180;

QFont windowFont() {
    QFont font = QApplication::font();
    font.setPointSize(kWindowFontPoints);
    return font;
}

void setText(QLineEdit* field, const std::string& text) {
    const QString value = toQt(text);
    if (field->text() != value) field->setText(value);
}

void setLamp(QLabel* label, Lamp lamp, Lamp& shown) {
    if (shown == lamp) return;
    shown = lamp;
    label->setPixmap(lampPixmap(lamp));
    label->setAccessibleName(lampAccessibleName(label->accessibleName().section(QStringLiteral(", "), 0, 0), lamp));
}

QString plainTitle(QString title) { return title.remove(QLatin1Char('&')); }

// The rows of "Available Meters": the scan's progress line while a scan runs, then one row per
// entry.
QStringList meterListTexts(const MeterList& list) {
    QStringList texts;
    if (list.searching()) texts.append(toQt(progressText(list.progress())));
    for (const MeterEntry& entry : list.entries()) texts.append(toQt(entryText(entry)));
    return texts;
}

// The row of the list's first entry: below the progress line while that shows.
int firstEntryRow(const MeterList& list) { return list.searching() ? 1 : 0; }

}  // namespace
}  // namespace quorna

// The help document lives in a static library: its resource must be registered by name.
static void registerHelpResource() { Q_INIT_RESOURCE(quorna_help); }

namespace quorna {

MainWindow::MainWindow(Station& station, QtOperator& op) : m_station(station), m_operator(op), m_units(windowFont()) {
    registerHelpResource();
    m_operator.attach(this);
    setFont(windowFont());
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    m_client = new QWidget(this);
    m_client->setFixedSize(m_units.x(kClientWidthUnits), m_units.y(kClientHeightUnits));
    setCentralWidget(m_client);
    m_controls = buildMainWindowControls(m_client, m_units);
    m_shownBreakerLamp.fill(Lamp::Green);
    buildMenu();
    setFixedSize(m_client->width(), m_client->height() + menuBar()->sizeHint().height());

    connect(m_controls.meterList, &QListWidget::itemSelectionChanged, this, &MainWindow::operatorPickedMeter);
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this, &MainWindow::exitWithOk);
    }
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);

    initialise();
    installCommands();
}

MainWindow::~MainWindow() {
    shutdown();
    m_operator.setTraceRepaint(nullptr);
    m_operator.attach(nullptr);
}

// The start-up steps, in their order: the first tick must find the settings read and the
// directory cleared; the port is left to that tick.
void MainWindow::initialise() {
    transferFields();
    tzset();
    m_station.meters().clearDirectory();
    // There is no portable system menu in Qt: "About" is reached through the Help menu.
    setWindowIcon(windowIconImage());
    showLamps();
    m_station.readSettings();
    m_timerId = startTimer(kPollPeriodMs);
    if (m_timerId == 0) m_operator.error("Error: couldn't set up timer, try closing other programs");
    const QRect home = m_units.rect(kListLeft, kListTop, kListWidth, kListHeight);
    m_listHomeRect = home.translated(kFrameWidth, kFrameWidth + kCaptionHeight + menuBar()->sizeHint().height());
    m_listBandRect = QRect(kBandLeft, m_client->height() - kBandHeight - kBandBottomMargin,
                           m_client->width() - kBandLeft - kBandRightMargin, kBandHeight);
    m_station.meters().setLayout(Layout::BranchView);
    applyLayout(Layout::BranchView);
}

QAction* MainWindow::menuEntry(QMenu* menu, const QString& text, int id) {
    QAction* action = menu->addAction(text);
    connect(action, &QAction::triggered, this, [this, id] { dispatch(id); });
    m_commands[id].action = action;
    return action;
}

void MainWindow::buildMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    menuEntry(file, QStringLiteral("Scan"), kCmdScan);
    file->addSeparator();
    menuEntry(file, QStringLiteral("Exit"), kCmdExit);

    QMenu* configuration = menuBar()->addMenu(QStringLiteral("Configuration"));
    menuEntry(configuration, QStringLiteral("Comms"), kCmdComms);
    QMenu* alarms = configuration->addMenu(QStringLiteral("Alarms"));
    menuEntry(alarms, QStringLiteral("Reset"), kCmdResetAlarms);
    menuEntry(alarms, QStringLiteral("Setpoints"), kCmdSetpoints);
    menuEntry(alarms, QStringLiteral("Delays"), kCmdDelays);

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    menuEntry(help, QStringLiteral("Help"), kCmdHelp);
    menuEntry(help, QStringLiteral("Help Index"), kCmdHelpIndex);
    help->addSeparator();
    menuEntry(help, QStringLiteral("About"), kCmdAbout);
}

void MainWindow::installCommands() {
    addCommand(kCmdScan, [this] { m_station.scan(); });
    addCommand(kCmdScanAlternate, [this] { m_station.scan(); });
    addCommand(kCmdExit, [this] { exitWithOk(); });
    addCommand(kCmdResetAlarms, [this] { resetMeterAlarms(m_station.meters()); });
    addCommand(kCmdAbout, [this] { showAbout(); });
    addCommand(kSysCmdAbout, [this] { showAbout(); });
    addCommand(kCmdHelp, [this] { showHelpAt(QString()); });
    addCommand(kCmdHelpIndex, [this] { showHelpAt(QString::fromLatin1(help::kContents)); });
    installCommsCommands(*this);
    installTraceCommands(*this);
    installAlarmCommands(*this);
    installPanelCommands(*this);
    installLoggingCommands(*this);
}

void MainWindow::addCommand(int id, std::function<void()> handler, const QString& menu, const QString& entry,
                            const QKeySequence& shortcut) {
    Command& command = m_commands[id];
    command.handler = std::move(handler);
    if (command.action == nullptr && !menu.isEmpty() && !entry.isEmpty()) {
        QMenu* target = nullptr;
        QAction* helpMenu = nullptr;
        for (QAction* a : menuBar()->actions()) {
            if (a->menu() == nullptr) continue;
            if (plainTitle(a->text()) == plainTitle(menu)) target = a->menu();
            if (plainTitle(a->text()) == QStringLiteral("Help")) helpMenu = a;
        }
        if (target == nullptr) {
            target = new QMenu(menu, menuBar());
            menuBar()->insertMenu(helpMenu, target);
        }
        menuEntry(target, entry, id);
    } else if (command.action == nullptr && !shortcut.isEmpty()) {
        command.action = new QAction(this);
        addAction(command.action);
        connect(command.action, &QAction::triggered, this, [this, id] { dispatch(id); });
    }
    if (command.action != nullptr && !shortcut.isEmpty()) command.action->setShortcut(shortcut);
}

void MainWindow::dispatch(int id) {
    const auto it = m_commands.find(id);
    if (it == m_commands.end() || !it->second.handler) return;
    // A grayed entry cannot be chosen.
    if (it->second.action != nullptr && !it->second.action->isEnabled()) return;
    // The handler may rebind commands; run a copy.
    const std::function<void()> handler = it->second.handler;
    handler();
    scheduleStep();  // a command that began a scan (Find Meters, a new port) leaves it to the event loop
}

int MainWindow::runModal(QDialog& dialog) {
    return dialog.exec();
}

QAction* MainWindow::commandAction(int id) const {
    const auto it = m_commands.find(id);
    return it == m_commands.end() ? nullptr : it->second.action;
}

QWidget* MainWindow::helpWindow() const { return m_help; }

void MainWindow::transferFields() {
    const MainWindowFields& f = m_station.meters().fields();
    for (std::size_t i = 0; i < f.breaker.size(); ++i) setText(m_controls.breakerField[i], f.breaker[i]);
    const std::array<const std::string*, kPhaseFieldCount> phase{
        &f.currentA, &f.currentB, &f.currentC, &f.currentN, &f.currentAvg, &f.lnAN, &f.lnBN, &f.lnCN, &f.lnAvg,
        &f.llAB,     &f.llBC,     &f.llCA,     &f.llAvg,    &f.kW,         &f.kVAr, &f.kVA,  &f.pf};
    for (std::size_t i = 0; i < phase.size(); ++i) setText(m_controls.phaseField[i], *phase[i]);
    setText(m_controls.firstName, f.firstName);
    setText(m_controls.secondName, f.secondName);
}

void MainWindow::showLamps() {
    const MainWindowFields& f = m_station.meters().fields();
    for (std::size_t i = 0; i < f.breakerLamp.size(); ++i) {
        setLamp(m_controls.breakerLamp[i], f.breakerLamp[i], m_shownBreakerLamp[i]);
    }
    setLamp(m_controls.overAmpsLamp, f.overAmps, m_shownOverAmps);
    setLamp(m_controls.overVoltsLamp, f.overVolts, m_shownOverVolts);
}

void MainWindow::applyLayout(Layout layout) {
    const bool branch = layout == Layout::BranchView;
    const MainWindowControls& c = m_controls;
    std::vector<QWidget*> circuitOnly{c.secondName};
    circuitOnly.insert(circuitOnly.end(), c.phaseLabel.begin(), c.phaseLabel.end());
    circuitOnly.push_back(c.overLabel);
    circuitOnly.insert(circuitOnly.end(), c.group.begin(), c.group.end());
    circuitOnly.insert(circuitOnly.end(), {c.ampsLabel, c.voltsLabel});
    circuitOnly.insert(circuitOnly.end(), c.phaseField.begin(), c.phaseField.end());
    circuitOnly.insert(circuitOnly.end(), {c.overAmpsLamp, c.overVoltsLamp, c.lowerListLabel});
    std::vector<QWidget*> branchOnly(c.breakerLamp.begin(), c.breakerLamp.end());
    branchOnly.push_back(c.breakersLabel);
    branchOnly.insert(branchOnly.end(), c.breakerNumber.begin(), c.breakerNumber.end());
    branchOnly.insert(branchOnly.end(), c.breakerField.begin(), c.breakerField.end());
    branchOnly.push_back(c.upperListLabel);

    for (QWidget* w : branch ? circuitOnly : branchOnly) w->hide();
    for (QWidget* w : branch ? branchOnly : circuitOnly) w->show();
    for (int id : {kCmdSetpoints, kCmdDelays}) {
        if (QAction* action = commandAction(id)) action->setEnabled(branch);
    }
    c.meterList->setGeometry(branch ? m_listHomeRect : m_listBandRect);
    c.meterList->repaint();
}

void MainWindow::showMeterList() {
    const MeterList& list = m_station.meters().list();
    QListWidget* view = m_controls.meterList;
    m_syncingList = true;
    const QSignalBlocker blocker(view);
    const QStringList texts = meterListTexts(list);
    while (view->count() > texts.size()) delete view->takeItem(view->count() - 1);
    for (int i = 0; i < texts.size(); ++i) {
        const QString& text = texts[i];
        if (i < view->count()) {
            if (view->item(i)->text() != text) view->item(i)->setText(text);
        } else {
            view->addItem(text);
        }
    }
    if (list.selection() >= 0) {
        view->setCurrentRow(list.selection() + firstEntryRow(list));
    } else {
        view->clearSelection();
        view->setCurrentRow(-1);
    }
    m_syncingList = false;
}

void MainWindow::repaintNow() {
    // The list lays out inserted entries lazily, on a timer that cannot fire while the scan
    // holds the thread; lay them out now so that the paint shows them.
    m_controls.meterList->doItemsLayout();
    repaint();
}

void MainWindow::operatorPickedMeter() {
    if (m_syncingList) return;
    const QList<QListWidgetItem*> picked = m_controls.meterList->selectedItems();
    // The progress line above the entries picks no meter.
    MeterList& list = m_station.meters().list();
    list.select(picked.isEmpty() ? -1 : m_controls.meterList->row(picked.front()) - firstEntryRow(list));
    m_station.meters().selectMeter();
}

void MainWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timerId) {
        m_station.tick();
        scheduleStep();
        scheduleCatchUp();
        return;
    }
    QMainWindow::timerEvent(event);
}

void MainWindow::scheduleStep() {
    if (m_stepScheduled || !m_station.busy() || m_shutDown) return;
    // The tick's awaited answers and the scan's addresses go a step at a time from the event loop,
    // so that the window repaints and answers between them; the polling ticks that fall due
    // meanwhile are skipped. A timer of 1 ms rather than a posted call: the timers and paints that
    // fell due during a step come first.
    m_stepScheduled = true;
    QTimer::singleShot(1, this, [this] {
        m_stepScheduled = false;
        if (m_shutDown) return;
        if (m_station.step()) scheduleStep();
        scheduleCatchUp();  // the step that wrote a moment may have left records for later slices
    });
}

void MainWindow::scheduleCatchUp() {
    if (m_catchUpScheduled || !loggingBehind(m_station.logging())) return;
    // A slice at a time, each from the event loop after a short pause, so that the window answers
    // (and the poll timer fires) in between.
    constexpr int kPauseBetweenSlicesMs = 20;
    m_catchUpScheduled = true;
    QTimer::singleShot(kPauseBetweenSlicesMs, this, [this] {
        m_catchUpScheduled = false;
        if (m_station.catchUp()) scheduleCatchUp();
    });
}

void MainWindow::exitWithOk() {
    // The window's data are taken back first; the name fields hold four characters at most.
    for (const QLineEdit* name : {m_controls.firstName, m_controls.secondName}) {
        if (name->text().size() > kMeterNameLength) {
            m_operator.warning(textLengthMessage(kMeterNameLength));
            return;
        }
    }
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    shutdown();
    event->accept();
    if (m_help != nullptr) m_help->close();
    emit closed();
}

void MainWindow::shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    if (m_timerId != 0) killTimer(m_timerId);
    m_timerId = 0;
    m_station.cancelScan();
    // A logging moment under way reads its last meters and keeps its records before the port closes.
    while (m_station.tickUnderWay()) (void)m_station.step();
    if (m_station.bus().link().portOpen) closePort(m_station.bus().link());
}

void MainWindow::showAbout() {
    AboutWindow about(this);
    runModal(about);
}

// The help window is one per main window; an anchor scrolls it to that section, none leaves it
// where the operator last read.
void MainWindow::showHelpAt(const QString& anchor) {
    if (m_help == nullptr) {
        m_help = new QTextBrowser(this);
        m_help->setWindowFlag(Qt::Window);
        m_help->setWindowTitle(QStringLiteral("Quorna Help"));
        m_help->setObjectName(QStringLiteral("helpWindow"));
        m_help->setOpenExternalLinks(false);
        m_help->resize(m_units.x(360), m_units.y(300));
        m_help->setSource(QUrl(QStringLiteral("qrc:/help/quorna-help.html")));
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
    // Scrolled once shown, when the document has its layout for the window's width.
    if (!anchor.isEmpty()) m_help->scrollToAnchor(anchor);
}

}  // namespace quorna
