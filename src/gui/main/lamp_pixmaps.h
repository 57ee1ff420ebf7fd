#pragma once
// The indicator images of the main window: a filled disc 11 pixels across, pure green, yellow or
// red, or grey while the meter's state is unknown, on a black 13 x 13 ground.

#include <QIcon>
#include <QPixmap>

#include "meters/main_window_fields.h"

namespace quorna {

inline constexpr int kLampSize = 13;
inline constexpr int kLampDiscDiameter = 11;

// The image of a lamp state; drawn once, then shared.
const QPixmap& lampPixmap(Lamp lamp);

// The window icon: a green lamp on a dark panel.
QIcon windowIconImage();

}  // namespace quorna
