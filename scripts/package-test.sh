#!/usr/bin/env bash
# The package step of the test command:
#   1. builds the .deb (scripts/package.sh);
#   2. runs the ecosystem's own checks on what it holds: lintian (no errors), desktop-file-validate,
#      appstreamcli validate --no-net, and mandoc and man lint on every manual page, which must
#      also describe every option its program's help lists;
#   3. installs it with apt, runs the installed programs, checks the udev rules, the completion and
#      the manual pages are in place, and removes it again, leaving the machine's package set as it was.
# Installing touches the whole machine: a lock keeps two runs from installing at once, and a
# machine that already has a tokvane package is left alone (outside CI).
set -euo pipefail
cd "$(dirname "$0")/.."
# The installed programs are run under German as well.
bash scripts/make-test-locales.sh

work=$(mktemp -d)
cleanup_work() { rm -rf "$work"; }
trap cleanup_work EXIT

echo "== Debian package: build"
bash scripts/package.sh | tee "$work/package.log"
deb=$(realpath "$(tail -n1 "$work/package.log")")
contents=$work/contents
dpkg-deb -x "$deb" "$contents"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

echo "== Debian package: lintian"
# Root is what CI runs as; lintian only advises against it.
lintian_rc=0
lintian_out=$(lintian --fail-on error --display-info --tag-display-limit 0 "$deb" 2>&1) || lintian_rc=$?
grep -v 'running with root privileges is not recommended' <<<"$lintian_out" || echo "lintian: no tags"
[ "$lintian_rc" -eq 0 ] || fail "lintian reports errors (exit status $lintian_rc)"

echo "== Debian package: desktop entry, metainfo"
for entry in "$contents"/usr/share/applications/*.desktop; do
  desktop-file-validate "$entry" || fail "desktop-file-validate: $entry"
done
metainfo=("$contents"/usr/share/metainfo/*.metainfo.xml)
[ -f "${metainfo[0]}" ] || fail "no metainfo in the package"
appstreamcli validate --no-net "${metainfo[@]}" || fail "appstreamcli validate: ${metainfo[*]}"

echo "== Debian package: manual pages"
man_dir=$contents/usr/share/man
# mandoc resolves a page's references among the pages in its working directory and the system's.
mkdir "$work/man"
for program in tokvane tokvane-cli tokvane-keysim tokvane-udev-rules; do
  page=$man_dir/man1/$program.1.gz
  if [ ! -f "$page" ]; then
    fail "no manual page for $program"
    continue
  fi
  zcat "$page" >"$work/man/$program.1"
done
for program in tokvane tokvane-cli tokvane-keysim tokvane-udev-rules; do
  [ -f "$work/man/$program.1" ] || continue
  lint=$(cd "$work/man" && mandoc -T lint "$program.1" 2>&1) || fail "mandoc -T lint: $program.1"
  grep -E ': (STYLE|WARNING|ERROR|UNSUPP|BADARG)' <<<"$lint" && fail "mandoc -T lint: $program.1"
  # groff, as man renders it for a reader.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$man_dir/man1/$program.1.gz" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || { echo "$warnings"; fail "man --warnings: $program.1"; }
done

# Every option a program's help names is described in its manual page: mdoc writes --name as
# "Fl \-name", the macro adding the first dash.
documented() {
  local program=$1 text option
  text=$(zcat "$2" | sed 's/\\-/-/g')
  shift 2
  for option in $("$contents/usr/bin/$program" "$@" --help 2>/dev/null | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
    grep -qE -- "Fl -${option#--}([ ,]|\$)" <<<"$text" ||
      fail "$program: option $option is not in its manual page"
  done
}
documented tokvane "$man_dir/man1/tokvane.1.gz"
documented tokvane-keysim "$man_dir/man1/tokvane-keysim.1.gz"
for subcommand in "" readers info "oath list" "oath code" "oath add" "oath delete" "oath default" \
                  "oath reset" "mode show" "mode set"; do
  # shellcheck disable=SC2086
  documented tokvane-cli "$man_dir/man1/tokvane-cli.1.gz" $subcommand
done

# The libraries the programs link are dependencies, as dpkg-shlibdeps reads them from the programs.
for library in libzxing libssl3 libpcsclite1 libhidapi-hidraw0 libudev1; do
  dpkg-deb -f "$deb" Depends | grep -q "$library" || fail "the package does not depend on $library"
done
# The window draws natively on Wayland sessions with Qt's plugin for it.
dpkg-deb -f "$deb" Recommends | grep -q "qt6-wayland" || fail "the package does not recommend qt6-wayland"

# A reproducible build bakes no build or source folder into what it ships: the read-only data of
# every installed program names neither.
for program in "$contents"/usr/bin/*; do
  for tree in "$(pwd -P)" "$(realpath "${TOKVANE_PACKAGE_DIR:-build-deb}")"; do
    if objcopy -O binary --only-section=.rodata "$program" "$work/rodata" &&
       grep -qF -- "$tree" "$work/rodata"; then
      fail "$(basename "$program") holds the build path $tree in its .rodata"
    fi
  done
done

[ "$failures" -eq 0 ] || { echo "package checks: $failures failure(s)"; exit 1; }

echo "== Debian package: install test"
exec 9>/tmp/tokvane-package-install.lock
flock 9
if dpkg-query -W -f='${Status}' tokvane 2>/dev/null | grep -q 'ok installed'; then
  if [ "${CI:-}" = true ]; then
    echo "FAIL: a tokvane package is installed already; the install test needs a machine without it"
    exit 1
  fi
  echo "SKIP: a tokvane package is installed on this machine already; not replacing it"
  exit 0
fi

installed_packages() { dpkg-query -W -f='${binary:Package} ${Version} ${db:Status-Abbrev}\n' | sort; }
installed_packages >"$work/before"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
apt_get() { $SUDO apt-get -y -q -o DPkg::Lock::Timeout=600 "$@"; }

remove_package() {
  apt_get purge tokvane >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "apt-get purge tokvane"; }
}
trap 'remove_package; cleanup_work' EXIT

apt_get install --no-install-recommends "$deb" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "apt-get install $deb"; exit 1; }

# A QR picture for the installed CLI to import, copied before the source tree is left.
qr_picture=$work/otpauth-hotp-qr.png
cp tests/data/otpauth-hotp-qr.png "$qr_picture"

# Run from elsewhere with the system's PATH, so that nothing of the source tree is used.
cd /
PATH=/usr/sbin:/usr/bin:/sbin:/bin

for file in /usr/bin/tokvane /usr/bin/tokvane-cli /usr/bin/tokvane-keysim /usr/bin/tokvane-udev-rules \
            /usr/share/tokvane/Pid_Vid_Config.xml /usr/share/tokvane/skin/main.xml \
            /usr/share/applications/tokvane.desktop /usr/share/icons/hicolor/256x256/apps/tokvane.png \
            /usr/lib/udev/rules.d/70-tokvane.rules /usr/share/bash-completion/completions/tokvane-cli \
            /usr/share/doc/tokvane/copyright /usr/share/doc/tokvane/changelog.gz \
            /usr/share/tokvane/locale/de/LC_MESSAGES/tokvane.mo /usr/share/tokvane/locale/zh_CN/LC_MESSAGES/tokvane.mo; do
  [ -f "$file" ] || fail "not installed: $file"
done
ls /usr/share/metainfo/*.metainfo.xml >/dev/null 2>&1 || fail "not installed: the metainfo"

if credentials=$(tokvane-cli --demo oath list); then
  echo "$credentials"
  [ -n "$credentials" ] || fail "installed tokvane-cli --demo oath list lists nothing"
else
  fail "installed tokvane-cli --demo oath list"
fi
# The installed programs read a QR picture.
if imported=$(tokvane-cli --demo oath add --qr "$qr_picture" 2>&1); then
  echo "$imported"
else
  fail "installed tokvane-cli --demo oath add --qr: $imported"
fi
# The installed programs find their installed catalogues.
for program in tokvane-cli tokvane; do
  [ "$(LANGUAGE=de LC_ALL=de_DE.UTF-8 "$program" --help)" != "$(LC_ALL=C "$program" --help)" ] ||
    fail "installed $program --help is not translated under de_DE.UTF-8"
done
version=$(QT_QPA_PLATFORM=offscreen tokvane --version) || fail "installed tokvane --version"
echo "$version"
package_version=$(dpkg-deb -f "$deb" Version)
[ "$version" = "tokvane $package_version" ] || fail "tokvane --version says '$version', the package is $package_version"

# The installed rules are those of the installed list (what the shipped list grants is a unit test).
tokvane-udev-rules /usr/share/tokvane/Pid_Vid_Config.xml | cmp -s - /usr/lib/udev/rules.d/70-tokvane.rules ||
  fail "the installed udev rules are not those of the installed Pid_Vid_Config.xml"

# The completion loads the way bash-completion loads it, and completes through the installed program.
offered=$(bash -c 'source /usr/share/bash-completion/completions/tokvane-cli && complete -p tokvane-cli >/dev/null &&
  COMP_WORDS=(tokvane-cli oath "") COMP_CWORD=2 && _tokvane_cli && echo "${COMPREPLY[*]}"') ||
  fail "the installed completion does not load"
[[ " $offered " == *" list "* ]] || fail "the installed completion offers '$offered' after 'tokvane-cli oath'"

for program in tokvane tokvane-cli tokvane-keysim tokvane-udev-rules; do
  [ "$(man -w "$program" 2>/dev/null)" = "/usr/share/man/man1/$program.1.gz" ] || fail "man $program finds no page"
done

trap cleanup_work EXIT
remove_package
installed_packages >"$work/after"
# Packages apt pulled in for the .deb go too.
mapfile -t added < <(comm -13 <(cut -d' ' -f1 "$work/before") <(cut -d' ' -f1 "$work/after"))
if [ "${#added[@]}" -gt 0 ]; then
  echo "removing what the install brought in: ${added[*]}"
  apt_get purge "${added[@]}" >"$work/purge-added.log" 2>&1 || cat "$work/purge-added.log"
  installed_packages >"$work/after"
fi
diff "$work/before" "$work/after" || fail "the machine's package set differs after the removal"
for path in /usr/bin/tokvane /usr/bin/tokvane-cli /usr/bin/tokvane-keysim /usr/share/tokvane \
            /usr/lib/udev/rules.d/70-tokvane.rules /usr/share/bash-completion/completions/tokvane-cli; do
  [ ! -e "$path" ] || fail "left behind after the removal: $path"
done

[ "$failures" -eq 0 ] || { echo "package test: $failures failure(s)"; exit 1; }
echo "package test: the .deb passes its checks, installs, runs and is removed again"
