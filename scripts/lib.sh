# shellcheck shell=bash
# Helpers shared by the scripts and the integration tests; sourced, never run.

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

_all_gone() {
    local p
    for p in "$@"; do ! is_alive "$p" || return 1; done
}

# wait_gone PID SECS: 0 once PID has ended, 1 if it still runs after SECS seconds.
wait_gone() { wait_until "$2" _all_gone "$1"; }

# end_pids SECS PID...: TERM, up to SECS seconds of grace, then KILL; reaps those that are our
# children. Returns 1 if any outlived its KILL.
end_pids() {
    local secs=$1
    shift
    [ $# -gt 0 ] || return 0
    kill -TERM "$@" 2>/dev/null
    wait_until "$secs" _all_gone "$@" || kill -KILL "$@" 2>/dev/null
    wait_until 2 _all_gone "$@"
    local rc=$? p
    for p in "$@"; do is_alive "$p" || wait "$p" 2>/dev/null; done
    return "$rc"
}

# cpu_ticks PID: the process's user + system time so far, in clock ticks.
cpu_ticks() {
    local stat f
    stat=$(<"/proc/$1/stat") || return 1
    # The command name may hold spaces: count the fields after its ")".
    read -r -a f <<<"${stat##*) }"
    echo $((f[11] + f[12]))
}
