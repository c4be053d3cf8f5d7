#!/usr/bin/env bash
# Builds and runs the SMTP throughput benchmark. Installs Postfix only for its smtp-sink program;
# the mail daemon is neither configured nor started.
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ ! -x /usr/sbin/smtp-sink ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    # "No configuration": the package installs its programs and leaves the daemon alone.
    echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends postfix
fi
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target smtp_throughput
exec "$build/bench/smtp/smtp_throughput" "$@"
