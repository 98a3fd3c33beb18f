#!/bin/sh
# Runs the native suites that start the tool, with every run of the packaged tool
# under valgrind's memcheck. Any report (an invalid access, a use of uninitialised
# memory, a definite leak) fails the stage: the tool then exits with a status of
# its own that no test expects, and the report is printed from valgrind's log.
set -eu
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
jobs=${jobs:-2}
tool=${RADUZA_VALGRIND_TOOL:-$root/build/tool/raduza}
tests=${RADUZA_VALGRIND_TESTS:-$root/build/sanitize}
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
  --log-fd=9 "$tool" "\$@"
WRAPPER
chmod +x "$wrapper"

# A directory of 100,000 files costs minutes under valgrind and adds nothing
# the smaller trees do not already show; valgrind keeps descriptors of its own
# within a limit on open files, which leaves a tool run under a very low limit
# none; the comparison with the Win32 build runs the tool directly, not through
# RADUZA_TOOL. Forty interrupts at random moments test timing, not memory, as do the
# runs waiting for the second on a whole-second file system, and the modules'
# agreement spends its time compiling.
status=0
# The suites whose tests start the tool; the others test the code in their own process.
(cd "$tests" && RADUZA_TOOL="$wrapper" ctest -j "$jobs" \
  -R '^(EndToEnd|StandardOutputFile|Hostile|AsRootAndNobody|CompilerOracle|Loader|LoaderAgreement|EmbeddedBundle|Extraction|Lister)\.' \
  -E 'WalksADirectoryOf100000Entries|ALowLimitOnOpenFiles|BothBuildsStoreOneTreeAsTheSameBytes|StatusAndOutcomeAgreeWhateverMomentAnInterruptComes|EachModuleReadsItsOwnResources|AnUpdateOnAWholeSecondFileSystem') || status=1
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
# A filter that matched nothing would pass with nothing checked.
[ "$runs" -ge 50 ] || { echo "valgrind: only $runs runs of the tool"; status=1; }
exit "$status"
