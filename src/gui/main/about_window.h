#pragma once
// The About box: the program's picture, name and version, and "OK".

#include <QDialog>

namespace quorna {

inline constexpr const char* kAboutCaption = "About Orvo Monitoring Software";
// The version is the project's, defined once in the build.
inline constexpr const char* kAboutText = "Orvo Metering, V" QUORNA_VERSION;

class AboutWindow final : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent);
};

}  // namespace quorna
