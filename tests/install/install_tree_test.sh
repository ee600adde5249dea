#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks the tree as a packager
# and a user meet it: every file in place, the programs run from it, the unit
# passes systemd's check, the manual pages render without a warning.
# Usage: install_tree_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

prefix=$(cache CMAKE_INSTALL_PREFIX)
etc=$(cache CMAKE_INSTALL_SYSCONFDIR)
case "$etc" in /*) ;; *) etc="$prefix/$etc" ;; esac
[ "$prefix" = /usr ] && etc=/etc

DESTDIR="$work/pkg" cmake --install "$build" >/dev/null
root="$work/pkg"
p="$root$prefix"
for f in "$p/bin/kvserver" "$p/bin/kvquery" "$p/bin/kvprobe" \
         "$p/lib/kelvara/cgi-bin/kvpage" "$p/lib/kelvara/cgi-bin/skeleton.html" \
         "$p/lib/systemd/system/kvserver.service" "$p/lib/sysusers.d/kelvara.conf" \
         "$root$etc/default/kvserver" "$root$etc/lighttpd/conf-available/50-kelvara.conf" \
         "$p/share/kelvara/lighttpd-standalone.conf" \
         "$p/share/man/man1/kvserver.1" "$p/share/man/man1/kvquery.1" \
         "$p/share/man/man1/kvpage.1" "$p/share/man/man1/kvprobe.1"; do
  [ -e "$f" ] || fail "missing ${f#"$root"}"
done
for f in bin/kvserver bin/kvquery bin/kvprobe lib/kelvara/cgi-bin/kvpage; do
  [ -x "$p/$f" ] || fail "$f is not executable"
done
unit="$p/lib/systemd/system/kvserver.service"
grep -q "^ExecStart=$prefix/bin/kvserver \$KVSERVER_OPTIONS\$" "$unit" || fail "the unit does not start $prefix/bin/kvserver"
grep -q "^EnvironmentFile=-$etc/default/kvserver\$" "$unit" || fail "the unit does not read $etc/default/kvserver"
grep -q "\"/kelvara/\" => \"$prefix/lib/kelvara/cgi-bin/\"" "$root$etc/lighttpd/conf-available/50-kelvara.conf" ||
  fail "the lighttpd setup does not point at the installed kvpage"
for f in "$unit" "$root$etc/default/kvserver" "$root$etc/lighttpd/conf-available/50-kelvara.conf"; do
  if grep -q '@[A-Z_]*@' "$f"; then fail "unfilled @NAME@ field in ${f#"$root"}"; fi
done

# The programs run from the tree.
export KELVARA_COM3="sim:21.5,-,25.5"
# Whole outputs first: a grep that stops reading early would make the writer fail.
out=$("$p/bin/kvserver" -h) || fail "kvserver -h: exit status"
grep -q '^Kelvara thermometer server 1.0$' <<<"$out" || fail "kvserver -h"
out=$("$p/bin/kvquery" -h) || fail "kvquery -h: exit status"
grep -q '^Kelvara thermometer client 1.0$' <<<"$out" || fail "kvquery -h"
out=$("$p/bin/kvprobe" -com 3) || fail "kvprobe: exit status"
grep -q '^Verdict: the port works' <<<"$out" || fail "kvprobe on a simulated bus"
page=$(cd "$p/lib/kelvara/cgi-bin" && REQUEST_METHOD=GET QUERY_STRING='format=html&what=1-3' ./kvpage)
grep -q 'Er-13' <<<"$page" || fail "kvpage did not read the sensors"
grep -qi '<!doctype html>' <<<"$page" || fail "kvpage did not fill the installed template"

# The manual pages render without a warning.
for page in kvserver kvquery kvpage kvprobe; do
  out=$(groff -man -Tutf8 -ww -z "$p/share/man/man1/$page.1" 2>&1)
  [ -z "$out" ] || fail "$page.1: $out"
done

# systemd's own check of the unit, pointed at the binary in the scratch tree
# (the unit names the final path, which need not exist on this machine).
if command -v systemd-analyze >/dev/null; then
  sed "s|^ExecStart=$prefix/bin/kvserver|ExecStart=$p/bin/kvserver|" "$unit" >"$work/kvserver.service"
  out=$(systemd-analyze verify --man=no "$work/kvserver.service" 2>&1 | grep -v -i -E "user.*kelvara|kelvara.*user" || true)
  [ -z "$out" ] || fail "systemd-analyze verify: $out"
else
  echo "systemd-analyze is not installed: unit check skipped"
fi

if [ "$failures" -ne 0 ]; then exit 1; fi
echo "install tree ok"
