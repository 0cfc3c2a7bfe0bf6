# shellcheck shell=bash
# Helpers shared by the scripts and the integration tests; sourced, never run.

# on_exit FUNC: FUNC runs when the script ends, however it ends: an INT, TERM or HUP ends it with
# the usual status, and FUNC, which gets that status in $?, runs once.
on_exit() {
    # shellcheck disable=SC2064,SC2154   # FUNC is known now; the status is taken when it runs
    trap "_exit_status=\$?; trap '' INT TERM HUP; trap - EXIT; _status \$_exit_status; $1" EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}

_status() { return "$1"; }

# is_alive PID: true while PID runs (a zombie counts as gone). Read from /proc: loops call it
# often, and a ps each time would cost more than the rest.
is_alive() {
    local st
    { read -r st <"/proc/$1/stat"; } 2>/dev/null || return 1
    st=${st##*) }
    [[ $st != Z* ]]
}

# wait_until [--while PID] SECS CMD...: polls CMD every 0.1 s for at most SECS seconds; with
# --while, gives up (status 2) as soon as PID has ended.
wait_until() {
    local pid="" i
    [ "$1" != --while ] || { pid=$2; shift 2; }
    local secs=$1
    shift
    for ((i = 0; i < secs * 10; i++)); do
        "$@" && return 0
        [ -z "$pid" ] || is_alive "$pid" || return 2
        sleep 0.1
    done
    "$@"
}

# wait_for SECS CMD...: like wait_until, for a CMD that prints its answer: prints the first answer
# that is not empty; returns 1 if none came within SECS seconds.
wait_for() {
    local secs=$1 answer=""
    shift
    # shellcheck disable=SC2317   # called through wait_until
    _answered() { answer=$("$@") && [ -n "$answer" ]; }
    wait_until "$secs" _answered "$@" && echo "$answer"
}

_all_gone() {
    local p
    for p in "$@"; do ! is_alive "$p" || return 1; done
}

# wait_gone PID SECS: 0 once PID has ended, 1 if it still runs after SECS seconds.
wait_gone() { wait_until "$2" _all_gone "$1"; }

# end_pids SECS PID...: TERM, up to SECS seconds of grace, then KILL; reaps those that are our
# children. Returns 1 if any outlived its KILL; safe under set -e.
end_pids() {
    local secs=$1
    shift
    [ $# -gt 0 ] || return 0
    kill -TERM "$@" 2>/dev/null
    wait_until "$secs" _all_gone "$@" || kill -KILL "$@" 2>/dev/null
    wait_until 2 _all_gone "$@"
    local rc=$? p
    for p in "$@"; do is_alive "$p" || wait "$p" 2>/dev/null || true; done
    return "$rc"
}

# tagged TAG: the live processes whose environment holds TAG ("NAME=VALUE"). A tag in the
# environment follows a process through forks, new sessions and re-parenting to init alike.
tagged() {
    local pid
    grep -lzxF -- "$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | while read -r pid; do
        [ "$pid" = "$$" ] || ! is_alive "$pid" || echo "$pid"
    done
    return 0
}

# end_tagged SECS TAG: ends every process carrying TAG as end_pids does, twice over for those
# started meanwhile. Returns 1 if any is left.
end_tagged() {
    # shellcheck disable=SC2046   # a list of pids
    end_pids "$1" $(tagged "$2") && end_pids "$1" $(tagged "$2") && [ -z "$(tagged "$2")" ]
}

# cpu_ticks PID: the process's user + system time so far, in clock ticks.
cpu_ticks() {
    local stat f
    stat=$(<"/proc/$1/stat") || return 1
    # The command name may hold spaces: count the fields after its ")".
    read -r -a f <<<"${stat##*) }"
    echo $((f[11] + f[12]))
}
