#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first the suite on scaled timings (in
# parallel), then, as a step of its own, the real-time set that keeps the device's absolute timings
# honest (label "realtime").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
cd build
ctest --output-on-failure --timeout 600 -j4 -LE realtime
ctest --output-on-failure --timeout 600 -j2 -L realtime
