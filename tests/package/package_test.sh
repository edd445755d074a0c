#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks what a user gets
# when installing it: exactly the program, its desktop entry, its icons and
# its manual page (never the fixture generator or anything of the build), the
# package dependencies and recommendations, a valid desktop entry that names
# the installed program and icon, a manual page covering every option of
# --help, and an extracted program that prints its version without a display
# and carries out a batch run on a generated installation; lintian reports
# no error and no warning on it.
#   package_test.sh BUILD_DIR VERSION FIXTURE_GENERATOR
set -euo pipefail

BUILD="$1"
VERSION="$2"
FIXTURE="$3"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate groff gzip lintian; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
done

if ! cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1; then
  cat "$WORK/cpack.log" >&2
  echo "FAIL: cpack -G DEB" >&2
  exit 1
fi
shopt -s nullglob
debs=("$WORK"/out/*.deb)
[[ ${#debs[@]} -eq 1 ]] || { echo "FAIL: expected one .deb, got ${#debs[@]}" >&2; exit 1; }
DEB="${debs[0]}"
[[ "$(basename "$DEB")" == "mirsalex_${VERSION}_$(dpkg --print-architecture).deb" ]] ||
  fail "package file name $(basename "$DEB")"

# Exactly these files, nothing more (no fixture generator, tests, libraries, headers).
expected="./usr/bin/mirsalex
./usr/share/applications/mirsalex.desktop
./usr/share/doc/mirsalex/changelog.gz
./usr/share/doc/mirsalex/copyright
./usr/share/icons/hicolor/48x48/apps/mirsalex.png
./usr/share/icons/hicolor/scalable/apps/mirsalex.svg
./usr/share/man/man1/mirsalex.1.gz"
actual="$(dpkg-deb --fsys-tarfile "$DEB" | tar -t -v | awk '$1 !~ /^d/ { print $NF }' | sort)"
[[ "$actual" == "$expected" ]] || fail "file list differs:
$(diff <(echo "$expected") <(echo "$actual") || true)"
dpkg-deb --fsys-tarfile "$DEB" | tar -t -v | awk '$NF == "./usr/bin/mirsalex" { print $1 }' | grep -q '^-rwxr-xr-x$' ||
  fail "usr/bin/mirsalex is not an executable 0755 file"

# Control fields.
field() { dpkg-deb -f "$DEB" "$1"; }
[[ "$(field Package)" == mirsalex ]] || fail "Package: $(field Package)"
[[ "$(field Version)" == "$VERSION" ]] || fail "Version: $(field Version), expected $VERSION"
for f in Maintainer Section Description Architecture; do
  [[ -n "$(field "$f")" ]] || fail "no $f field"
done
depends="$(field Depends)"
names="$(echo "$depends" | tr ',' '\n' | sed -e 's/^ *//' -e 's/[ (].*//' | sort -u)"
for need in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libsqlite3-0; do
  grep -qx "$need" <<<"$names" || fail "Depends lacks $need: $depends"
done
if grep -q -- 'libqt6sql6' <<<"$names"; then fail "Depends names Qt SQL, which the program does not use: $depends"; fi
if grep -q -- '-dev$' <<<"$names"; then fail "Depends names a development package: $depends"; fi
# Every dependency names a package of this Debian release, in a version that
# satisfies it (the build machine has them all: the program was built with them).
while read -r dep; do
  name="${dep%% *}"
  have="$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null || true)"
  if [[ -z "$have" ]]; then
    fail "dependency $name is not a package known here"
  elif [[ "$dep" =~ \(([<>=]+)\ ([^\)]+)\) ]]; then
    op="${BASH_REMATCH[1]}"
    case "$op" in ">=") op=ge ;; "<=") op=le ;; "=") op=eq ;; ">>") op=gt ;; "<<") op=lt ;; esac
    dpkg --compare-versions "$have" "$op" "${BASH_REMATCH[2]}" || fail "dependency $dep: version $have here"
  fi
done < <(echo "$depends" | tr ',' '\n' | sed -e 's/^ *//' -e 's/:any//')
grep -q 'qt6-translations-l10n' <<<"$(field Recommends)" ||
  fail "Recommends lacks qt6-translations-l10n (Italian standard buttons): $(field Recommends)"

# Debian's package checker: no error and no warning (information tags are
# printed but do not fail).
if ! lint="$(lintian --no-cfg --fail-on error,warning --display-info "$DEB" 2>&1)"; then
  fail "lintian:
$lint"
elif [[ -n "$lint" ]]; then
  echo "lintian (information only):
$lint"
fi

# Installed the way dpkg lays it out, without touching this machine.
ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
DESKTOP="$ROOT/usr/share/applications/mirsalex.desktop"
desktop-file-validate "$DESKTOP" || fail "desktop entry is not valid"
entry() { sed -n "s/^$1=//p" "$DESKTOP"; }
[[ "$(entry Exec)" == mirsalex* && -x "$ROOT/usr/bin/$(entry Exec | cut -d' ' -f1)" ]] ||
  fail "Exec=$(entry Exec) is not the installed program"
icon="$(entry Icon)"
[[ -f "$ROOT/usr/share/icons/hicolor/scalable/apps/$icon.svg" && -f "$ROOT/usr/share/icons/hicolor/48x48/apps/$icon.png" ]] ||
  fail "Icon=$icon has no installed icon"
for key in 'Name\[it\]' 'Comment\[it\]' Categories; do
  [[ -n "$(entry "$key")" ]] || fail "desktop entry has no $key"
done

# The extracted program runs with a bare environment: no display, nothing of
# the caller's but the sanitizer settings of a sanitizer build.
clean_env=(PATH=/usr/bin:/bin HOME="$WORK" XDG_STATE_HOME="$WORK/state")
for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
  if [[ -n "${!v:-}" ]]; then clean_env+=("$v=${!v}"); fi
done

# It starts and answers --version with no display at all.
out="$(env -i "${clean_env[@]}" "$ROOT/usr/bin/mirsalex" --version 2>&1)" ||
  fail "mirsalex --version failed: $out"
[[ "$out" == "mirsalex $VERSION" ]] || fail "mirsalex --version printed '$out'"

# The packaged (stripped) program does a real run: databases through the Qt
# SQLite driver, documents, the configuration file.
"$FIXTURE" --out "$WORK/inst" --operators 1 --clients 20 --documents 5 >/dev/null ||
  fail "the fixture generator failed"
if ! out="$(env -i "${clean_env[@]}" "$ROOT/usr/bin/mirsalex" --batch \
  --ini "$WORK/inst/portable/mirsalex.ini" --side portable --yes </dev/null 2>&1)"; then
  fail "batch run of the packaged program failed: $out"
fi
grep -q 'FINE AGGIORNAMENTO' <<<"$out" || fail "batch run did not end with FINE AGGIORNAMENTO: $out"

# The manual page: compressed, well formed, and naming every option --help lists.
MAN="$ROOT/usr/share/man/man1/mirsalex.1.gz"
gzip -t "$MAN" || fail "manual page is not a valid gzip file"
warnings="$(gzip -dc "$MAN" | LC_ALL=C.UTF-8 groff -man -ww -z 2>&1)"
[[ -z "$warnings" ]] || fail "manual page warnings: $warnings"
page="$(gzip -dc "$MAN")"
grep -q '^\.TH MIRSALEX 1 ' <<<"$page" || fail "manual page has no .TH MIRSALEX 1 header"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS '"EXIT STATUS"' FILES; do
  grep -q "^\.SH $section" <<<"$page" || fail "manual page has no $section section"
done
options="$(env -i "${clean_env[@]}" "$ROOT/usr/bin/mirsalex" --help |
  sed -n 's/^ \{1,\}\(-[a-zA-Z], \)\{0,1\}--\([a-z][a-z-]*\).*/\2/p' | sort -u)"
[[ -n "$options" ]] || fail "no option found in --help"
for o in $options; do
  grep -q -- "\\\\-\\\\-${o//-/\\\\-}" <<<"$page" || fail "manual page does not describe --$o"
done

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $(basename "$DEB"): all checks passed"
