# shellcheck shell=bash
# Sourced by the fixtures' stop scripts.

# await_exit PID...: waits up to 30 s for each process, which has been asked
# to stop, to end, and kills it when it has not.
await_exit() {
  local pid
  for pid in "$@"; do
    for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
}
