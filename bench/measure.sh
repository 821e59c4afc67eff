# Sourced by the benchmark scripts: `measure CMD...` runs a command under
# /usr/bin/time -v and prints "wall-seconds cpu-seconds peak-MB". The CPU
# time (user + system) says more than the wall time on a busy machine.
# Needs $work, a scratch folder.
measure() {
    local report=$work/time.txt
    /usr/bin/time -v "$@" >/dev/null 2>"$report" || { cat "$report" >&2; return 1; }
    local wall rss user sys
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$report")
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$report")
    user=$(sed -n 's/.*User time (seconds): //p' "$report")
    sys=$(sed -n 's/.*System time (seconds): //p' "$report")
    awk -v w="$wall" -v r="$rss" -v u="$user" -v y="$sys" 'BEGIN {
        n = split(w, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i];
        printf "%.3f %.2f %.1f\n", s, u + y, r / 1024 }'
}

# Installs a Debian package for the benchmark only, when `command` is missing.
need() {
    local command=$1 package=$2
    command -v "$command" >/dev/null && return 0
    apt-get install -y --no-install-recommends "$package" >/dev/null ||
        { apt-get update >/dev/null && apt-get install -y --no-install-recommends "$package" >/dev/null; }
}
