#!/usr/bin/env bash
# Installs what the browser test of the demo page needs: npm (Debian package) and the pinned
# Node packages of web/tests. Safe to run again: nothing is done when they are up to date.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v npm >/dev/null 2>&1; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  echo "setup-web: installing npm"
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends npm
fi

# npm writes node_modules/.package-lock.json after an install; when it is newer than the lock
# file and package.json, the installed tree is the locked one and npm ci would only redo it.
tests=web/tests
installed=$tests/node_modules/.package-lock.json
if [ -f "$installed" ] && [ "$installed" -nt $tests/package-lock.json ] &&
   [ "$installed" -nt $tests/package.json ]; then
  echo "setup-web: web/tests packages up to date"
  exit 0
fi
npm ci --prefix "$tests" --no-audit --no-fund --loglevel=error
