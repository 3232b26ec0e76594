# Sourced by the Wine scripts: the environment of a headless, quiet Wine in
# the prefix given as $1, of the architecture given as $2: win32 (the
# default) for the 32-bit DLL, win64 for the 64-bit one. A prefix keeps the
# architecture it was made with, so each build has a prefix of its own.
wine_prefix=$(realpath -m "$1")
export WINEPREFIX="$wine_prefix"
export WINEARCH="${2:-win32}"
export WINEDEBUG=-all
# No .NET or HTML engine: the prefix is created without asking for them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# The ANSI code page follows the locale: 1252 (Western) with C.UTF-8, 936
# (Simplified Chinese) with zh_CN.UTF-8, which needs no installed locale.
# VARDLIX_WINE_LANG picks one; the default is 1252.
export LANG="${VARDLIX_WINE_LANG:-C.UTF-8}"
unset LC_ALL DISPLAY WAYLAND_DISPLAY

# The loader that runs a program as the process itself: $VARDLIX_WINE, to be
# used in place of the wine command. With both loaders installed, wine is
# the 32-bit one, which starts a 64-bit program through start.exe: a child
# that outlives a kill of the wine process, and that no signal sent to it
# reaches (a test's Ctrl-C, CTest's time-out).
# Debian keeps the loaders in lib/wine/ beside the wine command's bin/.
VARDLIX_WINE=wine
wine_loader64="$(dirname "$(readlink -f "$(command -v wine)")")/../lib/wine/wine64"
if [[ $WINEARCH == win64 && -x $wine_loader64 ]]; then
  VARDLIX_WINE=$(realpath "$wine_loader64")
fi

# Creates the prefix once. The lock keeps two programs that start at the
# same moment from creating it together.
wine_prefix_ensure() {
  [[ -f "$WINEPREFIX/system.reg" ]] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
      wineboot -i >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
}
