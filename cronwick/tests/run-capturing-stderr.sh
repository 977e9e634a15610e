#!/bin/sh
# Runs a test program under Wine with its standard error appended to a file that it reads
# back itself. Wine writes a Windows program's debug channels (the event-log channel among
# them) to the standard error of the Unix process that started the first Wine program, so
# this is where the events of the programs the test starts end up.
#   run-capturing-stderr.sh LOGFILE WINE PROGRAM [ARGUMENTS...]
log=$1
shift
: >"$log"
KQ_CHILD_STDERR_LOG="$log"
export KQ_CHILD_STDERR_LOG
"$@" 2>>"$log"
status=$?
rm -f "$log"
exit $status
