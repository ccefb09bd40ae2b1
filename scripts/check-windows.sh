#!/usr/bin/env bash
# Windows stays a target: every source file of src/ must compile (syntax only) with the mingw-w64
# compiler against Qt's headers. POSIX-only code has to be fenced behind Q_OS_UNIX for this to pass.
# Needs a configured build/ (for the window's generated ui header): run scripts/build.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends g++-mingw-w64-x86-64-posix
fi
qt=/usr/include/x86_64-linux-gnu/qt6
ui=$(dirname "$(find build -name ui_mainwindow.h -print -quit)")
failed=0
for f in $(git ls-files 'src/*.cpp'); do
    if ! x86_64-w64-mingw32-g++-posix -std=c++17 -fsyntax-only -w -DQT_NO_CAST_FROM_ASCII \
        -DQT_NO_CAST_TO_ASCII -DQT_NO_CAST_FROM_BYTEARRAY -DIRLEARN_VERSION=\"0\" -Isrc -Isrc/ui -I"$ui" -I"$qt" \
        -I"$qt/QtCore" -I"$qt/QtGui" -I"$qt/QtWidgets" -I"$qt/QtNetwork" -I"$qt/QtSerialPort" "$f"; then
        echo "does not compile for Windows: $f" >&2
        failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "Windows syntax check: every file of src/ compiles."
exit "$failed"
