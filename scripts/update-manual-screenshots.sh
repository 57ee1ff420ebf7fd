#!/usr/bin/env bash
# Takes the manual's pictures anew: runs the window tests that photograph every window on the
# offscreen platform (the database windows against the throw-away ODBC data sources) and copies
# their pictures into doc/images/ under the names the manual uses. Commit the changed PNGs.
#   scripts/update-manual-screenshots.sh [BUILD_DIR]     (default: build-dev, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="${1:-$root/build-dev}"
bin="$build/tests-bin"
shots="$build/screenshots"

odbc_dir=$(mktemp -d /tmp/quorna-odbc.XXXXXX)
"$root/scripts/odbc-test-env.sh" start "$odbc_dir" > "$odbc_dir/env.sh"
trap '"$root/scripts/odbc-test-env.sh" stop "$odbc_dir" >/dev/null 2>&1 || true; rm -rf "$odbc_dir"' EXIT
# shellcheck disable=SC1091
. "$odbc_dir/env.sh"
export QT_QPA_PLATFORM=offscreen

rm -rf "$shots"
"$bin/main_window_tests" --gtest_filter='MainWindowTest.ScreenshotsOfBothLayouts' >/dev/null
for t in comms_window_tests trace_window_tests file_logging_window_tests database_dialogs_qt_tests \
         alarms_windows_test panel_gui_tests; do
  "$bin/$t" >/dev/null
done

# picture the tests save -> picture the manual shows
while read -r from to; do
  cp "$shots/$from" "$root/doc/images/$to"
done <<'LIST'
main_branch.png main_branch.png
main_circuit.png main_circuit.png
comms-config-dialog.png comms_config.png
protocol-trace-live.png protocol_trace.png
log-file-setup.png log_file.png
database_link_dialog.png database_link.png
add_table_dialog.png add_table.png
database_setup_dialog.png database_setup.png
breaker_alarm_setup.png breaker_alarms.png
alarm_delay_setup.png alarm_delays.png
global_limits_setup.png global_limits.png
panel_setup_dialog.png panel_setup.png
panel_config_dialog.png panel_config.png
LIST
ls -l "$root/doc/images"
