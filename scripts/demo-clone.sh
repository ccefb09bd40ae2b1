#!/usr/bin/env bash
# Starts N simulated devices (default 4) pinned as COM1 ... COMN in build/src/VexoSet.ini, the
# settings file irlearn-cli reads in a build tree, and keeps them running until Ctrl-C. Another
# terminal can then run irlearn-cli against them, as the README shows. On exit the settings file
# is put back as it was found, so no port stays pinned to a terminal that is gone.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-4}
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target irlearn-cli irlearn-devsim

runtime="${XDG_RUNTIME_DIR:-/tmp}/irlearn-demo-$(id -u)"
mkdir -p "$runtime"
settings="build/src/VexoSet.ini"
saved="$runtime/VexoSet.ini.clone-saved"

rm -f "$saved"
[ -f "$settings" ] && cp -p "$settings" "$saved"
pids=()
restore() {
    [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null
    if [ -f "$saved" ]; then mv -f "$saved" "$settings"; else rm -f "$settings"; fi
}
trap restore EXIT
trap 'exit 130' INT TERM

[ -f "$settings" ] || printf '[Setup]\r\nTXPort=COM1\r\nTXsbID=0001\r\n' > "$settings"

for n in $(seq "$count"); do
    link="$runtime/COM$n"
    build/tools/devsim/irlearn-devsim --link "$link" --log "$runtime/devsim$n.log" --seed "$n" >/dev/null &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
    build/tools/devsim/irlearn-devsim --pin-settings "$settings" --as "COM$n" --link "$link"
done

echo "$count simulated devices on COM1 ... COM$count (frames logged to $runtime/devsim*.log)."
echo "Press Ctrl-C to stop them."
wait
