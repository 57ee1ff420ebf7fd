#pragma once
// The logic of "Logging File Setup": file logging on or off, the log file and its format.
// Every choice acts on the settings at once, so logging moments that fall while the dialog is
// open use it; "Cancel" puts back what the settings held when the dialog opened.

#include <string>

#include "logging/logging.h"

namespace quorna {

inline constexpr const char* kNoFileChosenMessage = "You must specify a file before enabling the logging function!";

// What the save-file dialog offers: the name it proposes and the extension added to a typed
// name without one.
inline constexpr const char* kDefaultLogFileName = "DATA";
inline constexpr const char* kDefaultLogFileExtension = "TXT";

class LogFileDialog {
public:
    // Keeps a copy of the path, the enabled flag and the format for "Cancel".
    explicit LogFileDialog(Logging& logging);

    // What the controls show: the path, the check box, and the one marked format button
    // (kFormatTab for format 2, kFormatSpace for 3, kFormatComma for any other value).
    [[nodiscard]] const std::string& path() const;
    [[nodiscard]] bool loggingActive() const;
    [[nodiscard]] int markedFormat() const;

    // The operator clicked "Logging Active" and the box now shows checked. Without a file the
    // box is refused with a message and logging stays off. Returns the box's state afterwards.
    bool setLoggingActive(bool checked);
    // A format button: the format changes at once.
    void chooseFormat(int format);
    // The save-file dialog was confirmed with this name: it becomes the log file path at once,
    // with ".TXT" added when the name has no extension. An empty name changes nothing.
    void chooseFile(const std::string& name);

    // "OK": every record still waiting for the file is discarded.
    void ok();
    // "Cancel": path, enabled flag and format as they were when the dialog opened.
    void cancel();

private:
    Logging& m_logging;  // its settings, and the file queue that "OK" empties
    std::string m_savedPath;
    bool m_savedEnabled;
    int m_savedFormat;
};

// The name with the default extension added when its last path component has none.
[[nodiscard]] std::string withDefaultExtension(const std::string& name);

}  // namespace quorna
