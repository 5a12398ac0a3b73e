# Sourced: installs Debian packages so that a half-synced mirror does not stop the setup. One
# index that fails to download makes `apt-get update` exit 100 although every other index was
# fetched; and when the security suite's amd64 packages are newer than the i386 ones it could
# not fetch, installing both together fails to resolve until the release's own suite is
# preferred (-t CODENAME). Each failure is said in one line: what failed and what was tried.
#   install_packages PACKAGE...   installs those that are missing; nothing to do costs no update
#   update_indexes PACKAGE...     apt-get update; a failure stops only when an index lacks one of
#                                 them (src:NAME for a source package)
# apt's output goes to $apt_log.

apt_log="${TMPDIR:-/tmp}/morvane-apt.log"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Another install may hold dpkg's lock: wait for it rather than fail.
apt_get() { as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"; }

missing_packages() {  # PACKAGE...
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || echo "$package"
  done
}

# apt's last error line in the log, for the one line that reports a failure.
apt_error() { grep -E '^(E|W): ' "$apt_log" 2>/dev/null | tail -n 1 | cut -c1-300; }

# Whether an index offers PACKAGE (src:NAME: the source package NAME).
offered() {  # PACKAGE
  case "$1" in
    src:*) apt-cache showsrc "${1#src:}" 2>/dev/null | grep -q '^Package:' ;;
    *) apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -qvx '(none)' ;;
  esac
}

# Updates the indexes. A failure is only a warning when every package named has a candidate.
update_indexes() {  # PACKAGE...
  apt_get update -qq >"$apt_log" 2>&1 && return 0
  local error package unknown=()
  error="$(apt_error)"
  for package in "$@"; do
    offered "$package" || unknown+=("$package")
  done
  if [ ${#unknown[@]} -eq 0 ]; then
    echo "setup: warning: apt-get update failed (${error:-see $apt_log}); the indexes the install needs are there, going on" >&2
    return 0
  fi
  echo "setup: apt-get update failed (${error:-see $apt_log}) and no index offers ${unknown[*]}; tried apt-get update once" >&2
  return 1
}

install_packages() {  # PACKAGE...
  local missing codename
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "setup: installing ${missing[*]}"
  update_indexes "${missing[@]}" || return 1
  apt_get install -y -qq --no-install-recommends "${missing[@]}" >>"$apt_log" 2>&1 && return 0
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
  local first
  first="$(apt_error)"
  if [ -n "$codename" ]; then
    echo "setup: the install did not resolve (${first:-see $apt_log}); again with the release's own suite first (-t $codename)" >&2
    apt_get install -y -qq --no-install-recommends -t "$codename" "${missing[@]}" >>"$apt_log" 2>&1 && return 0
  fi
  echo "setup: cannot install ${missing[*]}: apt-get install failed${codename:+, and again with -t $codename} ($(apt_error); log: $apt_log)" >&2
  return 1
}
