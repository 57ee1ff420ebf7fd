// The alarm windows on screen (offscreen platform): opened by the commands, modeless, what they
// show, the message and focus when a field is refused, and what their buttons send.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>

#include "alarm_bus_fixture.h"
#include "gui/alarms/alarm_delay_window.h"
#include "gui/alarms/breaker_alarm_window.h"
#include "gui/alarms/breaker_grid.h"
#include "gui/alarms/global_limits_window.h"
#include "gui/main/command_ids.h"
#include "stub_app_shell.h"

namespace quorna::test {
namespace {

using Setting = BreakerAlarmDialog::GlobalSetting;

class AlarmWindowsGuiTest : public AlarmBusTest {
protected:
    void SetUp() override {
        AlarmBusTest::SetUp();
        installAlarmCommands(shell);
        shell.window.resize(400, 300);
        shell.window.show();
        station().meters().setCurrentScale(station().meters().currentScaleAddress(), 0.1F);  // as a good poll of the Circuit meter left it
        station().meters().setCurrentScale(kCircuitAddress, station().meters().currentScale());
    }

    void TearDown() override {
        // Windows still open go with their parent; their marks are cleared as they go.
        for (QWidget* child : shell.window.findChildren<AlarmWindow*>()) delete child;
        AlarmBusTest::TearDown();
    }

    template <typename Window>
    Window* command(int id) {
        shell.dispatch(id);
        auto windows = shell.window.findChildren<Window*>();
        if (windows.size() != 1) return nullptr;
        Window* window = windows.front();
        QApplication::setActiveWindow(window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        return window;
    }

    BreakerAlarmWindow* openBreakerWindow() {
        select(kBranchAddress);
        auto* window = command<BreakerAlarmWindow>(kCmdSetpoints);
        sim->clearRequests();
        return window;
    }

    // The operator clicks into the edit, replaces its text, and leaves it for another control.
    static void retype(QLineEdit* edit, const QString& text, QWidget* next) {
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, text);
        next->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }

    static void settle() {
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }

    template <typename Window>
    bool isOpen() {
        return !shell.window.findChildren<Window*>().isEmpty();
    }

    // Saves the window's picture and checks it holds a drawn window, not a blank area.
    static void screenshot(QWidget* window, const QString& name) {
        const QString dir = QStringLiteral(QUORNA_BINARY_DIR "/screenshots");
        ASSERT_TRUE(QDir().mkpath(dir));
        const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
        ASSERT_TRUE(window->grab().save(path));
        const QImage image(path);
        ASSERT_FALSE(image.isNull());
        EXPECT_GE(image.width(), 300);
        EXPECT_GE(image.height(), 150);
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
        }
        EXPECT_GE(colours.size(), 3) << name.toStdString();
    }

    static QStringList texts(QWidget* window) {
        QStringList all;
        for (auto* label : window->findChildren<QLabel*>()) all << label->text();
        for (auto* box : window->findChildren<QGroupBox*>()) all << box->title();
        for (auto* button : window->findChildren<QPushButton*>()) all << button->text();
        for (auto* check : window->findChildren<QCheckBox*>()) all << check->text();
        return all;
    }

    StubAppShell shell{[this]() -> Station& { return station(); }};
};

TEST_F(AlarmWindowsGuiTest, CommandsAreBoundWithoutMenuEntriesOfTheirOwn) {
    ASSERT_EQ(shell.commands.count(kCmdSetpoints), 1U);
    ASSERT_EQ(shell.commands.count(kCmdDelays), 1U);
}

TEST_F(AlarmWindowsGuiTest, SetpointsWithoutAMeterShowsTheGuardAndNoWindow) {
    shell.dispatch(kCmdSetpoints);
    shell.dispatch(kCmdDelays);
    EXPECT_EQ(op.texts(), (std::vector<std::string>(2, "You must select a valid meter before configuring alarms!")));
    EXPECT_FALSE(isOpen<AlarmWindow>());
}

TEST_F(AlarmWindowsGuiTest, BreakerAlarmWindowLayout) {
    station().meters().setFirstName("PNL1");
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Alarm Setup");
    EXPECT_FALSE(window->isModal());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->parentWidget(), &shell.window);

    const QStringList shown = texts(window);
    for (const char* text : {"Breakers - ", "Global Limit Settings", "Global Holdoff Delays", "OK", "Cancel", "Help"}) {
        EXPECT_EQ(shown.count(QString::fromLatin1(text)), 1) << text;
    }
    EXPECT_EQ(shown.count("Alarm"), 4);  // two grid headings, the "% Rated" row and the "Secs" row
    EXPECT_EQ(shown.count("Warn"), 2);
    EXPECT_EQ(shown.count("Warning"), 2);
    EXPECT_EQ(shown.count("% Rated"), 2);
    EXPECT_EQ(shown.count("Secs"), 2);
    EXPECT_EQ(shown.count("SET"), 4);
    for (int k = 1; k <= kBreakerCount; ++k) EXPECT_EQ(shown.count(QString::number(k)), 1) << k;
    EXPECT_TRUE(window->okButton()->isDefault());

    EXPECT_EQ(window->nameField()->text(), "PNL1");
    EXPECT_TRUE(window->nameField()->isReadOnly());
    EXPECT_TRUE(window->nameField()->alignment() & Qt::AlignHCenter);

    // Odd breakers in the left pair, even in the right, row by row.
    BreakerGrid* grid = window->grid();
    const auto pos = [&](QWidget* w) { return w->mapTo(window, QPoint(0, 0)); };
    EXPECT_EQ(pos(grid->alarmEdit(1)).y(), pos(grid->alarmEdit(2)).y());
    EXPECT_LT(pos(grid->warnEdit(1)).x(), pos(grid->alarmEdit(2)).x());
    EXPECT_LT(pos(grid->alarmEdit(1)).x(), pos(grid->warnEdit(1)).x());
    EXPECT_LT(pos(grid->alarmEdit(1)).y(), pos(grid->alarmEdit(3)).y());
    EXPECT_EQ(pos(grid->alarmEdit(41)).x(), pos(grid->alarmEdit(1)).x());
    EXPECT_EQ(pos(grid->alarmEdit(42)).y(), pos(grid->alarmEdit(41)).y());

    EXPECT_EQ(grid->alarmEdit(7)->text(), "80");
    EXPECT_EQ(grid->warnEdit(42)->text(), "70");
    EXPECT_EQ(window->globalEdit(Setting::WarningPercent)->text(), "70");
    EXPECT_EQ(window->globalEdit(Setting::AlarmPercent)->text(), "80");
    EXPECT_EQ(window->globalEdit(Setting::WarningHoldoff)->text(), "0");
    EXPECT_EQ(window->globalEdit(Setting::AlarmHoldoff)->text(), "10");
    screenshot(window, QStringLiteral("breaker_alarm_setup"));

    // A second Setpoints while it is open does nothing.
    shell.dispatch(kCmdSetpoints);
    EXPECT_EQ(shell.window.findChildren<AlarmWindow*>().size(), 1);
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(AlarmWindowsGuiTest, RefusedWarnValueShowsTheMessageOnceAndTakesTheFocusBack) {
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    QLineEdit* warn9 = window->grid()->warnEdit(9);
    retype(warn9, "101", window->grid()->alarmEdit(10));
    QApplication::processEvents();
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 0 and 100."}));
    EXPECT_EQ(QApplication::focusWidget(), warn9);

    // "OK" sends nothing and says it again; the window stays open.
    window->okButton()->click();
    settle();
    EXPECT_EQ(op.messages.size(), 2U);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_TRUE(isOpen<BreakerAlarmWindow>());
    EXPECT_EQ(QApplication::focusWidget(), warn9);

    // So does "SET".
    window->setButton(Setting::AlarmPercent)->click();
    settle();
    EXPECT_EQ(op.messages.size(), 3U);
    EXPECT_TRUE(sim->requests().empty());

    retype(warn9, "65", window->grid()->alarmEdit(10));
    window->okButton()->click();
    settle();
    EXPECT_EQ(op.messages.size(), 3U);
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:101=65"}));
    EXPECT_FALSE(isOpen<BreakerAlarmWindow>());
    EXPECT_FALSE(station().alarms().marks.alarmWindowOpen);
}

TEST_F(AlarmWindowsGuiTest, HoldoffOf65536IsRefusedIn65535Accepted) {
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    QLineEdit* holdoff = window->globalEdit(Setting::AlarmHoldoff);
    retype(holdoff, "65536", window->globalEdit(Setting::WarningHoldoff));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 0 and 65535."}));
    EXPECT_EQ(QApplication::focusWidget(), holdoff);
    retype(holdoff, "65535", window->globalEdit(Setting::WarningHoldoff));
    window->setButton(Setting::AlarmHoldoff)->click();
    settle();
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:271=65535"}));
}

TEST_F(AlarmWindowsGuiTest, OkSendsOnlyTheChangedThresholdAndEnterPressesOk) {
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    QLineEdit* alarm7 = window->grid()->alarmEdit(7);
    alarm7->setFocus(Qt::MouseFocusReason);
    alarm7->selectAll();
    QTest::keyClicks(alarm7, "85");
    QTest::keyClick(alarm7, Qt::Key_Return);  // still in the edit: "OK" takes it first
    settle();
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:141=85"}));
    EXPECT_FALSE(isOpen<BreakerAlarmWindow>());
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(AlarmWindowsGuiTest, ANameWithAByteAbove127PassesThroughTheWindowUnchanged) {
    // Meter names are four bytes; 0xC9 is an accented letter in the meters' 8-bit character set.
    station().meters().setFirstName("P\xC9L1");
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->editOfField(BreakerAlarmDialog::kMeterNameField)->text(), QString::fromUtf8("P\u00C9L1"));
    QLineEdit* alarm7 = window->grid()->alarmEdit(7);
    alarm7->setFocus(Qt::MouseFocusReason);
    alarm7->selectAll();
    QTest::keyClicks(alarm7, "85");
    QTest::keyClick(alarm7, Qt::Key_Return);
    settle();
    EXPECT_TRUE(op.messages.empty()) << op.texts().front();
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:141=85"}));
    EXPECT_FALSE(isOpen<BreakerAlarmWindow>());
}

TEST_F(AlarmWindowsGuiTest, SetRereadsAndShowsWhatTheMeterHolds) {
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    retype(window->grid()->warnEdit(4), "33", window->grid()->warnEdit(5));
    retype(window->globalEdit(Setting::AlarmPercent), "85", window->globalEdit(Setting::WarningPercent));
    window->setButton(Setting::AlarmPercent)->click();
    settle();
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:269=85"}));
    EXPECT_EQ(readRequests(sim->requests()),
              (std::vector<ReadRequest>{{kBranchAddress, 135, 42}, {kBranchAddress, 93, 42}}));
    EXPECT_EQ(window->grid()->warnEdit(4)->text(), "70");
    EXPECT_EQ(window->globalEdit(Setting::AlarmPercent)->text(), "85");
    EXPECT_TRUE(isOpen<BreakerAlarmWindow>());
}

TEST_F(AlarmWindowsGuiTest, GlobalFieldsShowWhatWasLastEnteredAtTheNextOpening) {
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    retype(window->globalEdit(Setting::WarningPercent), "75", window->globalEdit(Setting::AlarmPercent));
    retype(window->globalEdit(Setting::AlarmPercent), "85", window->globalEdit(Setting::WarningHoldoff));
    retype(window->globalEdit(Setting::WarningHoldoff), "5", window->globalEdit(Setting::AlarmHoldoff));
    retype(window->globalEdit(Setting::AlarmHoldoff), "20", window->globalEdit(Setting::WarningPercent));
    window->cancelButton()->click();
    settle();
    EXPECT_FALSE(isOpen<BreakerAlarmWindow>());
    EXPECT_TRUE(sim->writes().empty());

    window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->globalEdit(Setting::WarningPercent)->text(), "75");
    EXPECT_EQ(window->globalEdit(Setting::AlarmPercent)->text(), "85");
    EXPECT_EQ(window->globalEdit(Setting::WarningHoldoff)->text(), "5");
    EXPECT_EQ(window->globalEdit(Setting::AlarmHoldoff)->text(), "20");
}

TEST_F(AlarmWindowsGuiTest, HelpOpensTheHelpAtTheWindowsSection) {
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    window->helpButton()->click();
    ASSERT_EQ(shell.helpAnchors.size(), 1U);
    EXPECT_EQ(shell.helpAnchors.back(), "breaker-alarms");
    EXPECT_TRUE(isOpen<BreakerAlarmWindow>());
}

TEST_F(AlarmWindowsGuiTest, EscapeClosesWithoutWritingAndCancelLeavesARefusedField) {
    BreakerAlarmWindow* window = openBreakerWindow();
    ASSERT_NE(window, nullptr);
    QLineEdit* alarm1 = window->grid()->alarmEdit(1);
    alarm1->setFocus(Qt::MouseFocusReason);
    alarm1->selectAll();
    QTest::keyClicks(alarm1, "500");
    window->cancelButton()->setFocus(Qt::MouseFocusReason);  // leaving for "Cancel" asks nothing
    settle();
    EXPECT_TRUE(op.messages.empty());
    QTest::keyClick(window, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(isOpen<BreakerAlarmWindow>());
    EXPECT_FALSE(station().alarms().marks.alarmWindowOpen);
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(AlarmWindowsGuiTest, DelayWindowLayoutAndRefusal) {
    select(kBranchAddress);
    station().meters().setFirstName("PNL1");
    auto* window = command<AlarmDelayWindow>(kCmdDelays);
    ASSERT_NE(window, nullptr);
    sim->clearRequests();
    EXPECT_EQ(window->windowTitle(), "Alarm Delay Setup");
    EXPECT_FALSE(window->isModal());
    const QStringList shown = texts(window);
    for (const char* text : {"Breakers - ", "OK", "Cancel", "Help"}) EXPECT_EQ(shown.count(text), 1) << text;
    EXPECT_EQ(shown.count("Alarm"), 2);
    EXPECT_EQ(shown.count("Warn"), 2);
    EXPECT_EQ(shown.count("SET"), 0);
    EXPECT_EQ(window->nameField()->text(), "PNL1");
    EXPECT_EQ(window->grid()->alarmEdit(1)->text(), "10");
    EXPECT_EQ(window->grid()->warnEdit(1)->text(), "5");
    screenshot(window, QStringLiteral("alarm_delay_setup"));

    QLineEdit* warn42 = window->grid()->warnEdit(42);
    retype(warn42, "65536", window->grid()->warnEdit(41));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 0 and 65535."}));
    EXPECT_EQ(QApplication::focusWidget(), warn42);
    retype(warn42, "65535", window->grid()->warnEdit(41));
    retype(window->grid()->alarmEdit(1), "30", window->grid()->warnEdit(1));
    window->okButton()->click();
    settle();
    EXPECT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:219=30", "3:218=65535"}));
    EXPECT_FALSE(isOpen<AlarmDelayWindow>());
    EXPECT_FALSE(station().alarms().marks.delayWindowOpen);
}

TEST_F(AlarmWindowsGuiTest, AlarmAndDelayWindowsOpenTogetherAndTheSelectionMovesOn) {
    BreakerAlarmWindow* alarms = openBreakerWindow();
    ASSERT_NE(alarms, nullptr);
    auto* delays = command<AlarmDelayWindow>(kCmdDelays);
    ASSERT_NE(delays, nullptr);
    EXPECT_TRUE(alarms->isVisible());
    sim->clearRequests();

    select(kOtherBranchAddress);  // the operator picks another meter in the main window
    QApplication::setActiveWindow(delays);
    retype(delays->grid()->warnEdit(3), "7", delays->grid()->warnEdit(4));
    QApplication::setActiveWindow(alarms);
    ASSERT_TRUE(QTest::qWaitForWindowActive(alarms));
    retype(alarms->grid()->alarmEdit(7), "85", alarms->grid()->alarmEdit(8));

    delays->okButton()->click();
    settle();
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:179=7"}));
    sim->clearRequests();
    alarms->okButton()->click();
    settle();
    EXPECT_EQ(writes(), (std::vector<std::string>{"3:141=85"}));
    EXPECT_EQ(sim->get(kOtherBranchAddress, 141, 1), (std::vector<int>{80}));
    EXPECT_EQ(sim->get(kOtherBranchAddress, 179, 1), (std::vector<int>{5}));
}

TEST_F(AlarmWindowsGuiTest, GlobalLimitsWindowLayoutAndWrites) {
    station().meters().setNames("MAIN", "BRD1");
    sim->set(kCircuitAddress, 30, {27700, 10800, 1500, 0, 3000, 0, 0, 90});
    sim->set(kCircuitAddress, 73, {0x80});
    select(kCircuitAddress);
    auto* window = command<GlobalLimitsWindow>(kCmdSetpoints);
    ASSERT_NE(window, nullptr);
    sim->clearRequests();
    using Dialog = GlobalLimitsDialog;
    EXPECT_EQ(window->windowTitle(), "Alarm Setup");
    EXPECT_FALSE(window->isModal());
    const QStringList shown = texts(window);
    for (const char* text : {"Global Limit Settings", "Under", "Over", "Voltage", "Current", "KVA",
                             "Phase Loss Threshhold", "OK", "Cancel", "Help"}) {
        EXPECT_EQ(shown.count(text), 1) << text;
    }
    EXPECT_EQ(shown.count("Critical"), 7);
    QLineEdit* first = window->editOfField(Dialog::kFirstNameField);
    QLineEdit* second = window->editOfField(Dialog::kSecondNameField);
    EXPECT_EQ(first->text(), "MAIN");
    EXPECT_EQ(second->text(), "BRD1");
    EXPECT_TRUE(first->isReadOnly() && second->isReadOnly());
    EXPECT_LT(second->mapTo(window, QPoint()).x(), first->mapTo(window, QPoint()).x());
    const auto x = [&](QWidget* w) { return w->mapTo(window, QPoint()).x(); };
    EXPECT_LT(x(window->editOfField(Dialog::kVoltageUnderField)), x(window->editOfField(Dialog::kVoltageOverField)));

    EXPECT_EQ(window->editOfField(Dialog::kVoltageOverField)->text(), "277");
    EXPECT_EQ(window->editOfField(Dialog::kVoltageUnderField)->text(), "108");
    EXPECT_EQ(window->editOfField(Dialog::kCurrentOverField)->text(), "150");
    EXPECT_EQ(window->editOfField(Dialog::kKvaOverField)->text(), "300");
    EXPECT_EQ(window->editOfField(Dialog::kPhaseLossField)->text(), "90");
    EXPECT_TRUE(window->criticalBox(Dialog::kPhaseLossBox)->isChecked());
    EXPECT_FALSE(window->criticalBox(Dialog::kCurrentOverBox)->isChecked());
    screenshot(window, QStringLiteral("global_limits_setup"));

    QLineEdit* phaseLoss = window->editOfField(Dialog::kPhaseLossField);
    retype(phaseLoss, "65536", window->editOfField(Dialog::kVoltageOverField));
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 0 and 65535."}));
    EXPECT_EQ(QApplication::focusWidget(), phaseLoss);
    retype(phaseLoss, "6000", window->editOfField(Dialog::kVoltageOverField));
    QLineEdit* voltageOver = window->editOfField(Dialog::kVoltageOverField);
    retype(voltageOver, "2 80", window->editOfField(Dialog::kVoltageUnderField));
    EXPECT_EQ(op.messages.back().text, "Please enter a number.");
    EXPECT_EQ(QApplication::focusWidget(), voltageOver);
    voltageOver->selectAll();
    QTest::keyClicks(voltageOver, "280");
    // Clicking a "Critical" box takes the fields as well.
    QTest::mouseClick(window->criticalBox(Dialog::kKvaUnderBox), Qt::LeftButton);
    settle();
    EXPECT_EQ(op.messages.size(), 2U);
    retype(window->editOfField(Dialog::kCurrentOverField), "200", window->editOfField(Dialog::kCurrentUnderField));
    window->okButton()->click();
    settle();
    EXPECT_EQ(op.messages.size(), 2U);
    EXPECT_EQ(writes(), (std::vector<std::string>{"5:30=28000", "5:32=2000", "5:37=6000", "5:73=136"}));  // 0x80 kept, 0x08 set
    EXPECT_FALSE(isOpen<GlobalLimitsWindow>());
    EXPECT_FALSE(station().alarms().marks.alarmWindowOpen);
}

TEST_F(AlarmWindowsGuiTest, CriticalBoxClickWithARefusedFieldShowsItsMessage) {
    select(kCircuitAddress);
    auto* window = command<GlobalLimitsWindow>(kCmdSetpoints);
    ASSERT_NE(window, nullptr);
    using Dialog = GlobalLimitsDialog;
    QLineEdit* kvaOver = window->editOfField(Dialog::kKvaOverField);
    kvaOver->setFocus(Qt::MouseFocusReason);
    kvaOver->selectAll();
    QTest::keyClicks(kvaOver, "70000");
    window->criticalBox(Dialog::kVoltageOverBox)->click();  // a keyboard-free click: no focus change
    settle();
    // The range names the largest KVA that fits a register at the meter's scale of 0.1.
    EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter a number between 0 and 6553.5."}));
    EXPECT_EQ(QApplication::focusWidget(), kvaOver);
}

}  // namespace
}  // namespace quorna::test
