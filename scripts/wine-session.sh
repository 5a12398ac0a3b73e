# Sourced by the commands that run Windows programs: one Wine server for the whole run, instead of
# one start-up per program, stopped again when the calling script exits.
export WINEPREFIX="${WINEPREFIX:-$HOME/.morvane-wine}" WINEDEBUG=-all
wineserver -p || [ $? -eq 2 ]  # 2: a server for this prefix already runs and serves us too
trap 'wineserver -k 2>/dev/null || true' EXIT
# Start Wine's background services now, away from our pipes: started by the first program they
# would inherit its output pipe and keep a reader such as CTest waiting for it to close.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
