#!/usr/bin/env bash
# apt-get for the project's scripts, one run at a time on this machine (or
# in the root it runs in). apt waits for dpkg's lock when told to
# (DPkg::Lock::Timeout), but not for the lock of its package lists, which
# every "apt-get update" takes: two scripts updating at once (a root being
# made while the machine's own packages are installed) would fail one of
# them. So every run holds one lock file for its whole length, and the next
# waits for it.
#   usage: apt.sh APT-GET-ARGUMENTS...
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
exec flock /var/lib/apt/cobrix-apt.lock apt-get -q -o DPkg::Lock::Timeout=600 "$@"
