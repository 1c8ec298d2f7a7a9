# A wine of its own for the Windows tests: prefix, home and Documents folder
# inside a scratch folder, a virtual screen, one wine server for all calls.
# Sourced by scripts/windows-test.sh: wine_start SCRATCH, then wine_stop.

wine_start() {
  local scratch=$1
  export WINEPREFIX="$scratch/prefix"
  # wine links the prefix's Documents, Desktop, ... to the home folder: a
  # home of its own keeps the user's out of reach.
  export HOME="$scratch/home"
  export WINEDEBUG=-all
  export WINEARCH=win64
  # No offer to install Mono or Gecko: nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
  mkdir -p "$HOME"

  # The screen the window and the dialogs are drawn on.
  exec 8> "$scratch/display"
  Xvfb -displayfd 8 -screen 0 1280x800x24 -nolisten tcp > "$scratch/xvfb.log" 2>&1 &
  WINE_XVFB_PID=$!
  exec 8>&-
  local waited=0
  while [ ! -s "$scratch/display" ] && [ $waited -lt 100 ]; do sleep 0.1; waited=$((waited + 1)); done
  export DISPLAY=":$(head -n1 "$scratch/display")"

  wineboot --init > "$scratch/wineboot.log" 2>&1
  wineserver -w
  wineserver -p  # kept running: each later call starts in a moment
  # Dot files as Windows shows them (wine would hide them), and windows drawn
  # with their own frames and title bars, there being no window manager.
  wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f > /dev/null
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f > /dev/null
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f > /dev/null
  # A real Documents folder inside the prefix, not a link into a home.
  local documents="$WINEPREFIX/drive_c/users/$(id -un)/Documents"
  rm -f "$documents"
  mkdir -p "$documents"
  WINE_DOCUMENTS=$documents
}

wine_stop() {
  wineserver -k 2> /dev/null || true
  [ -n "${WINE_XVFB_PID:-}" ] && kill "$WINE_XVFB_PID" 2> /dev/null || true
  WINE_XVFB_PID=
}

# The Windows path of a Linux path (Z: is the root).
wine_path() {
  printf 'Z:%s' "$1" | tr '/' '\\'
}
