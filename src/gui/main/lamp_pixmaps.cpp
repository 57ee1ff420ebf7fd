#include "gui/main/lamp_pixmaps.h"

#include <QPainter>

namespace quorna {
namespace {

QPixmap drawLamp(const QColor& colour) {
    QPixmap pixmap(kLampSize, kLampSize);
    pixmap.fill(Qt::black);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    const int margin = (kLampSize - kLampDiscDiameter) / 2;
    painter.drawEllipse(margin, margin, kLampDiscDiameter, kLampDiscDiameter);
    return pixmap;
}

}  // namespace

const QPixmap& lampPixmap(Lamp lamp) {
    // Kept for the life of the process: pixmaps must not outlive the application object's
    // destruction order, so they are never destroyed.
    static const QPixmap* const green = new QPixmap(drawLamp(QColor(0, 255, 0)));
    static const QPixmap* const yellow = new QPixmap(drawLamp(QColor(255, 255, 0)));
    static const QPixmap* const red = new QPixmap(drawLamp(QColor(255, 0, 0)));
    static const QPixmap* const unknown = new QPixmap(drawLamp(QColor(96, 96, 96)));
    switch (lamp) {
        case Lamp::Yellow: return *yellow;
        case Lamp::Red: return *red;
        case Lamp::Unknown: return *unknown;
        case Lamp::Green: break;
    }
    return *green;
}

QIcon windowIconImage() {
    constexpr int kIconSize = 32;
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 40, 48));
    painter.drawRoundedRect(1, 1, kIconSize - 2, kIconSize - 2, 5, 5);
    painter.setBrush(QColor(0, 255, 0));
    painter.drawEllipse(8, 8, kIconSize - 16, kIconSize - 16);
    painter.end();
    return QIcon(pixmap);
}

}  // namespace quorna
