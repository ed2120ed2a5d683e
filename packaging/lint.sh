#!/usr/bin/env bash
# Runs the desktop's validators and lintian on a build folder where `cpack -G DEB` has run.
# Lintian's errors fail; its warnings are shown.
set -euo pipefail
build=${1:?usage: lint.sh BUILD_DIR}
shopt -s nullglob
debs=("$build"/grafonel_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "lint: expected one grafonel_*.deb in $build, found ${#debs[@]}" >&2; exit 1; }
deb=${debs[0]}

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"

run() { echo "+ $*"; "$@"; }
run desktop-file-validate "$tree"/usr/share/applications/*.desktop
run appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml
# lintian exits non-zero on errors only with --fail-on error.
run lintian --fail-on error --tag-display-limit 0 "$deb"
echo "lint: $(basename "$deb") passes"
