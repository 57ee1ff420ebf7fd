#pragma once
// Converts the main window's dialog units to pixels: a horizontal unit is a quarter of the
// font's average character width, a vertical unit an eighth of its height, so the window keeps
// its proportions whatever the font.

#include <QFont>
#include <QRect>

namespace quorna {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    [[nodiscard]] int x(int units) const { return scaled(units, m_baseX, 4); }
    [[nodiscard]] int y(int units) const { return scaled(units, m_baseY, 8); }
    [[nodiscard]] QRect rect(int left, int top, int width, int height) const {
        return {x(left), y(top), x(width), y(height)};
    }
    [[nodiscard]] int baseX() const { return m_baseX; }
    [[nodiscard]] int baseY() const { return m_baseY; }

private:
    // units * base / divisor, rounded to the nearest pixel.
    static int scaled(int units, int base, int divisor) { return (units * base * 2 + divisor) / (2 * divisor); }
    int m_baseX;
    int m_baseY;
};

}  // namespace quorna
