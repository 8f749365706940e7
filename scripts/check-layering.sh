#!/usr/bin/env bash
# Dependencies point down only: the engine knows no widgets and no platform
# code; the platform layer knows none of the program.
set -u
cd "$(dirname "$0")/.."
fail=0
check() { # description, pattern, folders...
  local what=$1 pattern=$2; shift 2
  local hits
  hits=$(grep -rnE "$pattern" "$@" --include='*.h' --include='*.cpp' 2>/dev/null)
  if [ -n "$hits" ]; then echo "layering: $what"; echo "$hits"; fail=1; fi
}
check "the engine must not use Qt Widgets" '#include <Qt?Widgets|#include <QWidget>|QApplication' engine
check "the engine must not use platform or program code" '#include "(platform|player|mainwindow|commands|startup)/' engine
# Script engines are installed by the front ends: the layers below them name none.
check "the display runtime must not use a script engine" '#include "engine/avm[0-9]/' engine/display engine/render engine/sound engine/swf engine/core
check "the platform layer must not use program code" '#include "(mainwindow|commands|startup)/' platform
check "swfrender uses the engine only" '#include "(platform|player|mainwindow|commands|startup)/' tools
[ $fail -eq 0 ] && echo "layering: ok"
exit $fail
