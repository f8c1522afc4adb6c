#!/bin/sh
# vesquin: starts the game from the player's own game folder.
#
# The game keeps its best list and reads the player's details beside its executable, and the
# installed executable's folder belongs to the system. So every player gets a folder of their
# own, ${XDG_DATA_HOME:-~/.local/share}/vesquin, holding a copy of the game (a symbolic link
# would not do: the game finds its folder through /proc/self/exe, which names the link's
# target), links to the shared clip folders, best.dat and config.dat. The copy is refreshed
# when the package brings a new one; best.dat and config.dat are the player's and are never
# replaced. best.dat is made here, empty, because the game itself never creates it.
#
#   vesquin             prepares the folder and starts the game
#   vesquin --details   prepares the folder and asks for the player's details (config.dat)
#   vesquin --folder    prepares the folder and says where it is
set -eu

here=$(dirname "$(readlink -f "$0")")
prefix=$(dirname "$here")
programs=$prefix/lib/games/vesquin
shared=$prefix/share/games/vesquin

case ${XDG_DATA_HOME:-} in
  /*) data_home=$XDG_DATA_HOME ;;
  *) data_home=${HOME:?vesquin: HOME is not set}/.local/share ;;
esac
folder=$data_home/vesquin

say() { printf 'vesquin: %s\n' "$*" >&2; }

# Puts a copy of $1 at $2 unless the same file is there already, through a temporary name so
# that a game started meanwhile never finds half a file.
refresh_copy() {
  cmp -s "$1" "$2" 2>/dev/null && return 0
  cp "$1" "$2.new.$$" && mv -f "$2.new.$$" "$2" && return 0
  rm -f "$2.new.$$"
  return 1
}

# Every step is checked by hand: the shell's -e does not act inside a function called in an
# `||` list.
prepare() {
  mkdir -p "$folder" || return 1
  for clips in menu game level1 learn score TestSpk; do
    # A real folder of that name is the player's own choice and stays.
    if [ -L "$folder/$clips" ] || [ ! -e "$folder/$clips" ]; then
      ln -sfn "$shared/$clips" "$folder/$clips" || return 1
    fi
  done
  for file in picture.bmp icon.bmp icon16.bmp; do
    refresh_copy "$shared/$file" "$folder/$file" || return 1
  done
  refresh_copy "$programs/vesquin" "$folder/vesquin" || return 1
  if [ ! -e "$folder/best.dat" ] && [ ! -L "$folder/best.dat" ]; then
    # noclobber: a list that appeared meanwhile is never truncated.
    (set -C; : >"$folder/best.dat") 2>/dev/null || [ -e "$folder/best.dat" ] || return 1
  fi
}

case ${1:-} in
  "")
    prepare || { say "cannot prepare the game folder $folder"; exit 1; }
    exec "$folder/vesquin"
    ;;
  --details)
    prepare || { say "cannot prepare the game folder $folder"; exit 1; }
    exec "$programs/vesquin-details" "$folder"
    ;;
  --folder)
    prepare || { say "cannot prepare the game folder $folder"; exit 1; }
    printf '%s\n' "$folder"
    ;;
  -h | --help)
    printf '%s\n' "Usage: vesquin [--details | --folder]" \
      "Starts Vesquin, a sound game played by ear, from your own game folder," \
      "$folder, which holds your best list (best.dat) and your details (config.dat)." \
      "  --details  asks for your details for the on-line score table" \
      "  --folder   says where your game folder is"
    ;;
  *)
    say "unknown option $1 (try vesquin --help)"
    exit 2
    ;;
esac
