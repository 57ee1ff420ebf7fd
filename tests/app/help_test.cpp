// The manual behind the Help buttons: each window's "Help" opens the help window scrolled to that
// window's own section, and the built document holds every section the windows ask for and every
// picture it shows.

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <string>

#include "bus/serial_link.h"
#include "gui/alarms/breaker_alarm_window.h"
#include "gui/main/command_ids.h"
#include "gui/main/comms_config_window.h"
#include "gui/main/help_anchors.h"
#include "main_window_fixture.h"
#include "meters/meter_scan.h"
#include "meters/meters.h"

// The help document is a resource of the Qt layer's static library; its registration is named.
static void registerHelp() { Q_INIT_RESOURCE(quorna_help); }

namespace quorna::test {
namespace {

template <typename T>
T* topLevel() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<T*>(w); found != nullptr && found->isVisible()) return found;
    }
    return nullptr;
}

// The text of the first block the help window shows at its top edge.
std::string topBlockText(QTextBrowser& help) {
    const int top = help.verticalScrollBar()->value();
    QAbstractTextDocumentLayout* layout = help.document()->documentLayout();
    for (QTextBlock block = help.document()->begin(); block.isValid(); block = block.next()) {
        if (layout->blockBoundingRect(block).bottom() > top + 1) return block.text().toStdString();
    }
    return {};
}

QTextBrowser* helpOf(MainWindow& window) { return qobject_cast<QTextBrowser*>(window.helpWindow()); }

TEST_F(MainWindowTest, HelpButtonsOpenTheManualAtTheirWindowsSection) {
    startBus({"3:230"});
    station().settings().scanDepth = 3;
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    MeterScan(station().meters());
    ASSERT_EQ(station().meters().selected().address, 3);

    // The modal "Configuration" window, run by its command as the menu runs it.
    std::string atComms;
    bool commsOpen = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(waitUntil([] { return topLevel<CommsConfigWindow>() != nullptr; }, 4000));
        auto* comms = topLevel<CommsConfigWindow>();
        commsOpen = true;
        comms->findChild<QPushButton*>(QStringLiteral("help"))->click();
        QTextBrowser* help = helpOf(*window);
        ASSERT_NE(help, nullptr);
        ASSERT_TRUE(waitUntil([&] { return help->isVisible(); }, 2000));
        atComms = topBlockText(*help);
        comms->reject();
    });
    window->dispatch(kCmdComms);
    ASSERT_TRUE(commsOpen);
    EXPECT_EQ(atComms, "Comms configuration");
    EXPECT_GT(helpOf(*window)->verticalScrollBar()->value(), 0);

    // The modeless "Alarm Setup" of the Branch meter; the help window already open scrolls on.
    window->dispatch(kCmdSetpoints);
    auto* alarms = topLevel<BreakerAlarmWindow>();
    ASSERT_NE(alarms, nullptr);
    alarms->helpButton()->click();
    EXPECT_EQ(topBlockText(*helpOf(*window)), "Breaker alarm setup");
    alarms->reject();
    // For a look by eye: <build>/screenshots/help_window.png.
    EXPECT_TRUE(helpOf(*window)->grab().save(QStringLiteral(QUORNA_BINARY_DIR "/screenshots/help_window.png")));

    // "Help Index" goes back to the contents.
    window->dispatch(kCmdHelpIndex);
    EXPECT_EQ(topBlockText(*helpOf(*window)), "Contents");
}

TEST(HelpDocument, HoldsEverySectionTheWindowsOpenAndEveryPictureItShows) {
    registerHelp();
    QFile file(QStringLiteral(":/help/quorna-help.html"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());

    EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"%1\">").arg(QLatin1String(help::kContents))));
    for (const char* anchor : help::kWindowAnchors) {
        EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"%1\">").arg(QLatin1String(anchor)))) << anchor;
    }

    // Every window has its picture, a real one taken of the window on the offscreen platform.
    const QRegularExpression image(QStringLiteral("<img src=\"(images/[a-z_]+\\.png)\""));
    int pictures = 0;
    for (auto m = image.globalMatch(html); m.hasNext();) {
        const QString path = QStringLiteral(":/help/") + m.next().captured(1);
        const QImage picture(path);
        EXPECT_FALSE(picture.isNull()) << path.toStdString();
        EXPECT_GT(picture.width(), 150) << path.toStdString();
        EXPECT_GT(picture.height(), 80) << path.toStdString();
        ++pictures;
    }
    EXPECT_GE(pictures, 13);
}

}  // namespace
}  // namespace quorna::test
