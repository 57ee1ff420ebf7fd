#include "gui/main/about_window.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "gui/main/dialog_units.h"
#include "gui/main/lamp_pixmaps.h"

namespace quorna {
namespace {

constexpr int kPictureWidth = 84, kPictureHeight = 54;

// A small panelboard: three lamps on a dark front.
QPixmap aboutPicture() {
    QPixmap pixmap(kPictureWidth, kPictureHeight);
    pixmap.fill(QColor(192, 192, 192));
    QPainter painter(&pixmap);
    painter.setPen(Qt::black);
    painter.setBrush(QColor(40, 40, 48));
    painter.drawRect(6, 6, kPictureWidth - 13, kPictureHeight - 13);
    const Lamp lamps[] = {Lamp::Green, Lamp::Yellow, Lamp::Red};
    for (int i = 0; i < 3; ++i) painter.drawPixmap(16 + i * 20, 20, lampPixmap(lamps[i]));
    return pixmap;
}

}  // namespace

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kAboutCaption));
    const DialogUnits u(font());
    setFixedSize(u.x(197), u.y(102));

    auto* picture = new QLabel(this);
    picture->setPixmap(aboutPicture());
    picture->setAccessibleName(QStringLiteral("Program picture"));
    picture->setGeometry(u.x(11), u.y(10), kPictureWidth, kPictureHeight);

    auto* version = new QLabel(QString::fromLatin1(kAboutText), this);
    version->setObjectName(QStringLiteral("aboutText"));
    version->setGeometry(u.rect(80, 14, 110, 8));
    auto* blank = new QLabel(QString(), this);
    blank->setGeometry(u.rect(80, 30, 110, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(u.rect(140, 78, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace quorna
