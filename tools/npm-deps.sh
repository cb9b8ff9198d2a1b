#!/usr/bin/env bash
# Installs the browser player's JavaScript packages (three.js, and puppeteer-core and
# gltf-validator for its tests) into node_modules/ from the npm registry, exactly as
# package-lock.json pins them, when node_modules/ is missing or older than the lock file.
set -euo pipefail
cd "$(dirname "$0")/.."
stamp=node_modules/.package-lock.json
if [[ -f $stamp && ! package-lock.json -nt $stamp ]]; then
  exit 0
fi
command -v npm >/dev/null 2>&1 || { echo "ERROR: npm is not installed (tools/install-deps.sh)" >&2; exit 1; }
echo "Installing the player's JavaScript packages (npm ci)"
npm ci --no-audit --no-fund --loglevel=error
