#include "app/main_window_fields.h"

namespace quorna {
namespace {
MainWindowFields g_fields;
}  // namespace

MainWindowFields& mainFields() { return g_fields; }

}  // namespace quorna
