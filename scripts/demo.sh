#!/usr/bin/env bash
# Installs what is missing, builds, starts the device simulator and opens the window with the
# simulated device pinned as COM1 (device number 0001). No hardware needed. The settings file is
# left as it was found: the pin to the simulator's terminal would outlive it and push a real
# port off COM1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: run this from a desktop session (or set QT_QPA_PLATFORM)." >&2
    exit 1
fi

runtime="${XDG_RUNTIME_DIR:-/tmp}/irlearn-demo-$(id -u)"
mkdir -p "$runtime"
link="$runtime/COM1"
settings="build/src/VexoSet.ini"
saved="$runtime/VexoSet.ini.saved"

rm -f "$saved"
[ -f "$settings" ] && cp -p "$settings" "$saved"
sim=
restore() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null
    if [ -f "$saved" ]; then mv -f "$saved" "$settings"; else rm -f "$settings"; fi
}
trap restore EXIT
trap 'exit 130' INT TERM

# The simulator names its terminal on stdout; the line below says it once.
build/tools/devsim/irlearn-devsim --link "$link" --log "$runtime/devsim.log" --seed 1 >/dev/null &
sim=$!
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

# First run: remember COM1 and device 0001, as an operator would have left them.
if [ ! -f "$settings" ]; then
    printf '[Setup]\r\nTXPort=COM1\r\nTXsbID=0001\r\n' > "$settings"
fi
build/tools/devsim/irlearn-devsim --pin-settings "$settings" --as COM1 --link "$link"

echo "Simulated device on $link (frames logged to $runtime/devsim.log)."
build/src/irlearn
