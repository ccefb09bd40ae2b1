#!/usr/bin/env bash
# Renders the pictures in docs/ from a build tree (scripts/build.sh first) on the simulated
# device: the window connected, the command table, a read at record 7 of 16, the save panel after
# a read, learning a numbered command, and a connect this user is not permitted. The last needs
# root: it gives the simulator's terminal to the dialout group and renders the window as a user
# outside it (a user id without a name, shown as USER).
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
shot=build/tools/screenshot/irlearn-screenshot
devsim=build/tools/devsim/irlearn-devsim

work=$(mktemp -d)
chmod 755 "$work"
# The window's session log goes with the rest of the run, not into the home folder.
export XDG_STATE_HOME="$work/state"
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
"$devsim" --link "$work/COM1" --log "$work/devsim.log" --seed 1 >/dev/null &
sim=$!
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done

settings="$work/VexoSet.ini"
printf '[Setup]\r\nTXPort=COM1\r\nTXsbID=0001\r\n' > "$settings"
"$devsim" --pin-settings "$settings" --as COM1 --link "$work/COM1"

"$shot" "$settings" docs/window.png connect
"$shot" "$settings" docs/command-table.png connect commands
"$shot" "$settings" docs/read-progress.png connect read 7
"$shot" "$settings" docs/save-panel.png connect save
"$shot" "$settings" docs/learn-prompt.png connect learn

# The learning wizard on a device that cannot take the code of 除湿 (command 5).
"$devsim" --link "$work/COM2" --log "$work/devsim2.log" --refuse-learn 5 &
sim2=$!
for _ in $(seq 50); do [ -e "$work/COM2" ] && break; sleep 0.1; done
wizard="$work/wizard.ini"
printf '[Setup]\r\nTXPort=COM2\r\nTXsbID=0001\r\n' > "$wizard"
"$devsim" --pin-settings "$wizard" --as COM2 --link "$work/COM2"
"$shot" "$wizard" docs/wizard.png connect wizard
kill "$sim2" 2>/dev/null || true

if [ "$(id -u)" -ne 0 ]; then
    echo "docs/not-permitted.png needs root; left as it is." >&2
    exit 0
fi
# Pinned by its own name, as an adapter's /dev/ttyUSB0 would be.
pts=$(readlink -f "$work/COM1")
chgrp dialout "$pts"
chmod 660 "$pts"
denied="$work/denied.ini"
printf '[Setup]\r\nTXPort=COM1\r\nTXsbID=0001\r\n[Ports]\r\nCOM1=%s\r\n' "$pts" > "$denied"
chmod 644 "$denied"
chmod 777 "$work"
setpriv --reuid=4242 --regid=4242 --clear-groups env USER=operator HOME="$work" \
    XDG_STATE_HOME="$work/operator-state" \
    "$shot" "$denied" "$work/not-permitted.png" connect
cp "$work/not-permitted.png" docs/not-permitted.png
