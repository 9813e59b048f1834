#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks it as an administrator would
# meet it: lintian's verdict, the files and their owners, stripped programs, a changelog
# that names the package's version, and an install and purge in a scratch root.
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
deb=$(ls "$scratch"/out/*.deb)
version=$(dpkg-deb -f "$deb" Version)

# Lintian: no error and no warning beyond the overrides the package carries.
command -v lintian >/dev/null || { echo "FAIL: lintian is missing (scripts/setup installs it)" >&2; exit 1; }
if ! lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1; then
  fail "lintian:"; grep -v 'root privileges' "$scratch/lintian.log" >&2
fi

# The files: every entry owned by root, every program in /usr/bin an absolute link into
# /opt/vandrelsql with a manual page, the documentation, and /opt/Corvessa empty.
# Lines of "mode owner path [-> target]".
dpkg-deb -c "$deb" | awk '{line = $1 " " $2 " " $6; if ($7 != "") line = line " " $7 " " $8; print line}' \
  >"$scratch/contents"
not_root=$(grep -v ' root/root ' "$scratch/contents" || true)
[ -z "$not_root" ] || fail "not owned by root: $not_root"
for path in ./usr/share/doc/vandrelsql/copyright ./usr/share/doc/vandrelsql/changelog.gz \
    ./usr/share/doc/vandrelsql/usage.md.gz ./usr/share/doc/vandrelsql/examples/quillmereconfig.ini \
    ./usr/share/man/man1/vandrelsql.1.gz ./usr/share/lintian/overrides/vandrelsql \
    ./usr/share/applications/vandrelsql.desktop ./opt/vandrelsql/vandrelsql; do
  grep -q "^-r[^ ]* root/root $path\$" "$scratch/contents" || fail "missing file $path"
done
grep -qxF 'drwxr-xr-x root/root ./opt/Corvessa/' "$scratch/contents" ||
  fail "/opt/Corvessa is not a root folder with mode 0755"
! grep -q ' \./opt/Corvessa/[^ ]' "$scratch/contents" || fail "/opt/Corvessa is not empty"
programs=$(awk '$3 ~ /^\.\/usr\/bin\/./ {sub("./usr/bin/", "", $3); print $3}' "$scratch/contents")
[ -n "$programs" ] || fail "nothing in /usr/bin"
for program in $programs; do
  grep -qxF "lrwxrwxrwx root/root ./usr/bin/$program -> /opt/vandrelsql/$program" "$scratch/contents" ||
    fail "/usr/bin/$program is not an absolute link to /opt/vandrelsql/$program"
  grep -qxF -- "-rw-r--r-- root/root ./usr/share/man/man1/$program.1.gz" "$scratch/contents" ||
    fail "no manual page for $program"
done

# Installed into a scratch root by dpkg itself where that is allowed (as root), else
# unpacked.
root=$scratch/root
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  : >"$root/var/lib/dpkg/status"
  dpkg --root="$root" --force-depends -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
    { fail "dpkg -i:"; cat "$scratch/dpkg.log" >&2; }
else
  dpkg-deb -x "$deb" "$root"
fi
for program in $programs; do
  file=$root/opt/vandrelsql/$program
  if ! readelf -h "$file" >/dev/null 2>&1; then
    fail "$program is not installed as a program"
  elif readelf -S -W "$file" | grep -Eq ' \.(symtab|debug_[a-z]+|comment) '; then
    fail "$program is not stripped"
  fi
done
changelog_version=$(gzip -dc "$root/usr/share/doc/vandrelsql/changelog.gz" |
  dpkg-parsechangelog -l - -S Version 2>/dev/null || true)
[ "$changelog_version" = "$version" ] ||
  fail "the changelog's latest entry is '$changelog_version', the package's version $version"
if [ "$(id -u)" -eq 0 ]; then
  dpkg --root="$root" --purge vandrelsql >"$scratch/dpkg.log" 2>&1 ||
    { fail "dpkg --purge:"; cat "$scratch/dpkg.log" >&2; }
  left=$(cd "$root" && find . -mindepth 1 -not -path './var*')
  [ -z "$left" ] || fail "left after purge: $left"
fi

[ "$failures" -eq 0 ] || exit 1
echo "$(basename "$deb"): lintian clean, $(wc -l <"$scratch/contents") entries, programs: $programs"
