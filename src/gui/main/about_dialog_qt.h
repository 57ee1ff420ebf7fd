#pragma once
// The About box: the program's picture, name and version, and "OK".

#include <QDialog>

namespace quorna {

inline constexpr const char* kAboutCaption = "About Orvo Monitoring Software";
inline constexpr const char* kAboutText = "Orvo Metering, V1.0.3";

class AboutWindow final : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent);
};

}  // namespace quorna
