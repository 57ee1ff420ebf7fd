#pragma once
// A stand-in for the main window in window tests: it keeps the commands bound to it and runs a
// modal dialog by showing it and handing it to the test, which clicks what the operator would.

#include <QDialog>
#include <QDir>
#include <QImage>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>

#include "app/app_shell.h"

namespace quorna::test {

struct BoundCommand {
    std::function<void()> handler;
    QString menu;
    QString entry;
    QKeySequence shortcut;
};

class StubShell : public AppShell {
public:
    QWidget* mainWindow() override { return &m_window; }
    void addCommand(int id, std::function<void()> handler, const QString& menu, const QString& entry,
                    const QKeySequence& shortcut) override {
        commands[id] = {std::move(handler), menu, entry, shortcut};
    }
    void dispatch(int id) override {
        auto found = commands.find(id);
        ASSERT_NE(found, commands.end()) << "no command " << id;
        found->second.handler();
    }
    // Shows the dialog, lets the test act on it, and returns its result once it has closed.
    // A dialog the test leaves open is cancelled, as Esc would.
    int runModal(QDialog& dialog) override {
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        if (whileModal) whileModal(dialog);
        if (dialog.isVisible()) dialog.reject();
        return dialog.result();
    }

    std::function<void(QDialog&)> whileModal;
    std::map<int, BoundCommand> commands;

private:
    QWidget m_window;
};

// Saves the widget's picture to <build>/screenshots/<name>.png and checks that it shows something.
inline void saveScreenshot(QWidget& widget, const std::string& name) {
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
