# Sourced: installs Debian packages so that a half-synced mirror does not stop the setup. One
# index that fails to download makes `apt-get update` exit 100 although every other index was
# fetched; and when the security suite's amd64 packages are newer than the i386 ones it could
# not fetch, installing both together fails to resolve until the release's own suite is
# preferred (-t CODENAME). Each failure is said in one line: what failed and what was tried.
#   install_packages PACKAGE...   installs those that are missing; nothing to do costs no update
#   update_indexes PACKAGE...     apt-get update; a failure stops only when an index lacks one of
#                                 them (src:NAME for a source package)
# apt's output goes to $apt_log. No "grep -q" at a pipe's end: under pipefail, the writer it
# leaves behind fails the pipeline.

apt_log="${TMPDIR:-/tmp}/morvane-apt.log"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Another install may hold dpkg's lock: wait for it rather than fail.
apt_get() { as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"; }

missing_packages() {  # PACKAGE...
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep "install ok installed" >/dev/null || echo "$package"
  done
}

# apt's last error line in the log, for the one line that reports a failure.
apt_error() { grep -E '^(E|W): ' "$apt_log" 2>/dev/null | tail -n 1 | cut -c1-300; }

# Whether an index offers PACKAGE (src:NAME: the source package NAME).
offered() {  # PACKAGE
  case "$1" in
    src:*) apt-cache showsrc "${1#src:}" 2>/dev/null | grep "^Package:" >/dev/null ;;
    *) apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -vx "(none)" >/dev/null ;;
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

# Multi-Arch "same" packages need one version in both architectures. When an amd64 one came from
# the security suite and that suite's i386 index could not be fetched, its i386 twin cannot follow:
# prints the PACKAGE:amd64=VERSION requests that take such amd64 packages back to the version the
# twin can have, found by simulating the install until it resolves. Fails when it does not.
twin_versions() {  # CODENAME PACKAGE...
  local codename="$1" round plan package candidate installed requests=()
  shift
  for round in 1 2 3 4 5 6 7 8; do
    if plan="$(apt-get install -s --no-install-recommends --allow-downgrades -t "$codename" "$@" "${requests[@]}" 2>&1)"; then
      grep -q '^Remv ' <<< "$plan" && return 1  # never by removing what is there
      printf '%s\n' "${requests[@]}"
      return 0
    fi
    local added=0
    for package in $(sed -n 's/.* Depends: \([^ ]*\):i386 .*/\1/p' <<< "$plan" | sort -u); do
      candidate="$(apt-cache policy "$package:i386" 2>/dev/null | sed -n 's/^ *Candidate: //p')"
      installed="$(dpkg-query -W -f='${Version}' "$package:amd64" 2>/dev/null || true)"
      if [ -n "$installed" ] && [ -n "$candidate" ] && [ "$candidate" != "(none)" ] && [ "$candidate" != "$installed" ] &&
         [[ " ${requests[*]} " != *" $package:amd64="* ]]; then
        requests+=("$package:amd64=$candidate")
        added=1
      fi
    done
    [ "$added" = 1 ] || return 1
  done
  return 1
}

install_packages() {  # PACKAGE...
  local missing codename first
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "setup: installing ${missing[*]}"
  update_indexes "${missing[@]}" || return 1
  apt_get install -y -qq --no-install-recommends "${missing[@]}" >>"$apt_log" 2>&1 && return 0
  first="$(apt_error)"
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
  [ -n "$codename" ] || { echo "setup: cannot install ${missing[*]}: apt-get install failed (${first:-see $apt_log})" >&2; return 1; }
  echo "setup: the install did not resolve (${first:-see $apt_log}); again with the release's own suite first (-t $codename)" >&2
  apt_get install -y -qq --no-install-recommends -t "$codename" "${missing[@]}" >>"$apt_log" 2>&1 && return 0
  local twins
  if twins="$(twin_versions "$codename" "${missing[@]}")" && [ -n "$twins" ]; then
    mapfile -t twins <<< "$twins"
    echo "setup: again with -t $codename, taking ${twins[*]} back to the version of its i386 twin" >&2
    apt_get install -y -qq --no-install-recommends --allow-downgrades -t "$codename" "${missing[@]}" "${twins[@]}" \
      >>"$apt_log" 2>&1 && return 0
  fi
  echo "setup: cannot install ${missing[*]}: apt-get install failed, again with -t $codename, and with amd64 packages at their i386 twins' versions ($(apt_error); log: $apt_log)" >&2
  return 1
}
