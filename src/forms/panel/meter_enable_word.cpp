#include "forms/panel/meter_enable_word.h"

#include "meters/meter_model.h"

namespace quorna {
namespace {

constexpr int kFirstFreeBox = 2, kLastFreeBox = 6;  // boxes every model uses
constexpr int kMeterOneBit = 0x01;

constexpr int bitOf(int box) { return 1 << (box - 1); }
constexpr std::size_t slot(int box) { return static_cast<std::size_t>(box - 1); }

BoxState toggled(BoxState state) {
    return state == BoxState::Unchecked ? BoxState::Checked : BoxState::Unchecked;
}

}  // namespace

MeterEnableBoxes MeterEnableWord::boxes(int word, int model) {
    MeterEnableBoxes result{};
    result[slot(1)] = BoxState::Checked;
    for (int box = 2; box <= kMeterEnableBoxCount; ++box) {
        if (box > kLastFreeBox && model != kCircuitMeter8) {
            result[slot(box)] = BoxState::Indeterminate;
        } else {
            result[slot(box)] = (word & bitOf(box)) != 0 ? BoxState::Checked : BoxState::Unchecked;
        }
    }
    return result;
}

int MeterEnableWord::compose(const MeterEnableBoxes& boxes, int model) {
    int word = kMeterOneBit;
    const int lastBox = model == kCircuitMeter8 ? kMeterEnableBoxCount : kLastFreeBox;
    for (int box = kFirstFreeBox; box <= lastBox; ++box) {
        if (boxes[slot(box)] != BoxState::Unchecked) word |= bitOf(box);
    }
    return word;
}

BoxState MeterEnableWord::clicked(const MeterEnableBoxes& boxes, int box, bool locked, int model) {
    if (box < 1 || box > kMeterEnableBoxCount) return BoxState::Unchecked;
    const BoxState now = boxes[slot(box)];
    if (box == 1) return BoxState::Checked;
    if (locked) return now;
    if (box > kLastFreeBox && model == kCircuitMeter6) return BoxState::Indeterminate;
    return toggled(now);
}

}  // namespace quorna
