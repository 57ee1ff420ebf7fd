#pragma once
// The logic of the comms configuration dialog "Configuration": serial port, speed, parity and
// scan depth, acting on the station's settings at once, with "Save", "OK" and "Cancel"; and the
// comms command that runs the dialog and reopens the port when the operator chose another one.

#include <array>
#include <functional>
#include <string>

#include "logging/logging.h"

namespace quorna {

// The port buttons "COM1" to "COM4" and the names they open.
inline constexpr std::array<const char*, 4> kPortButtonNames{"COM1:", "COM2:", "COM3:", "COM4:"};
// The speed buttons "2400", "4800", "9600", "19.2K" and the codes they store.
inline constexpr std::array<const char*, 4> kSpeedButtonTexts{"2400", "4800", "9600", "19.2K"};
inline constexpr std::array<int, 4> kSpeedButtonCodes{256, 512, 2048, 8192};
// The parity buttons "None", "Even", "Odd" and the codes they store.
inline constexpr std::array<const char*, 3> kParityButtonTexts{"None", "Even", "Odd"};
inline constexpr std::array<int, 3> kParityButtonCodes{0, 2, 1};

// The scan depth runs from 1 to 247 and wraps around at both ends.
inline constexpr int kMinScanDepth = 1;
inline constexpr int kMaxDialogScanDepth = 247;

inline constexpr const char* kLocationQuoteMessage = "The Location name may not contain quote characters";
// The (hidden) location edit takes 32 characters at most; a longer name can come only from the file.
inline constexpr int kLocationTextLimit = 32;

class CommsConfigDialog {
public:
    // Opening: keeps the saved copies (interval, port name, speed, parity, log file path,
    // location), picks the interval choice nearest to the logging interval and fills the texts.
    CommsConfigDialog(Bus& bus, Logging& logging);

    // The texts the controls show.
    [[nodiscard]] const std::string& portText() const { return m_portText; }
    [[nodiscard]] std::string depthText() const;     // "%d devices"
    [[nodiscard]] std::string intervalText() const;  // "%d min"
    [[nodiscard]] const std::string& logPathText() const { return m_logPathText; }
    [[nodiscard]] const std::string& dsnText() const { return m_dsnText; }
    [[nodiscard]] const std::string& tableText() const { return m_tableText; }
    [[nodiscard]] const std::string& locationText() const { return m_locationText; }
    void setLocationText(const std::string& text) { m_locationText = text; }
    [[nodiscard]] int intervalChoice() const { return m_intervalChoice; }

    // The buttons marked when the dialog opened, as indexes into the button tables above;
    // -1 when the setting matches none of them.
    [[nodiscard]] int markedPort() const { return m_markedPort; }
    [[nodiscard]] int markedSpeed() const { return m_markedSpeed; }
    [[nodiscard]] int markedParity() const { return m_markedParity; }

    // A port button: closes the open port and opens the chosen one at once with the current
    // speed and parity. On success the port text shows the new name; on failure
    // "Unable to open COMn:" is shown, no port is open and the name stays. True when open.
    bool clickPort(int index);
    // Speed and parity buttons store their codes; they reach the line at the next open.
    void clickSpeed(int index);
    void clickParity(int index);

    // The depth arrows: +1 for the upper arrow, -1 for the lower one; 0 wraps to 247, 248 to 1.
    // In force at once: a running scan reads the depth before every address.
    void stepDepth(int steps);
    // The interval arrows (the control is not shown): +1 goes to the next longer choice,
    // wrapping from 60 minutes to 1 minute and back.
    void stepInterval(int steps);
    // The interval text was edited: a number at its start picks the nearest choice.
    void intervalEdited(const std::string& text);

    // "Save": writes the settings as they stand, with this dialog's location text and interval
    // choice; the configuration writer reports the outcome. The dialog stays open.
    bool save();
    // "OK": refuses a location the operator changed that has a quote character or more than 32
    // characters (message, dialog stays open, nothing stored); the location the dialog opened
    // with passes unchecked. Otherwise stores the location and the chosen interval and recomputes the next
    // logging moment. True when the dialog closes.
    bool ok();
    // "Cancel": puts the saved copies back. The depth stays, and so does a port that a port
    // button closed or opened.
    void cancel();

private:
    Bus& m_bus;
    Logging& m_logging;  // the settings, and the clock whose next moment "OK" recomputes

    // Saved copies for "Cancel".
    int m_savedInterval;
    std::string m_savedPortName;
    int m_savedSpeed;
    int m_savedParity;
    std::string m_savedLogPath;
    std::string m_savedLocation;

    int m_intervalChoice;
    std::string m_portText;
    std::string m_logPathText;
    std::string m_dsnText;
    std::string m_tableText;
    std::string m_locationText;
    int m_markedPort = -1;
    int m_markedSpeed = -1;
    int m_markedParity = -1;
};

// The comms command: runs the dialog (runDialog returns true for "OK"). After "OK" with another
// port name than before, the port is opened again by that name (which scans the bus when it
// opens) and the bus is scanned; both scans run in steps after the command (scanStep), a scan of
// the old port ending first. Otherwise the old name is put back; a port that the dialog's
// buttons opened stays open.
void CommsCommand(Meters& meters, const std::function<bool()>& runDialog);

}  // namespace quorna
