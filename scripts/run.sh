#!/usr/bin/env bash
# Builds the Linux program, lays out its app folder (build/linux/app) with the simulated reader in the
# three SDK folders, and starts it there: the service answers on port 7415 (Config.ini [IP] port).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" run
"$root/scripts/build.sh" linux
cd "$root/build/linux/app"
exec ./kavenor "$@"
