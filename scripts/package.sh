#!/usr/bin/env bash
# Builds the Debian package in build-pkg/, checks what it holds, and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."

app_id=org.example.irlearn

scripts/deps.sh
tools=(dpkg-dev file desktop-file-utils appstream lintian)
missing=()
for p in "${tools[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -ne 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Without CMAKE_SKIP_INSTALL_ALL_DEPENDENCY cpack would build "all": simulator, tests, benchmarks.
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build build-pkg --target irlearn_installed
rm -f build-pkg/irlearn_*.deb
(cd build-pkg && cpack -G DEB --config CPackConfig.cmake)

debs=(build-pkg/irlearn_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "package.sh: expected one build-pkg/irlearn_*.deb" >&2
    exit 1
fi
deb=$(realpath "${debs[0]}")

failed=0
fail() {
    echo "package.sh: $*" >&2
    failed=1
}

programs=(irlearn)
targets=$(cmake --build build-pkg --target help)
grep -q '^irlearn-cli:' <<<"$targets" && programs+=(irlearn-cli)

listing=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
expected=(
    "${programs[@]/#/./usr/bin/}"
    "./usr/share/applications/$app_id.desktop"
    "./usr/share/metainfo/$app_id.metainfo.xml"
    "./usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    "./usr/lib/udev/rules.d/60-irlearn-serial.rules"
    "./usr/share/doc/irlearn/copyright"
    "./usr/share/doc/irlearn/changelog.gz"
    "./usr/share/doc/irlearn/README.md"
)
for program in "${programs[@]}"; do
    expected+=("./usr/share/man/man1/$program.1.gz")
done
for n in 16 24 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${n}x${n}/apps/$app_id.png")
done
for path in "${expected[@]}"; do
    grep -qxF "$path" <<<"$listing" || fail "missing from the package: ${path#.}"
done

# dpkg-shlibdeps failing quietly would leave a package that installs without Qt.
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the Qt libraries: '$depends'"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

desktop-file-validate "$root/usr/share/applications/$app_id.desktop" ||
    fail "desktop-file-validate found errors"
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
# Without --no-net: every address the metainfo gives has to be real.
appstreamcli validate "$metainfo" || fail "appstreamcli found errors"
lintian --fail-on error "$deb" || fail "lintian found errors"

# Software centres show the metainfo's newest release as the installed version.
version=$(dpkg-deb -f "$deb" Version)
grep -q "<release version=\"$version\"" "$metainfo" ||
    fail "the metainfo has no release $version: add one to packaging/$app_id.metainfo.xml"
for program in "${programs[@]}"; do
    grep -qF "<binary>$program</binary>" "$metainfo" ||
        fail "the metainfo does not provide $program"
done

for n in 16 24 32 48 64 128 256; do
    png=$root/usr/share/icons/hicolor/${n}x${n}/apps/$app_id.png
    [ -f "$png" ] || continue
    grep -q "PNG image data, $n x $n," <<<"$(file -b "$png")" || fail "${png#"$root"} is not $n x $n"
done

# udevadm verify arrived with systemd 253; Debian 12's udevadm lacks it.
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$root/usr/lib/udev/rules.d/60-irlearn-serial.rules" || fail "udevadm verify failed"
fi

[ "$failed" -eq 0 ] || exit 1
echo "$deb"
