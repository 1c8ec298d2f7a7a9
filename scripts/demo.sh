#!/usr/bin/env bash
# Installs what is missing, builds, and imports the bundled example drawings
# with skov-import; prints where the log and the workbooks went.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/deps.sh" --demo
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build/release skov-import
if [ -x examples/run_demo.sh ]; then
  examples/run_demo.sh build/release
else
  echo "The example is not available yet."
fi
