#!/bin/sh
# Installs Veltro for the current user from the unpacked installer (run by veltro-*_setup.run).
#
#   /dir=FOLDER   program folder (default ~/.local/opt/veltro)
#   /noicons      no desktop entry, icon or AppStream file under ~/.local/share
#   /silent /SP-  accepted (this installer never asks questions)
#
# Started by the program's update, it starts the new program once the old one has ended.
# The new program folder is unpacked beside the old one and then renamed over it, so an install
# that is interrupted leaves the old program whole; the program may be running meanwhile.
set -eu
umask 022

here=$(cd "$(dirname "$0")" && pwd)
version=$(cat "$here/VERSION")
dir="$HOME/.local/opt/veltro"
icons=1
for argument in "$@"; do
  case "$argument" in
    /[Dd][Ii][Rr]=*) dir=${argument#*=} ;;
    /[Nn][Oo][Ii][Cc][Oo][Nn][Ss]) icons=0 ;;
    /[Ss][Pp]-|/[Ss][Ii][Ll][Ee][Nn][Tt]|/[Vv][Ee][Rr][Yy][Ss][Ii][Ll][Ee][Nn][Tt]) ;;
    *) echo "Veltro installer: unknown switch $argument (known: /SP- /silent /noicons \"/dir=FOLDER\")" >&2; exit 2 ;;
  esac
done
while [ "${#dir}" -gt 1 ] && [ "${dir%/}" != "$dir" ]; do dir=${dir%/}; done
case "$dir" in
  /*) ;;
  *) echo "Veltro installer: the program folder must be an absolute path: $dir" >&2; exit 2 ;;
esac

# Started by the program's own update (VELTRO_UPDATE_PID names that program, which ends by itself):
# once it has ended, the new one starts, as its update panel says it will.
updater=${VELTRO_UPDATE_PID:-}
case "$updater" in *[!0-9]*) updater="" ;; esac
running() { [ -e "/proc/$1" ] && [ "$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)" != Z ]; }

parent=$(dirname "$dir")
name=$(basename "$dir")
aside="$parent/.$name.old"
mkdir -p "$parent"
# An install cut off between its two renames below left the old folder aside: it comes back first.
if [ ! -e "$dir" ] && [ -d "$aside" ]; then mv "$aside" "$dir"; fi

rm -rf "$parent/.$name.new."*   # what a killed install left unpacked
stage=$(mktemp -d "$parent/.$name.new.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp -R "$here/program/." "$stage/"
chmod 755 "$stage"
sync   # the new files are on disk before the old folder goes
if [ -e "$dir" ]; then
  rm -rf "$aside"
  mv "$dir" "$aside"
fi
mv "$stage" "$dir"
rm -rf "$aside"
trap - EXIT

bin="$HOME/.local/bin"
mkdir -p "$bin"
ln -sfn "$dir/veltro" "$bin/veltro"
[ -e "$dir/veltro-cli" ] && ln -sfn "$dir/veltro-cli" "$bin/veltro-cli"

if [ "$icons" = 1 ]; then
  data="${XDG_DATA_HOME:-$HOME/.local/share}"
  mkdir -p "$data/applications" "$data/icons/hicolor/scalable/apps" "$data/metainfo"
  cp "$here/share/icons/hicolor/scalable/apps/veltro.svg" "$data/icons/hicolor/scalable/apps/veltro.svg"
  cp "$here/share/metainfo/"*.metainfo.xml "$data/metainfo/"
  # The entry starts this folder's program whether or not ~/.local/bin is on the PATH.
  exec_path=$(printf '%s' "$dir/veltro" | sed 's/[\\"`$]/\\\\&/g')
  sed "s|^Exec=.*|Exec=\"$exec_path\"|" "$here/share/applications/veltro.desktop" > "$data/applications/veltro.desktop.new"
  mv "$data/applications/veltro.desktop.new" "$data/applications/veltro.desktop"
  command -v update-desktop-database >/dev/null 2>&1 && update-desktop-database -q "$data/applications" || true
  command -v gtk-update-icon-cache >/dev/null 2>&1 && gtk-update-icon-cache -q -t "$data/icons/hicolor" || true
fi
echo "Veltro $version installed in $dir"
if [ -n "$updater" ]; then
  waited=0
  while running "$updater" && [ "$waited" -lt 600 ]; do sleep 0.1; waited=$((waited + 1)); done
  running "$updater" || (cd "$HOME" && setsid "$dir/veltro" </dev/null >/dev/null 2>&1 &)
fi
