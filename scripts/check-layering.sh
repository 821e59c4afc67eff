#!/usr/bin/env bash
# Keeps the dependency direction: widgets only in src/ui, no Qt at all in
# src/geo, and QtGui below ui only through src/platform.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
status=0
widgets=$(grep -rlE '#include <Q(Widget|Dialog|MainWindow|Application|PushButton|Label|LineEdit|ComboBox|MessageBox|Menu|Slider|ToolBar|DockWidget|TabWidget|SpinBox|CheckBox|RadioButton|ListWidget|FileDialog)>' \
  "$ROOT/src" --include='*.h' --include='*.cpp' | grep -v "^$ROOT/src/ui/" || true)
if [ -n "$widgets" ]; then echo "Widget code outside src/ui:"; echo "$widgets"; status=1; fi
qt_in_geo=$(grep -rlE '#include <Q' "$ROOT/src/geo" || true)
if [ -n "$qt_in_geo" ]; then echo "Qt in src/geo:"; echo "$qt_in_geo"; status=1; fi
gui=$(grep -rlE '#include <Q(Image|Painter|Font|FontMetrics|Color|Pixmap|GuiApplication)>' "$ROOT/src" \
  | grep -vE "^$ROOT/src/(ui|platform)/" | grep -vx "$ROOT/src/cli/main.cpp" || true)
if [ -n "$gui" ]; then echo "QtGui outside src/platform and src/ui:"; echo "$gui"; status=1; fi
# vistrel-cli only makes the GUI application its text drawing needs: no
# widgets, no window code, and nothing below includes it.
cli_up=$(grep -rlE '#include "ui/' "$ROOT/src/cli" || true)
if [ -n "$cli_up" ]; then echo "Window code in src/cli:"; echo "$cli_up"; status=1; fi
if grep -qE 'Widgets|vistrel_ui' "$ROOT/src/cli/CMakeLists.txt"; then
  echo "src/cli links widget code"; status=1
fi
cli_down=$(grep -rlE '#include "cli/' "$ROOT/src" | grep -v "^$ROOT/src/cli/" || true)
if [ -n "$cli_down" ]; then echo "Includes of src/cli from other layers:"; echo "$cli_down"; status=1; fi
upward=$(grep -rlE '#include "(ui|tasks)/' "$ROOT/src/platform" "$ROOT/src/geo" "$ROOT/src/core" "$ROOT/src/tilestore" "$ROOT/src/fetch" "$ROOT/src/view" "$ROOT/src/regions" "$ROOT/src/formats" || true)
if [ -n "$upward" ]; then echo "Includes pointing up the layers:"; echo "$upward"; status=1; fi
exit $status
