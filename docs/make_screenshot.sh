#!/bin/sh
# Takes docs/window.png: the Import window on a virtual X screen with a window manager.
# Needs: xvfb (xvfb-run), openbox, x11-utils (xwininfo), imagemagick (import).
# Usage: docs/make_screenshot.sh [path/to/Import] [output.png]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
app=${1:-"$here/../build-ui/src/app/Import"}
out=${2:-"$here/window.png"}
[ -x "$app" ] || { echo "no Import program at $app (build it first)" >&2; exit 1; }
for tool in xvfb-run openbox xwininfo import; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM
app=$(cd "$(dirname "$app")" && pwd)/$(basename "$app")
case $out in /*) ;; *) out=$(pwd)/$out ;; esac

# Openbox draws the title buttons of its layout whatever a window asks for;
# the layout here is the caption and the close box, the only button the
# window asks for in its hints (xprop _MOTIF_WM_HINTS shows it).
cat >"$scratch/rc.xml" <<'RC'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><titleLayout>LC</titleLayout></theme>
</openbox_config>
RC

cat >"$scratch/shoot.sh" <<'INNER'
#!/bin/sh
set -eu
openbox --config-file "$SCRATCH/rc.xml" >/dev/null 2>&1 &
wm=$!
sleep 1
# A scratch home, so the program's documents folder is not the caller's.
HOME=$SCRATCH QT_QPA_PLATFORM=xcb "$APP" >/dev/null 2>&1 &
prog=$!
tries=0
until xwininfo -name "SKOV Import" >/dev/null 2>&1; do
  tries=$((tries + 1))
  [ "$tries" -lt 50 ] || { echo "the window did not appear" >&2; kill "$prog" "$wm"; exit 1; }
  sleep 0.2
done
sleep 1  # let the window manager frame it and the window paint
id=$(xwininfo -name "SKOV Import" | awk '/Window id:/ {print $4}')
import -window "$id" -frame -strip "$OUT"
kill "$prog" "$wm"
wait 2>/dev/null || true
INNER
chmod +x "$scratch/shoot.sh"

SCRATCH=$scratch APP=$app OUT=$out xvfb-run -a -s "-screen 0 640x480x24 -dpi 96" "$scratch/shoot.sh"
echo "wrote $out"
