#pragma once
// What the Qt parts of the subsystems need of the main window: a parent for their windows, a
// place for their commands (with an optional menu entry and shortcut), and a modal run that keeps
// the polling timer ticking.

#include <QKeySequence>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace quorna {

class Station;

class AppShell {
public:
    virtual ~AppShell() = default;

    // The main window, parent of every dialog.
    virtual QWidget* mainWindow() = 0;

    // The running system the windows work on.
    virtual Station& station() = 0;

    // How the protocol trace window repaints itself at once (Operator::repaintTrace); nothing
    // until one is set.
    virtual void setTraceRepaint(std::function<void()> repaint) = 0;

    // Binds a command identifier to its handler. With a menu title and an entry text the main
    // window also offers it in that menu ("File", "Configuration", "Help", or a new one), with
    // the shortcut when one is given.
    virtual void addCommand(int id, std::function<void()> handler, const QString& menu = {},
                            const QString& entry = {}, const QKeySequence& shortcut = {}) = 0;

    // Runs the command bound to the identifier, as the menu would.
    virtual void dispatch(int id) = 0;

    // Opens the help window at the section of the help document with that anchor
    // (gui/main/help_anchors.h), as a window's "Help" button does.
    virtual void showHelpAt(const QString& anchor) = 0;

    // Runs a dialog modally. Timer ticks keep polling while it is open, also when the caller
    // itself runs inside a tick. Returns the dialog's result.
    virtual int runModal(QDialog& dialog) = 0;
};

// Each subsystem's Qt part binds its commands here; the main window calls them once at start.
void installCommsCommands(AppShell& shell);    // app: 32783 "Comms"
void installTraceCommands(AppShell& shell);    // bus: 32776 protocol trace window
void installAlarmCommands(AppShell& shell);    // alarms: 32781 "Setpoints", 32782 "Delays"
void installPanelCommands(AppShell& shell);    // panel: 32772 panel configuration
void installLoggingCommands(AppShell& shell);  // logging: 32777 log file, 32778 database setup

}  // namespace quorna
