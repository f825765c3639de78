#!/usr/bin/env bash
# Generates the locales the translation tests run the programs under (de_DE.UTF-8, zh_CN.UTF-8),
# unless the C library has them already. Needs the "locales" package (scripts/install-deps.sh).
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
for locale in de_DE zh_CN; do
  # `locale -a` writes the UTF-8 ones as de_DE.utf8.
  if locale -a 2>/dev/null | grep -qx "${locale}.utf8"; then
    continue
  fi
  echo "make-test-locales: generating ${locale}.UTF-8"
  $SUDO localedef -i "$locale" -c -f UTF-8 -A /usr/share/locale/locale.alias "${locale}.UTF-8"
done
