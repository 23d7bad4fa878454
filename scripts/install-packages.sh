#!/bin/sh
# Installs the Debian packages and locales that building and testing kavelo
# need, and nothing when they are all there already. Not root: prints the one
# command to run and fails.
set -eu

packages="g++ make cmake ninja-build pkg-config libsqlite3-dev sqlite3 libfmt-dev \
libgtest-dev libgmock-dev locales"
# The window: FLTK and X11 to build it, the humanist sans with a true semibold
# that its labels use, and a virtual display with the tools that the window
# tests and the screenshot drive it with.
packages="$packages libfltk1.3-dev libx11-dev fonts-open-sans xvfb xdotool x11-utils imagemagick"
# The benchmark measures peak memory with /usr/bin/time.
packages="$packages time"
# The run summary as JSON, written by kavelo and read back by its tests.
packages="$packages nlohmann-json3-dev"
# make package and its tests: dpkg-shlibdeps, file, man and groff.
packages="$packages dpkg-dev file man-db groff-base"
# Server databases through libpq, and the PostgreSQL server that the tests
# start a throwaway cluster of.
packages="$packages libpq-dev postgresql"
# The fuzz targets are built with clang and its libFuzzer runtime.
packages="$packages clang-14 libclang-rt-14-dev"
# Locales the regional-settings tests read (Spanish is also the default).
locales="es_ES.UTF-8 en_US.UTF-8"

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done

missing_locales=""
for l in $locales; do
  short=$(echo "$l" | sed 's/UTF-8/utf8/')
  if ! locale -a 2>/dev/null | grep -qx "$short"; then
    missing_locales="$missing_locales $l"
  fi
done

[ -z "$missing" ] && [ -z "$missing_locales" ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "kavelo needs these Debian packages and locales:$missing$missing_locales" >&2
  echo "Run as root: apt-get update && apt-get install -y$missing locales &&" \
       "sed -i -E 's/^# *(es_ES.UTF-8 UTF-8|en_US.UTF-8 UTF-8)\$/\\1/' /etc/locale.gen && locale-gen" >&2
  exit 1
fi

if [ -n "$missing" ]; then
  echo "Installing:$missing"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
fi
if [ -n "$missing_locales" ]; then
  for l in $missing_locales; do
    sed -i -E "s/^# *($l UTF-8)\$/\\1/" /etc/locale.gen
    grep -q "^$l UTF-8" /etc/locale.gen || echo "$l UTF-8" >> /etc/locale.gen
  done
  locale-gen >/dev/null
fi
