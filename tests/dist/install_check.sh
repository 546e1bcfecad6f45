#!/bin/bash
# Installs the build into a scratch DESTDIR and checks the
# tree a desktop reads: programs, every hicolor icon at its pixel size (the
# sizes the program has built in identical to its own), the desktop entries
# and AppStream file through their validators, the man pages through groff,
# and the data folder the desktop entry starts the program in.
#   install_check.sh BUILD_DIR BUILT_IN_ICON_DIR BINDIR DATADIR MANDIR
# (the last three as configured, e.g. /usr/local/bin)
set -u
build=$1
builtin_icons=$2
bin=$3
share=$4
mandir=$5
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

DESTDIR=$root cmake --install "$build" >"$root.log" 2>&1 ||
  { cat "$root.log" >&2; rm -f "$root.log"; echo "FAIL: cmake --install" >&2; exit 1; }
rm -f "$root.log"
data=$root$share/vestibell

for program in vestibell vestibell-doorsim; do
  [ -x "$root$bin/$program" ] || fail "bin/$program missing or not executable"
done
# It names itself, in its examples too, by the name it is installed under.
usage=$("$root$bin/vestibell-doorsim" --help 2>/dev/null)
grep -q '^Usage: vestibell-doorsim ' <<<"$usage" ||
  fail "vestibell-doorsim --help prints no usage under its own name"
grep -qE '(^|[ |]) *doorsim ' <<<"$usage" &&
  fail "vestibell-doorsim --help names a command that is not installed"
grep -q "screenshot" "$root$share/metainfo/org.vestibell.Vestibell.metainfo.xml" ||
  fail "the AppStream metadata shows no screenshot"

for size in 16 22 24 32 48 64 128 256; do
  icon=$root$share/icons/hicolor/${size}x${size}/apps/vestibell.png
  if [ ! -f "$icon" ]; then
    fail "no ${size} px icon"
    continue
  fi
  got=$(identify -format '%m %wx%h' "$icon" 2>&1)
  [ "$got" = "PNG ${size}x${size}" ] || fail "${size} px icon is '$got'"
  builtin=$builtin_icons/vestibell_$size.png
  if [ -f "$builtin" ]; then
    diff=$(compare -metric AE "$icon" "$builtin" null: 2>&1)
    [ "$diff" = 0 ] || fail "${size} px icon differs from the built-in one ($diff pixels)"
  fi
done

apps=$root$share/applications
for entry in "$apps/vestibell.desktop" "$data/autostart/vestibell.desktop"; do
  [ -f "$entry" ] || { fail "no ${entry#"$root"}"; continue; }
  out=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out" ] ||
    fail "desktop-file-validate ${entry#"$root"}: $out"
  grep -qx "Path=$share/vestibell" "$entry" ||
    fail "${entry#"$root"} does not start the program in $share/vestibell"
  grep -qx 'Icon=vestibell' "$entry" || fail "${entry#"$root"} names another icon"
done

metainfo=$root$share/metainfo/org.vestibell.Vestibell.metainfo.xml
if [ -f "$metainfo" ]; then
  out=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1) ||
    fail "appstreamcli validate: $out"
  launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
  [ -f "$apps/$launchable" ] || fail "AppStream launchable '$launchable' not installed"
else
  fail "no AppStream metadata"
fi

for page in vestibell vestibell-doorsim; do
  man=$root$mandir/man1/$page.1
  [ -f "$man" ] || { fail "no man page $page(1)"; continue; }
  out=$(groff -man -Tutf8 -ww -z "$man" 2>&1)
  [ -z "$out" ] || fail "groff warns on $page(1): $out"
  grep -q '@[A-Z_]*@' "$man" && fail "$page(1) has an unreplaced @VARIABLE@"
done

got=$(identify -format '%m %wx%h' "$data/Skin/pozadi.jpg" 2>&1)
[ "$got" = "JPEG 320x240" ] || fail "Skin/pozadi.jpg is '$got'"
[ "$(head -c 4 "$data/ring.wav" 2>/dev/null)" = RIFF ] &&
  [ "$(dd if="$data/ring.wav" bs=1 skip=8 count=4 2>/dev/null)" = WAVE ] ||
  fail "ring.wav is not a WAVE file"

[ "$failures" -eq 0 ] || exit 1
echo "installed tree OK"
