# Body of every stand-in device script and command ("savelog.sh", "iup.sh", "reboot", ...).
# A stand-in is a tiny script that sets STANDIN_KEY and STANDIN_DIR and sources this file.
#
# Each run is recorded in its own directory $STANDIN_DIR/records/$STANDIN_KEY/<n>/ (n = 1, 2,
# ... in start order):
#   argv    the arguments, each followed by a NUL byte ($0 first), so spaces, quotes and line
#           feeds survive exactly
#   cwd     the working directory;  pid  the process id (inside the sandbox)
#   start   start time (seconds since the epoch, with nanoseconds)
#   end, status   end time and exit code, written last (absent while running or when killed)
#
# Behaviour, read at every run from $STANDIN_DIR/control/$STANDIN_KEY (bash assignments; any
# of them may be left out): STDOUT and STDERR (text written as is, no line feed added), SLEEP
# (seconds), HOLD=1 (wait until the file $STANDIN_DIR/release/$STANDIN_KEY exists), RUN (bash
# code evaluated last; $run is this run's record directory), EXIT (exit code, default 0).

run_root="$STANDIN_DIR/records/$STANDIN_KEY"
mkdir -p "$run_root"
run_number=1
while ! mkdir "$run_root/$run_number" 2>/dev/null; do
    run_number=$((run_number + 1))
done
run="$run_root/$run_number"
date +%s.%N >"$run/start"
pwd -P >"$run/cwd"
echo $$ >"$run/pid"
printf '%s\0' "$0" "$@" >"$run/argv.part" && mv "$run/argv.part" "$run/argv"

STDOUT="" STDERR="" SLEEP="" HOLD="" RUN="" EXIT=0
control="$STANDIN_DIR/control/$STANDIN_KEY"
# shellcheck disable=SC1090
[ -f "$control" ] && . "$control"

[ -n "$STDOUT" ] && printf '%s' "$STDOUT"
[ -n "$STDERR" ] && printf '%s' "$STDERR" >&2
[ -n "$SLEEP" ] && sleep "$SLEEP"
if [ -n "$HOLD" ]; then
    while [ ! -e "$STANDIN_DIR/release/$STANDIN_KEY" ]; do sleep 0.02; done
fi
[ -n "$RUN" ] && eval "$RUN"
date +%s.%N >"$run/end"
echo "$EXIT" >"$run/status"
exit "$EXIT"
