#!/usr/bin/env bash
# install_test.sh prefix|deb <build folder> <test data folder>
#   prefix: cmake --install into a scratch prefix puts every file where the
#           programs look for it, and the installed batch command runs.
#   deb:    cpack -G DEB makes a package with those files and its runtime
#           dependencies declared.
set -euo pipefail
what=$1 build=$2 testdata=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
has() { [ -e "$1" ] || fail "missing $1"; }

layout() {
  local root=$1
  for f in bin/vovarize bin/vovarize-batch bin/vovarize-mdb-reader \
           share/vovarize/使用说明.txt share/vovarize/translations/qtbase_zh_CN.qm \
           share/applications/vovarize.desktop share/man/man1/vovarize-batch.1 \
           share/icons/hicolor/scalable/apps/vovarize.svg; do
    has "$root/$f"
  done
  for size in 16 22 24 32 48 64 128 256; do
    local png="$root/share/icons/hicolor/${size}x${size}/apps/vovarize.png"
    has "$png"
    # Width and height from the PNG header.
    [ -e "$png" ] && [ "$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')" = \
      "$(printf '%08x%08x' "$size" "$size")" ] || fail "$png is not ${size}x${size}"
  done
}

case $what in
  prefix)
    prefix=$scratch/prefix
    cmake --install "$build" --prefix "$prefix" > "$scratch/install.log"
    layout "$prefix"
    entry=$prefix/share/applications/vovarize.desktop
    desktop-file-validate "$entry" || fail "desktop-file-validate refuses $entry"
    grep -qx 'Exec=vovarize' "$entry" || fail "Exec is not the installed program"
    grep -qx 'Icon=vovarize' "$entry" || fail "Icon is not the installed icon"
    grep -q '^Name\[zh_CN\]=.*数据' "$entry" || fail "no Chinese name"
    grep -q '^Comment\[zh_CN\]=.*迁移' "$entry" || fail "no Chinese comment"
    # The manual page renders without a warning, in the bare locale too.
    warnings=$(env -u LANG LC_ALL=C groff -man -Tutf8 -ww -z "$prefix/share/man/man1/vovarize-batch.1" 2>&1)
    [ -z "$warnings" ] || fail "groff: $warnings"
    # The installed batch command finds the installed reader beside it.
    batch=$prefix/bin/vovarize-batch
    "$batch" --help | grep -q 'vovarize-batch --old' || fail "--help prints no usage"
    env -u VOVARIZE_MDB_READER "$batch" --old "$testdata/access/nwind.mdb" --export Shippers \
      --to "$scratch/shippers.csv" > /dev/null || fail "the installed batch cannot export"
    grep -q 'Speedy Express' "$scratch/shippers.csv" 2>/dev/null || fail "export lacks the rows"
    ;;
  deb)
    (cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" > cpack.log 2>&1) ||
      { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
    deb=$(ls "$scratch"/vovarize_*.deb)
    mkdir "$scratch/root"
    dpkg-deb -x "$deb" "$scratch/root"
    layout "$scratch/root/usr"
    depends=$(dpkg-deb -f "$deb" Depends)
    for package in qt6-translations-l10n libqt6widgets6 libsqlite3-0 libpq5 libmariadb3 libmdb3 fonts-wqy-zenhei; do
      [[ $depends == *"$package"* ]] || fail "Depends lacks $package: $depends"
    done
    ;;
esac
[ $failures -eq 0 ] && echo "install_test.sh $what: passed"
exit $failures
