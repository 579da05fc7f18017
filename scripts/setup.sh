#!/usr/bin/env bash
# Installs what the build needs, from Debian's packages (and npm for the browser tests). Quiet and
# quick when everything is there already.
#   setup.sh run   what the Linux build and the demo run need
#   setup.sh dist  what the Windows downloads need: the cross compilers, NSIS, the signing tool
#   setup.sh test  everything: the above, Wine, the browser, the fuzzer's runtime
set -euo pipefail
profile=${1:-test}
root=$(cd "$(dirname "$0")/.." && pwd)

run_packages=(cmake ninja-build g++ make libwebsocketpp-dev libboost-dev libboost-system-dev googletest libgtest-dev)
dist_packages=(mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix python3 nsis osslsigncode)
test_packages=(wine wine64 xvfb locales python3-websockets python3-pytest chromium clang libclang-rt-14-dev
  fonts-wqy-microhei openssl node-typescript)

case "$profile" in
  run) wanted=("${run_packages[@]}") ;;
  dist) wanted=("${run_packages[@]}" "${dist_packages[@]}") ;;
  test) wanted=("${run_packages[@]}" "${dist_packages[@]}" "${test_packages[@]}") ;;
  *) echo "setup.sh: unknown profile $profile (run, dist, test)" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
# Node.js may come from elsewhere than Debian's packages; only a missing command is installed.
# npm packs the web developers' package (dist) and installs the browser-test tools (test).
if [ "$profile" != run ]; then
  command -v node >/dev/null || missing+=(nodejs)
  command -v npm >/dev/null || missing+=(npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ "$profile" = test ]; then
  # Wine runs with the Chinese code page, as on the operators' machines.
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    echo "setup: generating the zh_CN.UTF-8 locale"
    sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo_cmd[@]}" locale-gen >/dev/null
  fi
  # The browser and package tests' tools from npm, each folder pinned by its lock; playwright-core
  # drives Debian's Chromium and never downloads a browser of its own.
  for folder in tests/pages tests/package; do
    lock="$root/$folder/package-lock.json" stamp="$root/$folder/node_modules/.package-lock.json"
    if [ ! -f "$stamp" ] || [ "$lock" -nt "$stamp" ]; then
      echo "setup: installing the test packages of $folder (npm ci)"
      (cd "$root/$folder" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >/dev/null)
    fi
  done
fi
