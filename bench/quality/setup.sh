#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs ffmpeg, which tweenora_bench_quality compares against (--ffmpeg, --speed).
# Runs as root, or through sudo when it is available.
set -euo pipefail

if command -v ffmpeg >/dev/null 2>&1; then
    echo "setup: ffmpeg is installed"
    exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        sudo="sudo"
    else
        echo "setup: must run as root or with sudo to install ffmpeg" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends ffmpeg
