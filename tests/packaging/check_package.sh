#!/usr/bin/env bash
# Builds the Debian packages from a build tree and checks them as an administrator would
# meet them: lintian's verdict (hardening included), the files of each package and their
# owners, stripped programs that link no Qt, a changelog that names the packages' version,
# the core package alone installed in a scratch root and run without a display, then the
# window package beside it, and a purge of both.
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ! cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  exit 1
fi
core=$(ls "$scratch"/out/vandrelsql_*.deb)
window=$(ls "$scratch"/out/vandrelsql-window_*.deb 2>/dev/null || true)
[ -n "$window" ] || fail "no vandrelsql-window package"
version=$(dpkg-deb -f "$core" Version)
[ "$(dpkg-deb -f "$core" Recommends)" = "vandrelsql-window (= $version)" ] ||
  fail "vandrelsql does not recommend vandrelsql-window (= $version)"

# Lintian: no error and no warning beyond the overrides the packages carry, and no
# hardening note (fortify needs an optimised build, so a Debug build may lack only that).
command -v lintian >/dev/null || { echo "FAIL: lintian is missing (scripts/setup installs it)" >&2; exit 1; }
if ! lintian -I --fail-on error,warning "$core" $window >"$scratch/lintian.log" 2>&1; then
  fail "lintian:"; grep -v 'root privileges' "$scratch/lintian.log" >&2
fi
allowed='^$'
grep -q '^CMAKE_BUILD_TYPE:STRING=Debug$' "$build/CMakeCache.txt" && allowed='hardening-no-fortify-functions'
hardening=$(grep -E 'hardening-no-' "$scratch/lintian.log" | grep -Ev "$allowed" || true)
[ -z "$hardening" ] || fail "not hardened: $hardening"

# Lines of "mode owner path [-> target]".
contents() {
  dpkg-deb -c "$1" | awk '{line = $1 " " $2 " " $6; if ($7 != "") line = line " " $7 " " $8; print line}'
}
contents "$core" >"$scratch/contents"
[ -z "$window" ] || contents "$window" >"$scratch/contents-window"
not_root=$(cat "$scratch"/contents* | grep -v ' root/root ' || true)
[ -z "$not_root" ] || fail "not owned by root: $not_root"
has() {  # has CONTENTS PATH...
  local list=$1; shift
  for path in "$@"; do
    grep -q "^-r[^ ]* root/root $path\$" "$list" || fail "missing file $path in $(basename "$list")"
  done
}
# The core package: programs, documentation, /opt/Corvessa empty, nothing of the window.
has "$scratch/contents" ./usr/share/doc/vandrelsql/copyright ./usr/share/doc/vandrelsql/changelog.gz \
    ./usr/share/doc/vandrelsql/usage.md.gz ./usr/share/doc/vandrelsql/examples/quillmereconfig.ini \
    ./usr/share/man/man1/vandrelsql.1.gz ./usr/share/lintian/overrides/vandrelsql \
    ./opt/vandrelsql/vandrelsql ./opt/vandrelsql/vandrelsql-check
grep -qxF 'drwxr-xr-x root/root ./opt/Corvessa/' "$scratch/contents" ||
  fail "/opt/Corvessa is not a root folder with mode 0755"
! grep -q ' \./opt/Corvessa/[^ ]' "$scratch/contents" || fail "/opt/Corvessa is not empty"
! grep -Eq ' \./(opt/vandrelsql/vandrelsql-window\.so|usr/share/applications/.*)$' "$scratch/contents" ||
  fail "the window's files are in the core package"
# The window package: the library, the menu entry, its own copyright and overrides.
[ -z "$window" ] || has "$scratch/contents-window" ./opt/vandrelsql/vandrelsql-window.so \
    ./usr/share/applications/vandrelsql.desktop ./usr/share/doc/vandrelsql-window/copyright \
    ./usr/share/lintian/overrides/vandrelsql-window
programs=$(awk '$3 ~ /^\.\/usr\/bin\/./ {sub("./usr/bin/", "", $3); print $3}' "$scratch/contents")
[ -n "$programs" ] || fail "nothing in /usr/bin"
for program in $programs; do
  grep -qxF "lrwxrwxrwx root/root ./usr/bin/$program -> /opt/vandrelsql/$program" "$scratch/contents" ||
    fail "/usr/bin/$program is not an absolute link to /opt/vandrelsql/$program"
  grep -qxF -- "-rw-r--r-- root/root ./usr/share/man/man1/$program.1.gz" "$scratch/contents" ||
    fail "no manual page for $program"
done

# The core package alone, installed into a scratch root by dpkg itself where that is
# allowed (as root), else unpacked.
root=$scratch/root
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  : >"$root/var/lib/dpkg/status"
  dpkg --root="$root" --force-depends -i "$core" >"$scratch/dpkg.log" 2>&1 ||
    { fail "dpkg -i:"; cat "$scratch/dpkg.log" >&2; }
else
  dpkg-deb -x "$core" "$root"
fi
for program in $programs; do
  file=$root/opt/vandrelsql/$program
  if ! readelf -h "$file" >/dev/null 2>&1; then
    fail "$program is not installed as a program"
    continue
  fi
  readelf -S -W "$file" | grep -Eq ' \.(symtab|debug_[a-z]+|comment) ' && fail "$program is not stripped"
  qt=$(readelf -d "$file" | grep -i 'NEEDED.*qt' || true)
  [ -z "$qt" ] && continue
  fail "$program links Qt: $qt"
done
# Without a display and without the window package, both programs work in the terminal.
mkdir -p "$scratch/pf" "$scratch/scripts"
headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ProgramFiles="$scratch/pf" timeout 60 "$@"; }
out=$(headless "$root/opt/vandrelsql/vandrelsql" 2>&1) && status=0 || status=$?
[ "$status" -eq 0 ] && [[ "$out" == *"Buscando actualizaciones"* ]] ||
  fail "vandrelsql without a display: exit $status: $out"
out=$(headless "$root/opt/vandrelsql/vandrelsql-check" "$scratch/scripts" 2>&1) && status=0 || status=$?
[ "$status" -eq 0 ] || fail "vandrelsql-check without a display: exit $status: $out"
changelog_version=$(gzip -dc "$root/usr/share/doc/vandrelsql/changelog.gz" |
  dpkg-parsechangelog -l - -S Version 2>/dev/null || true)
[ "$changelog_version" = "$version" ] ||
  fail "the changelog's latest entry is '$changelog_version', the package's version $version"

if [ -n "$window" ]; then
  if [ "$(id -u)" -eq 0 ]; then
    dpkg --root="$root" --force-depends -i "$window" >"$scratch/dpkg.log" 2>&1 ||
      { fail "dpkg -i window:"; cat "$scratch/dpkg.log" >&2; }
  else
    dpkg-deb -x "$window" "$root"
  fi
  library=$root/opt/vandrelsql/vandrelsql-window.so
  readelf -S -W "$library" | grep -Eq ' \.(symtab|debug_[a-z]+|comment) ' &&
    fail "vandrelsql-window.so is not stripped"
fi
if [ "$(id -u)" -eq 0 ]; then
  dpkg --root="$root" --purge vandrelsql-window vandrelsql >"$scratch/dpkg.log" 2>&1 ||
    { fail "dpkg --purge:"; cat "$scratch/dpkg.log" >&2; }
  left=$(cd "$root" && find . -mindepth 1 -not -path './var*')
  [ -z "$left" ] || fail "left after purge: $left"
fi

[ "$failures" -eq 0 ] || exit 1
echo "$(basename "$core") $(basename "$window"): lintian clean, programs without Qt: $programs"
