# Shared by the script tests: counting cases and a scratch directory that
# goes away at the end. Source it, then call pass/fail and finally finish.
passed=0
failed=0
scratch=$(mktemp -d "${TMPDIR:-/tmp}/fsrestore-script.XXXXXX")
trap 'chmod -R u+w "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() {
  failed=$((failed + 1))
  echo "FAIL $1"
  if [[ $# -gt 1 ]]; then printf '%s\n' "$2" | head -30 | sed 's/^/     /'; fi
}
check() {  # check NAME COMMAND...: passes when the command succeeds
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then pass "$name"; else fail "$name" "$out"; fi
}
finish() {  # finish SUITE
  echo "$1: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
}
# The project's version, as project() holds it in the build tree.
project_version() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }
