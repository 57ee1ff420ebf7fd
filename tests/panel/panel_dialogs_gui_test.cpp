// The two panel windows on the offscreen platform, reached through the panel configuration
// command as the operator would: layout, validation with the focus, and what the buttons send.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QWidget>
#include <functional>
#include <map>

#include "meters/main_window_fields.h"
#include "panel_bus_fixture.h"
#include "stub_app_shell.h"

namespace quorna::test {
namespace {

using Writes = std::vector<SimWrite>;

template <class W>
W* child(QDialog& dialog, const char* name) {
    W* widget = dialog.findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QLineEdit* rating(QDialog& dialog, int breaker) {
    return child<QLineEdit>(dialog, QString("rating%1").arg(breaker).toLatin1().constData());
}

QStringList groupTitles(QDialog& dialog) {
    QStringList titles;
    for (auto* group : dialog.findChildren<QGroupBox*>()) titles << group->title();
    titles.sort();
    return titles;
}

QStringList labelTexts(QDialog& dialog) {
    QStringList texts;
    for (auto* label : dialog.findChildren<QLabel*>()) texts << label->text();
    return texts;
}

int visibleButtons(QDialog& dialog, const QString& text) {
    int count = 0;
    for (auto* b : dialog.findChildren<QPushButton*>()) count += (b->text() == text && b->isVisible()) ? 1 : 0;
    return count;
}

// Saves the window to screenshots/<name>.png and checks the picture holds a drawn window.
void screenshot(QDialog& dialog, const QString& name) {
    const QString dir = QString(QUORNA_BINARY_DIR) + "/screenshots";
    ASSERT_TRUE(QDir().mkpath(dir));
    const QPixmap picture = dialog.grab();
    const QString path = dir + "/" + name + ".png";
    ASSERT_TRUE(picture.save(path));
    const QImage image(path);
    EXPECT_GE(image.width(), 300);
    EXPECT_GE(image.height(), 150);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 3);
}

// The operator leaves the edit for another one; the take runs from the event loop.
void leave(QWidget* to) {
    to->setFocus(Qt::TabFocusReason);
    QTest::qWait(20);
}

void type(QLineEdit* edit, const QString& text) {
    edit->setFocus(Qt::MouseFocusReason);
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

class PanelWindowsTest : public PanelBusTest {
protected:
    void SetUp() override {
        PanelBusTest::SetUp();
        installPanelCommands(shell);
    }
    MeterSimulator sim{{"--meter", "3:230", "--meter", "7:236", "--meter", "8:235"}};
    StubAppShell shell{[this]() -> Station& { return station(); }};
};

TEST_F(PanelWindowsTest, CommandSitsInTheConfigurationMenuAndGuardsAgainstNoMeter) {
    ASSERT_EQ(shell.bound, std::vector<int>{32772});
    EXPECT_EQ(shell.commands[32772].menu, "Configuration");
    EXPECT_EQ(shell.commands[32772].entry, "Panel...");
    EXPECT_EQ(shell.commands[32772].shortcut, QKeySequence("Ctrl+P"));
    shell.dispatch(32772);
    EXPECT_EQ(shell.modalRuns, 0);
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text, "You must select a valid meter before attempting to configure it!");
    EXPECT_EQ(op.messages[0].caption, "");
}

TEST_F(PanelWindowsTest, BranchMeterWindowLayoutAndOk) {
    connect(sim);
    station().meters().setFirstName("PNL1");
    select(3, kBranchMeter);
    shell.whileModal = [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Panel Configuration");
        EXPECT_TRUE(labelTexts(d).contains("Breaker Ratings - "));
        EXPECT_TRUE(labelTexts(d).contains("Amps"));
        EXPECT_TRUE(labelTexts(d).contains("Firmware V3.12"));
        EXPECT_TRUE(labelTexts(d).contains("Serial Number - 01000003"));
        EXPECT_EQ(groupTitles(d), (QStringList{"Global Rating", "Panel Name"}));
        auto* name = child<QLineEdit>(d, "firstName");
        EXPECT_EQ(name->text(), "PNL1");
        EXPECT_TRUE(name->isReadOnly());
        EXPECT_EQ(name->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        // Odd breakers in the left column, even in the right, breaker 1 at the top.
        for (int k = 1; k <= 42; ++k) {
            QLineEdit* edit = rating(d, k);
            EXPECT_EQ(edit->text(), "20");
            const QPoint at = edit->mapTo(&d, QPoint(0, 0));
            const QPoint first = rating(d, k % 2 == 1 ? 1 : 2)->mapTo(&d, QPoint(0, 0));
            EXPECT_EQ(at.x(), first.x()) << k;
            if (k > 2) {
                EXPECT_GT(at.y(), rating(d, k - 2)->mapTo(&d, QPoint(0, 0)).y()) << k;
            }
        }
        EXPECT_LT(rating(d, 1)->mapTo(&d, QPoint(0, 0)).x(), rating(d, 2)->mapTo(&d, QPoint(0, 0)).x());
        EXPECT_TRUE(labelTexts(d).contains("41"));
        EXPECT_TRUE(labelTexts(d).contains("42"));
        EXPECT_EQ(visibleButtons(d, "SET"), 2);
        EXPECT_TRUE(child<QPushButton>(d, "okButton")->isDefault());
        EXPECT_EQ(child<QPushButton>(d, "cancelButton")->text(), "Cancel");
        EXPECT_EQ(child<QLineEdit>(d, "globalRating")->text(), "20");
        screenshot(d, "panel_setup_dialog");

        child<QPushButton>(d, "helpButton")->click();
        ASSERT_FALSE(shell.helpAnchors.empty());
        EXPECT_EQ(shell.helpAnchors.back(), "panel-setup");

        sim.clearRequests();
        type(rating(d, 5), "30");
        child<QPushButton>(d, "okButton")->click();
        EXPECT_FALSE(d.isVisible());
    };
    shell.dispatch(32772);
    EXPECT_EQ(shell.modalRuns, 1);
    EXPECT_EQ(sim.writes(), (Writes{{3, 55, 30}}));
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(PanelWindowsTest, RatingOutOfRangeGetsTheFocusBackAndBlocksTheSets) {
    connect(sim);
    select(3, kBranchMeter);
    shell.whileModal = [&](QDialog& d) {
        sim.clearRequests();
        type(rating(d, 7), "51");
        leave(rating(d, 8));
        EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 10 and 50."}));
        EXPECT_EQ(QApplication::focusWidget(), rating(d, 7));

        child<QLineEdit>(d, "globalRating")->setText("40");
        child<QPushButton>(d, "globalRatingSet")->click();
        child<QPushButton>(d, "okButton")->click();
        EXPECT_EQ(op.messages.size(), 3U);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), rating(d, 7));
        EXPECT_TRUE(sim.writes().empty());

        type(rating(d, 7), "25");
        child<QPushButton>(d, "globalRatingSet")->click();
        EXPECT_EQ(sim.writes(), (Writes{{3, 267, 40}}));
        EXPECT_EQ(rating(d, 7)->text(), "40");  // read back from the meter
        EXPECT_EQ(rating(d, 42)->text(), "40");
    };
    shell.dispatch(32772);
    EXPECT_EQ(op.messages.size(), 3U);
}

TEST_F(PanelWindowsTest, GlobalRatingIsKeptBetweenOpenings) {
    connect(sim);
    select(3, kBranchMeter);
    shell.whileModal = [&](QDialog& d) {
        EXPECT_EQ(child<QLineEdit>(d, "globalRating")->text(), "20");
        type(child<QLineEdit>(d, "globalRating"), "35");
        leave(child<QLineEdit>(d, "panelName"));
        d.reject();
    };
    shell.dispatch(32772);
    shell.whileModal = [&](QDialog& d) { EXPECT_EQ(child<QLineEdit>(d, "globalRating")->text(), "35"); };
    shell.dispatch(32772);
    EXPECT_EQ(shell.modalRuns, 2);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(PanelWindowsTest, CircuitMeterWindowLayoutWithLockedSelection) {
    connect(sim);
    sim.set(8, 72, {0x8007});
    station().meters().setNames("MAIN", "BRD1");
    select(8, kCircuitMeter8);
    shell.whileModal = [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Panel Configuration");
        EXPECT_EQ(groupTitles(d), (QStringList{"Board Name", "CT Size", "Meter Enable", "Panel Name"}));
        EXPECT_TRUE(labelTexts(d).contains("Firmware V2.7"));
        EXPECT_TRUE(labelTexts(d).contains("Serial Number - 02000008"));
        auto* second = child<QLineEdit>(d, "secondName");
        auto* first = child<QLineEdit>(d, "firstName");
        EXPECT_EQ(second->text(), "BRD1");
        EXPECT_EQ(first->text(), "MAIN");
        EXPECT_LT(second->mapTo(&d, QPoint(0, 0)).x(), first->mapTo(&d, QPoint(0, 0)).x());
        EXPECT_TRUE(second->isReadOnly() && first->isReadOnly());
        EXPECT_EQ(child<QLineEdit>(d, "ctSize")->text(), "100");
        for (int box = 1; box <= 8; ++box) {
            auto* check = child<QCheckBox>(d, QString("meterEnable%1").arg(box).toLatin1().constData());
            EXPECT_EQ(check->text(), QString::number(box));
            EXPECT_TRUE(check->isTristate());
            EXPECT_EQ(check->checkState(), box <= 3 ? Qt::Checked : Qt::Unchecked) << box;
            check->click();
            EXPECT_EQ(check->checkState(), box <= 3 ? Qt::Checked : Qt::Unchecked) << box;
        }
        // Locked: only the "Panel Name" and "CT Size" "SET" buttons remain.
        EXPECT_EQ(visibleButtons(d, "SET"), 2);
        EXPECT_FALSE(child<QPushButton>(d, "meterEnableSet")->isVisible());
        EXPECT_FALSE(child<QPushButton>(d, "boardNameSet")->isVisible());
        EXPECT_FALSE(child<QLineEdit>(d, "boardName")->isEnabled());
        EXPECT_TRUE(child<QPushButton>(d, "okButton")->isDefault());
        screenshot(d, "panel_config_dialog_locked");
    };
    shell.dispatch(32772);
    EXPECT_EQ(shell.modalRuns, 1);
}

TEST_F(PanelWindowsTest, CircuitMeterWindowBoxesCtSizeAndNetworkDisplayMessage) {
    connect(sim);
    select(7, kCircuitMeter6);
    shell.whileModal = [&](QDialog& d) {
        screenshot(d, "panel_config_dialog");
        auto box = [&](int n) { return child<QCheckBox>(d, QString("meterEnable%1").arg(n).toLatin1().constData()); };
        EXPECT_EQ(box(7)->checkState(), Qt::PartiallyChecked);
        EXPECT_EQ(box(8)->checkState(), Qt::PartiallyChecked);
        box(7)->click();
        box(8)->click();
        EXPECT_EQ(box(7)->checkState(), Qt::PartiallyChecked);
        EXPECT_EQ(box(8)->checkState(), Qt::PartiallyChecked);
        box(4)->click();
        EXPECT_EQ(box(4)->checkState(), Qt::Checked);
        EXPECT_EQ(visibleButtons(d, "SET"), 4);

        sim.clearRequests();
        auto* ctSize = child<QLineEdit>(d, "ctSize");
        type(ctSize, "6000");
        leave(child<QLineEdit>(d, "panelName"));
        EXPECT_EQ(op.texts(), (std::vector<std::string>{"Please enter an integer between 1 and 5999."}));
        EXPECT_EQ(QApplication::focusWidget(), ctSize);
        child<QPushButton>(d, "meterEnableSet")->click();
        EXPECT_EQ(op.messages.size(), 2U);
        EXPECT_TRUE(sim.writes().empty());
        EXPECT_EQ(box(4)->checkState(), Qt::Checked);  // a box click keeps the typed texts
        EXPECT_EQ(ctSize->text(), "6000");

        type(ctSize, "5999");
        child<QPushButton>(d, "ctSizeSet")->click();
        child<QPushButton>(d, "meterEnableSet")->click();
        EXPECT_EQ(sim.writes(), (Writes{{7, 29, 5999}, {7, 72, 0x0B}}));
        ASSERT_EQ(op.messages.size(), 3U);
        EXPECT_EQ(op.messages[2].text,
                  "When using a network display, you should perform a\r\n'FIND METERS' operation at the display "
                  "after changing meter selection\r\nsettings.  Otherwise, comms failures may occur.");
        child<QPushButton>(d, "okButton")->click();
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.result(), QDialog::Accepted);
    };
    shell.dispatch(32772);
    EXPECT_EQ(sim.get(7, 29, 1), (std::vector<int>{5999}));
}

}  // namespace
}  // namespace quorna::test
