#include "stub_app_shell.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

#include "gui/main/command_ids.h"

namespace quorna::test {

void StubAppShell::addCommand(int id, std::function<void()> handler, const QString& menu,
                              const QString& entry, const QKeySequence& shortcut) {
    commands[id] = BoundCommand{std::move(handler), menu, entry, shortcut};
    bound.push_back(id);
}

void StubAppShell::dispatch(int id) {
    dispatched.push_back(id);
    if (auto found = commands.find(id); found != commands.end()) {
        found->second.handler();
    } else if (id != kCmdHelp) {
        ADD_FAILURE() << "no command " << id;
    }
}

StubAppShell::StubAppShell()
    : m_station([]() -> Station& {
          ADD_FAILURE() << "the test made no station";
          std::abort();
      }) {}

StubAppShell::~StubAppShell() {
    if ((answer || whileModal) && handedToTest == 0)
        ADD_FAILURE() << "a modal window was expected, and none ran: the test's checks inside were never made";
}

int StubAppShell::runModal(QDialog& dialog) {
    ++modalRuns;
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    dialog.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QApplication::processEvents();
    modalTitles.push_back(dialog.windowTitle());
    if (answer || whileModal) ++handedToTest;
    if (answer) {
        const int result = answer(dialog);
        dialog.hide();
        return result;
    }
    if (whileModal) whileModal(dialog);
    if (dialog.isVisible()) dialog.reject();
    return dialog.result();
}

void saveScreenshot(QWidget& widget, const std::string& name) {
    const QImage image = widget.grab().toImage();
    ASSERT_GT(image.width(), 100);
    ASSERT_GT(image.height(), 50);
    bool varied = false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height() && !varied; y += 3) {
        for (int x = 0; x < image.width() && !varied; x += 3) varied = image.pixel(x, y) != first;
    }
    EXPECT_TRUE(varied) << name << " is one colour";
    const QString folder = QStringLiteral(QUORNA_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + "/" + QString::fromStdString(name) + ".png"));
}

}  // namespace quorna::test
