#include "gui/main/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace quorna {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded as the dialog manager rounds it.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(letters);
    m_baseX = qMax(1, (width / 26 + 1) / 2);
    m_baseY = qMax(1, metrics.height());
}

}  // namespace quorna
