#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first the suite on scaled timings (in
# parallel), then, as a step of its own, the real-time set that keeps the device's absolute timings
# honest (label "realtime").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
cd build
# Six at a time whatever the cores: the scaled suite spends most of its time waiting on simulated
# devices (about a sixth of it on the CPU), and its tests hold on a busy machine.
ctest --output-on-failure --timeout 600 -j6 -LE realtime
ctest --output-on-failure --timeout 600 -j2 -L realtime
