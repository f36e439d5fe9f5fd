#!/bin/sh
# Opens thumb's window with a sample map already rendered (default: village.ivm). Needs a display;
# without one, the window tests grab it before and after a render instead (see the message).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
thumb="$root/build/release/thumb/thumb"
map="${1:-$root/samples/maps/village.ivm}"
[ -x "$thumb" ] || { echo "demo-thumb-window: build Release first ($thumb is missing)" >&2; exit 1; }
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
    echo "demo-thumb-window: no display, so the window is not opened. The window test (built by"
    echo "./test.sh) grabs it instead:"
    echo "  $root/build/release/tests/test_thumbwindow --gtest_filter='*OverTheStrip'"
    echo "  (writes $root/build/release/thumbwindow/before.png and after.png)"
    exit 0
fi
exec "$thumb" "$map"
