# shellcheck shell=bash
# One line per check for the packaging scripts (source it):
#   check NAME COMMAND...   runs COMMAND; "ok: NAME", or "FAIL: NAME" with its output
#   check_summary LABEL     "LABEL: N passed, N failed"; true when none failed
passed=0 failed=0

check() {
  local name=$1 output
  shift
  if output=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAIL: $name"
    printf '%s\n' "$output" | sed 's/^/    /'
  fi
}

check_summary() {
  echo "$1: $passed passed, $failed failed"
  ((failed == 0))
}
