#!/bin/sh
# Runs the test suite of the native build with every run of the tool under
# valgrind's memcheck. Any report (an invalid access, a use of uninitialised
# memory, a definite leak) fails the stage: the tool then exits with a status of
# its own that no test expects, and the report is printed from valgrind's log.
set -eu
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
jobs=${jobs:-2}
build=${RADUZA_VALGRIND_BUILD:-$root/build/native}
# Neither the tool's statuses (0, 1) nor a shell's (126, 127, 128 + signal).
report_status=99

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
wrapper="$logs/raduza"
# The log is opened on a high descriptor: a file valgrind opened itself would
# take the place of a closed standard output and receive the tool's messages.
cat >"$wrapper" <<WRAPPER
#!/bin/sh
exec 9>>"$logs/valgrind.\$\$.log"
exec valgrind --quiet --error-exitcode=$report_status --leak-check=full \\
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \\
  --log-fd=9 "$build/raduza" "\$@"
WRAPPER
chmod +x "$wrapper"

# A directory of 100,000 files costs minutes under valgrind and adds nothing
# the smaller trees do not already show; valgrind keeps descriptors of its own
# within a limit on open files, which leaves a tool run under a very low limit
# none; the comparison with the Win32 build runs the tool directly, not through
# RADUZA_TOOL.
status=0
(cd "$build" && RADUZA_TOOL="$wrapper" ctest -j "$jobs" \
  -E 'WalksADirectoryOf100000Entries|ALowLimitOnOpenFiles|BothBuildsStoreOneTreeAsTheSameBytes') || status=1
runs=$(ls "$logs" | grep -c '^valgrind\.' || true)
reports=0
for log in "$logs"/valgrind.*.log; do
  [ -s "$log" ] || continue
  reports=$((reports + 1))
  echo "==== valgrind report: $log"
  cat "$log"
done
echo "valgrind: $runs runs of the tool, $reports with reports"
[ "$reports" -eq 0 ] || status=1
exit "$status"
