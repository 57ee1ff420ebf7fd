#pragma once
// The logic of a Circuit meter's "Panel Configuration" window: the panel and board names, the CT
// size and the meter enables, each written at once by its own "SET"; the firmware and serial-number
// lines. "OK" and "Cancel" write nothing.
//
// The window is bound to the meter (address and model) that was selected when it opened: every
// read and write goes to that address, whatever the operator selects in the main window meanwhile.

#include <optional>
#include <string>

#include "forms/panel/meter_enable_word.h"
#include "meters/meters.h"

namespace quorna {

inline constexpr int kCtSizeRegister = 29;
inline constexpr int kCtSizeLow = 1, kCtSizeHigh = 5999;  // the sizes whose current scale is not 0
inline constexpr int kInitialCtSize = 100;

// Shown after the meter enables were sent (no caption of its own).
inline constexpr const char* kNetworkDisplayMessage =
    "When using a network display, you should perform a\r\n'FIND METERS' operation at the display "
    "after changing meter selection\r\nsettings.  Otherwise, comms failures may occur.";

class PanelConfigDialog {
public:
    explicit PanelConfigDialog(Meters& meters) : m_meters(meters) {}

    enum Field : int { kBoardNameField = 0, kPanelNameField = 1, kCtSizeField = 2 };

    struct Texts {
        std::string firstName;   // top right, display only
        std::string secondName;  // top left, display only
        std::string panelName;
        std::string boardName;
        std::string ctSize;
        std::string firmwareText;
        std::string serialText;
    };

    // Binds the window to the selected meter and model, reads firmware version, serial number,
    // names, CT size and enable word (with the wait cursor); fills the texts.
    void open();
    // Reads names, CT size and enable word again. A failed name read leaves the names as they
    // were; a failed CT size read shows the field empty, and a failed enable word read shows the
    // locked form (box 1 checked, the others unchecked), so that nothing of a meter opened before
    // or of a failed read is shown as the meter's or sent.
    void refresh();

    // Takes the fields from the texts (names at most four characters, CT size 1 to 5999). The
    // first failing field stops the take, its message is shown and it is returned; else nothing.
    [[nodiscard]] std::optional<int> takeFields();
    void showFields();

    // The "SET" buttons. Each sends nothing while a field fails its take and returns that field.
    // The board name and meter enables are left alone while the meter's selection is locked.
    [[nodiscard]] std::optional<int> setPanelName();
    [[nodiscard]] std::optional<int> setBoardName();
    [[nodiscard]] std::optional<int> setCtSize();
    [[nodiscard]] std::optional<int> setMeterEnable();
    // A click on meter enable box 1 to 8 (the boxes do not toggle by themselves).
    void clickBox(int box);
    // "OK": returns nothing when the fields pass and the window may close.
    [[nodiscard]] std::optional<int> accept() { return takeFields(); }

    Texts texts;

    [[nodiscard]] int boundAddress() const { return m_address; }
    [[nodiscard]] int boundModel() const { return m_model; }
    [[nodiscard]] const MeterEnableBoxes& boxes() const { return m_boxes; }
    [[nodiscard]] bool meterSelectionLocked() const { return m_meterSelectionLocked; }
    [[nodiscard]] bool enableWordKnown() const { return m_enableWordKnown; }
    [[nodiscard]] int ctSize() const { return m_ctSize; }
    [[nodiscard]] const std::string& panelName() const { return m_panelName; }
    [[nodiscard]] const std::string& boardName() const { return m_boardName; }

private:
    Meters& m_meters;
    void readNames();
    [[nodiscard]] std::optional<int> setName(const std::string& name, int firstRegister);

    int m_address = -1;
    int m_model = 0;
    std::string m_firstName, m_panelName;
    std::string m_secondName, m_boardName;
    int m_ctSize = kInitialCtSize;
    int m_ctSizeRead = kInitialCtSize;  // as the meter gave it: shown, so it passes a take
    bool m_ctSizeFromMeter = false;  // the last read of register 29 succeeded
    bool m_ctSizeEntered = false;    // the operator entered a CT size since the window opened
    MeterEnableBoxes m_boxes{};
    bool m_meterSelectionLocked = true;
    bool m_enableWordKnown = false;  // the last read of register 72 succeeded
    std::string m_firmwareText, m_serialText;
};

}  // namespace quorna
