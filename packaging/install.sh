#!/usr/bin/env bash
# Installs quillant from this unpacked folder (quillant.app) for the current user.
#   install.sh [--autostart] [DIR]   install into DIR (default ~/.local/opt/quillant), add the
#                                    application-menu launcher and its icon, and with --autostart
#                                    start quillant at login
#   install.sh --uninstall           remove exactly what the last install made (your API key and
#                                    settings in ~/.config/quillant stay)
# Nothing outside your home folder is touched; no root needed.
set -euo pipefail

readonly id=com.vostel.quillant
readonly marker=.quillant-bundle

say() { printf 'quillant install: %s\n' "$*" >&2; }
die() { say "$*"; exit 2; }

# XDG base folders; relative values are invalid and ignored.
xdg() {
  local value=$1 fallback=$2
  case "$value" in /*) printf '%s' "$value" ;; *) printf '%s' "$fallback" ;; esac
}

[ -n "${HOME:-}" ] || die "HOME is not set"
data_home=$(xdg "${XDG_DATA_HOME:-}" "$HOME/.local/share")
config_home=$(xdg "${XDG_CONFIG_HOME:-}" "$HOME/.config")
manifest="$data_home/quillant/install-manifest"
launcher="$data_home/applications/$id.desktop"
autostart_entry="$config_home/autostart/$id.desktop"

# A path as one argument of a desktop entry's Exec key: quoted when it holds
# anything but plain characters, with the string escapes applied on top of the
# quoting escapes (so a backslash becomes four).
exec_arg() {
  local p=$1
  if [[ $p =~ ^[A-Za-z0-9/._+-]+$ ]]; then printf '%s' "$p"; return; fi
  local bs='\' q=""
  local i c
  for ((i = 0; i < ${#p}; i++)); do
    c=${p:i:1}
    case "$c" in
      '\') q+="$bs$bs$bs$bs" ;;
      '"' | '`' | '$') q+="$bs$bs$c" ;;
      '%') q+='%%' ;;
      *) q+="$c" ;;
    esac
  done
  printf '"%s"' "$q"
}

# The manifest lists what this install made, one "KIND PATH" a line, in the
# order made: "dir" (a folder that did not exist before), "file", "bundle".
made=()
record() { made+=("$1 $2"); }

# mkdir -p that records each folder it creates, outermost first.
make_dir() {
  local dir=$1 missing=()
  while [ ! -d "$dir" ]; do
    missing=("$dir" "${missing[@]}")
    dir=$(dirname -- "$dir")
  done
  local d
  for d in "${missing[@]}"; do
    mkdir -- "$d"
    record dir "$d"
  done
}

kept() {
  local path=$1 k
  shift
  for k in "$@"; do [ "$k" != "$path" ] || return 0; done
  return 1
}

# Only what an install writes is ever removed, whatever a (damaged) manifest
# says: the launcher, the login entry, our icons, and folders that are a
# quillant bundle (the marker beside bin/quillant).
ours() {
  case "$1" in
    "$launcher" | "$autostart_entry") return 0 ;;
    "$data_home"/icons/hicolor/*/apps/"$id".png) [[ "${1#"$data_home"/icons/hicolor/}" != */*/*/* ]] ;;
    *) return 1 ;;
  esac
}
is_bundle() { [ -f "$1/$marker" ] && [ ! -L "$1" ] && [ -f "$1/bin/quillant" ]; }

# Removes what a manifest lists, newest first. The installation folder is
# removed only while it still carries the marker, and never when it is one of
# the `keep` paths (given on a re-install: the folders being used right now).
# Folders it made that are still needed afterwards are carried into `made`.
uninstall_from() {
  local list=$1 kind path line i
  shift
  local keep=("$@") lines=() carried=()
  [ -f "$list" ] || return 0
  mapfile -t lines < "$list"
  rm -f -- "$list"
  for ((i = ${#lines[@]} - 1; i >= 0; i--)); do
    line=${lines[i]}
    kind=${line%% *}
    path=${line#* }
    case "$path" in /*) ;; *) continue ;; esac
    case "$kind" in
      file) kept "$path" "${keep[@]}" || ! ours "$path" || rm -f -- "$path" ;;
      bundle) kept "$path" "${keep[@]}" || ! is_bundle "$path" || rm -rf -- "$path" ;;
      dir) rmdir -- "$path" 2>/dev/null || { [ ! -d "$path" ] || carried=("dir $path" "${carried[@]}"); } ;;
    esac
  done
  made=("${carried[@]}" "${made[@]}")
}

uninstall() {
  [ -f "$manifest" ] || { say "nothing to uninstall ($manifest not found)"; exit 0; }
  uninstall_from "$manifest"
  made=()
  rmdir -- "$(dirname -- "$manifest")" 2>/dev/null || true
  # An entry made later by `quillant autostart on` would start a removed program.
  rm -f -- "$autostart_entry"
  say "uninstalled (your API key and settings in $config_home/quillant are kept)"
}

autostart=""
dest=""
for arg in "$@"; do
  case "$arg" in
    --uninstall) uninstall; exit 0 ;;
    --autostart) autostart=yes ;;
    -h | --help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) die "unknown option $arg (see --help)" ;;
    *) [ -z "$dest" ] || die "only one folder, please"; dest=$arg ;;
  esac
done

src=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)
[ -x "$src/bin/quillant" ] && [ -x "$src/bin/quillant-service" ] && [ -e "$src/$marker" ] || die "$src is not an unpacked quillant.app"

dest=${dest:-$HOME/.local/opt/quillant}
dest=$(realpath -m -- "$dest")
case "$dest" in
  *[[:cntrl:]]*) die "the folder's name holds control characters" ;;
esac
case "$dest" in
  / | /usr | /usr/local | /opt | /home | "$(realpath -m -- "$HOME")" | "$(realpath -m -- "$HOME/.local")")
    die "$dest is shared; give a folder of quillant's own" ;;
esac
# Never adopt a folder we did not make, not even an empty one: uninstalling
# and every update replace the whole folder, with whatever is in it by then.
if [ "$dest" != "$src" ] && { [ -e "$dest" ] || [ -L "$dest" ]; } && ! is_bundle "$dest"; then
  die "$dest exists and is not a quillant installation; give a folder that does not exist yet (it is made)"
fi

# A second install replaces the first one's traces, but keeps the folder we
# run from, the one we replace below, and the login entry the user chose.
uninstall_from "$manifest" "$src" "$dest" "$autostart_entry"

# The installation folder: copied aside, then swapped in, so that a running
# quillant or a failed copy never sees half a folder.
make_dir "$(dirname -- "$dest")"
if [ "$dest" != "$src" ]; then
  staged="$dest.new.$$"
  rm -rf -- "$staged"
  cp -R -- "$src" "$staged"
  if [ -e "$dest" ]; then
    old="$dest.old.$$"
    mv -- "$dest" "$old"
    mv -- "$staged" "$dest"
    rm -rf -- "$old"
  else
    mv -- "$staged" "$dest"
  fi
fi
record bundle "$dest"

# The application-menu launcher, pointing at this installation.
make_dir "$(dirname -- "$launcher")"
exec_line="Exec=$(exec_arg "$dest/bin/quillant")"
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    Exec=*) printf '%s\n' "$exec_line" ;;
    *) printf '%s\n' "$line" ;;
  esac
done < "$dest/share/applications/$id.desktop" > "$launcher.tmp"
mv -- "$launcher.tmp" "$launcher"
record file "$launcher"

# Its icon, in the user's hicolor theme.
for icon in "$dest"/share/icons/hicolor/*/apps/"$id".png; do
  [ -e "$icon" ] || continue
  size=$(basename -- "$(dirname -- "$(dirname -- "$icon")")")
  target="$data_home/icons/hicolor/$size/apps/$id.png"
  make_dir "$(dirname -- "$target")"
  cp -- "$icon" "$target"
  record file "$target"
done

# The runtime libraries and the local corrector's English dictionaries are
# Debian packages; say which, if any are missing.
if ldd -- "$dest/bin/quillant" "$dest/bin/quillant-service" 2>/dev/null | grep -q 'not found' ||
  [ ! -e /usr/share/hunspell/en_US.dic ] || [ ! -e /usr/share/hunspell/en_GB.dic ]; then
  packages=$(tr '\n' ' ' < "$dest/share/quillant/debian-packages")
  say "some packages quillant needs are missing; install them with:"
  say "  sudo apt-get install --no-install-recommends $packages"
  [ -z "$autostart" ] || say "(the login entry is made by quillant itself: run 'quillant autostart on' afterwards)"
  autostart=""
fi

if [ -n "$autostart" ]; then
  make_dir "$(dirname -- "$autostart_entry")"
  "$dest/bin/quillant" autostart on >/dev/null
fi
[ ! -e "$autostart_entry" ] || record file "$autostart_entry"

make_dir "$(dirname -- "$manifest")"
printf '%s\n' "${made[@]}" > "$manifest.tmp"
mv -- "$manifest.tmp" "$manifest"

say "installed into $dest; quillant is in your application menu"
say "start it now: $(printf '%q' "$dest/bin/quillant")   uninstall: $(printf '%q' "$dest/install.sh") --uninstall"
