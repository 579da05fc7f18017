#!/usr/bin/env bash
# Builds the Linux program, lays out its app folder (build/linux/app) with the simulated reader in the
# three SDK folders, and starts it there: the service answers on port 7415 (Config.ini [IP] port).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" run
echo "run: building the Linux program and its app folder (the first build takes a minute or two)"
"$root/scripts/build.sh" linux app
echo "run: starting build/linux/app/kavenor; it says where it serves. Stop it with Ctrl+C."
cd "$root/build/linux/app"
exec ./kavenor "$@"
