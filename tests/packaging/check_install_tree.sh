#!/usr/bin/env bash
# Installs the build into a scratch prefix and runs the installed program from there and from a copy moved
# elsewhere: it must load the native serial library from its private folder, never from the build tree.
# Usage: check_install_tree.sh BUILD_DIR
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/usr" >/dev/null
lib="$(find "$work/usr" -name libtspWin.so)"
case "$lib" in
    "$work/usr/lib/"*/tavlo/libtspWin.so | "$work/usr/lib/tavlo/libtspWin.so") ;;
    *) echo "the native library is not in a private folder below the library folder: ${lib:-missing}"; exit 1 ;;
esac
for program in tavlo tavlo-sim; do
    runpath="$(readelf -d "$work/usr/bin/$program" | sed -n 's/.*(RUN\{0,1\}PATH).*\[\(.*\)\]/\1/p')"
    if [ "$runpath" != "\$ORIGIN/../$(dirname "${lib#"$work/usr/"}")" ]; then
        echo "$program: run path '$runpath' does not lead to ${lib#"$work/usr/"}"
        exit 1
    fi
done
run_list_ports() {
    local status=0
    HOME="$work" "$1/bin/tavlo" --list-ports >"$work/out" 2>"$work/err" || status=$?
    echo "$status"
}
for tree in "$work/usr" "$work/moved/usr"; do
    if [ "$tree" = "$work/moved/usr" ]; then mkdir -p "$work/moved" && mv "$work/usr" "$tree"; fi
    status="$(run_list_ports "$tree")"
    if [ "$status" != 0 ]; then
        echo "tavlo --list-ports from $tree ended with status $status:"
        cat "$work/err"
        exit 1
    fi
done
# Without its library the installed program must fail (status 2): it found the one in its private folder.
rm "$work/moved/usr/${lib#"$work/usr/"}"
status="$(run_list_ports "$work/moved/usr")"
if [ "$status" != 2 ]; then
    echo "tavlo --list-ports without its private library ended with status $status, not 2"
    exit 1
fi
echo "the installed program loads its native library from ${lib#"$work/"}, also after the tree was moved"
