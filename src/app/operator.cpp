#include "app/operator.h"

namespace quorna {
namespace {

class SilentOperator final : public Operator {
public:
    void messageBox(const std::string&, const std::string&) override {}
    void setWaitCursor(bool) override {}
    void transferFields() override {}
    void showLamps() override {}
    void repaintNow() override {}
    void applyLayout(Layout) override {}
    void meterListChanged() override {}
    void repaintTrace() override {}
};

SilentOperator g_silent;
Operator* g_operator = &g_silent;

}  // namespace

Operator& ui() { return *g_operator; }

void setOperator(Operator* op) { g_operator = op != nullptr ? op : &g_silent; }

}  // namespace quorna
