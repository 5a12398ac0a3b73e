# Sourced by the commands that run Windows programs: one Wine server for the whole run, instead of
# one start-up per program, stopped again when the calling script exits, unless it was already
# running (a command run from inside another, such as the README's commands run by the tests).
export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}" WINEDEBUG=-all
if wineserver -p; then
  trap 'wineserver -k 2>/dev/null || true' EXIT
else
  [ $? -eq 2 ]  # 2: a server for this prefix already runs and serves us too
fi
# Start Wine's background services now, away from our pipes: started by the first program they
# would inherit its output pipe and keep a reader such as CTest waiting for it to close.
"$(dirname "${BASH_SOURCE[0]}")/run-windows.sh" cmd /c exit >/dev/null 2>&1 </dev/null || true
