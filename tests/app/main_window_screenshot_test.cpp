// Pictures of both layouts after a poll, saved into the build tree for a look by eye.

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QImage>
#include <QPixmap>

#include "meters/main_window_fields.h"
#include "bus/serial_link.h"
#include "main_window_fixture.h"
#include "meters/meter_list.h"
#include "meters/meter_model.h"
#include "meters/meter_scan.h"
#include "meters/meters.h"
#include "settings/configuration.h"

namespace quorna::test {
namespace {

bool hasManyColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    }
    return colours.size() > 8;
}

QString savedShot(QWidget& window, const char* name) {
    const QString dir = QStringLiteral(QUORNA_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    const QString path = dir + "/" + name;
    EXPECT_TRUE(window.grab().save(path, "PNG"));
    return path;
}

TEST_F(MainWindowTest, ScreenshotsOfBothLayouts) {
    startBus({"3:230", "7:236"});
    sim->command("name 3 PNL1");
    sim->command("name 7 MAIN");
    sim->command("name2 7 LP2");
    sim->set(3, 42, {0x09, 0x0005, 0, 0, 0x0001, 0, 0});
    sim->set(7, 36, {0x01});
    station().settings().scanDepth = 7;
    openWindow();
    ASSERT_TRUE(selectPort(station().bus(), "COM1:"));
    MeterScan(station().meters());
    ASSERT_EQ(station().meters().list().count(), 2);
    ASSERT_TRUE(waitUntil([&] { return window->controls().firstName->text() == "PNL1"; }, 4000));

    const QImage branch(savedShot(*window, "main_branch.png"));
    EXPECT_GE(branch.width(), 400);
    EXPECT_GE(branch.height(), 350);
    EXPECT_TRUE(hasManyColours(branch));

    window->controls().meterList->setCurrentRow(1);
    ASSERT_EQ(station().meters().selected().address, 7);
    ASSERT_TRUE(waitUntil([&] { return window->controls().secondName->text() == "LP2"; }, 4000));
    const QImage circuit(savedShot(*window, "main_circuit.png"));
    EXPECT_EQ(circuit.size(), branch.size());
    EXPECT_TRUE(hasManyColours(circuit));
    EXPECT_NE(circuit, branch);
}

}  // namespace
}  // namespace quorna::test
