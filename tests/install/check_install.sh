#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks every installed file,
# then makes the Debian package and starts its programs.
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
expected=(
  usr/bin/arcovelo
  usr/bin/arcovelo-cli
  usr/share/applications/org.arcovelo.Arcovelo.desktop
  usr/share/metainfo/org.arcovelo.Arcovelo.metainfo.xml
  usr/share/man/man1/arcovelo.1.gz
  usr/share/man/man1/arcovelo-cli.1.gz
  usr/share/bash-completion/completions/arcovelo-cli
  usr/share/doc/arcovelo/copyright
  usr/share/doc/arcovelo/changelog.Debian.gz
)
for size in 16 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/arcovelo.png")
done
for f in "${expected[@]}"; do
  [ -s "$work/root/$f" ] || fail "$f is not installed"
done
for size in 16 32 48 64 128 256; do
  file "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/arcovelo.png" | grep -q "$size x $size, 8-bit/color RGBA" ||
    fail "the $size icon is not $size x $size with a transparent background"
done

desktop=$work/root/usr/share/applications/org.arcovelo.Arcovelo.desktop
desktop-file-validate "$desktop" || fail "desktop entry"
grep -q '^Exec=arcovelo$' "$desktop" || fail "Exec"
# The metainfo with the desktop entry it names; warnings and infos fail too.
appstreamcli validate-tree --strict --no-net "$work/root" >"$work/appstream.txt" ||
  fail "appstreamcli validate-tree: $(cat "$work/appstream.txt")"
for page in arcovelo arcovelo-cli; do
  warnings=$(MANWIDTH=80 man --warnings -l -E UTF-8 "$work/root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $page.1.gz: $warnings"
done
bash -n "$work/root/usr/share/bash-completion/completions/arcovelo-cli" || fail "completion script"
# What the completion offers for the words given, in a folder holding a
# file a.bck and a folder b.bck (as bash splits them: "--level=m" is three).
complete_words() {
  (cd "$work/completion" && bash -c 'source "$0"; COMP_WORDS=(arcovelo-cli "$@"); COMP_CWORD=$#; _arcovelo_cli
    echo "${COMPREPLY[*]}"' "$work/root/usr/share/bash-completion/completions/arcovelo-cli" "$@")
}
mkdir -p "$work/completion/b.bck" && touch "$work/completion/a.bck"
[ "$(complete_words backup a.bck --level m)" = "max" ] || fail "completion of --level m"
[ "$(complete_words backup a.bck --level = f)" = "fastest" ] || fail "completion of --level=f"
words=$(complete_words backup --title foo "")
[ "$words" = "b.bck a.bck" ] || fail "completion of the archive after --title foo gave '$words'"

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null) || fail "cpack"
deb=$(ls "$work"/package/*.deb)
# Every error and warning fails, but the one about closing the bug of a
# first upload to Debian's archive: this package goes to no archive.
lintian --allow-root --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$deb" >"$work/lintian.txt" 2>&1 ||
  fail "lintian: $(cat "$work/lintian.txt")"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 zlib1g libdeflate0 libsqlite3-0 fonts-liberation2; do
  echo "$depends" | grep -q "$lib" || fail "the package does not depend on $lib: $depends"
done
dpkg-deb -x "$deb" "$work/unpacked"
"$work/unpacked/usr/bin/arcovelo-cli" --version | grep -q '^arcovelo-cli ' || fail "the packaged arcovelo-cli does not start"
status=0
QT_QPA_PLATFORM=offscreen ARCOVELO_STATE_DIR="$work/state" timeout 3 "$work/unpacked/usr/bin/arcovelo" || status=$?
[ "$status" -eq 124 ] || fail "the packaged window program ended with $status instead of running"
echo "install and package: all checks passed"
