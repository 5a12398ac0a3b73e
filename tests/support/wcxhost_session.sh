# Sourced by the test scripts that run wcxhost many times: one `wcxhost serve` process does every
# run, since a Windows process costs seconds to start under Wine, and a minute under emulation.
#   wcxhost_session PREFIX PROGRAM...   how to start wcxhost; PREFIX goes before the folder names
#                                       it is sent ("Z:" for a Windows program under Wine)
#   wcxhost_run OUT ERR ARGUMENT...     one run in the current folder, its output in OUT and ERR,
#                                       its exit status in $status (124 when it hangs for 300 s)
#   wcxhost_session_end                 ends the process; the next run starts a new one (after a
#                                       change to the INI file: a library may stay loaded in it)
# A run that takes the process down is answered 134 and the next run starts a new one. Runs
# that need an environment or a terminal of their own start wcxhost themselves.

wcxhost_session() {
  session_prefix="$1"
  shift
  session_command=("$@")
  session_pid=""
}

wcxhost_run() {
  local out="$1" err="$2" IFS=$'\t' answered
  shift 2
  if [ -z "$session_pid" ] || ! kill -0 "$session_pid" 2>/dev/null; then
    coproc WCXHOST_SESSION { exec "${session_command[@]}" serve 2>/dev/null; }
    session_pid=$WCXHOST_SESSION_PID
  fi
  printf '%s\n' "$session_prefix$PWD"$'\t'"$out"$'\t'"$err"$'\t'"$*" >&"${WCXHOST_SESSION[1]}"
  read -r -t 300 status <&"${WCXHOST_SESSION[0]}"
  answered=$?
  [ $answered -eq 0 ] && return 0
  status=134
  [ $answered -gt 128 ] && status=124  # no answer in time: the run hangs
  kill "$session_pid" 2>/dev/null
  wcxhost_session_end
}

wcxhost_session_end() {
  [ -n "$session_pid" ] || return 0
  exec {WCXHOST_SESSION[1]}>&- 2>/dev/null  # end of input: the process ends itself
  wait "$session_pid" 2>/dev/null
  session_pid=""
}
