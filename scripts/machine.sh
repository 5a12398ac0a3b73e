# Sourced: what this machine can run. Some machines of our kind execute no 32-bit x86 code at all
# ("Exec format error" for every i386 program); there 32-bit Windows programs run only through
# user-mode emulation, and Debian's `wine` wrapper, which starts the 32-bit loader whenever wine32
# is installed, cannot even start a 64-bit program.
#   MORVANE_I386_PROBE=FILE   run FILE instead of the built-in i386 program to tell whether i386
#                             code runs (point it at a file the kernel refuses to see the skips)

wine64_loader() {
  if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64
  elif command -v wine64 >/dev/null 2>&1; then command -v wine64
  else echo wine
  fi
}
wine32_loader=/usr/lib/wine/wine

# Runs a tiny static i386 program (exit(42) through int 0x80). Prints why it did not run, if it did not.
i386_unrunnable_reason() {
  local probe="${MORVANE_I386_PROBE:-}" made="" status
  if [ -z "$probe" ]; then
    made="$(mktemp "${TMPDIR:-/tmp}/morvane-i386.XXXXXX")" || { echo "no temporary file for the i386 probe"; return 0; }
    # ELF header, one loadable segment at 0x08048000, then: mov eax,1; mov ebx,42; int 0x80.
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\004\010\064\0\0\0\0\0\0\0\0\0\0\0\064\0\040\0\1\0\0\0\0\0\0\0' > "$made"
    printf '\1\0\0\0\0\0\0\0\0\200\004\010\0\200\004\010\140\0\0\0\140\0\0\0\5\0\0\0\0\020\0\0' >> "$made"
    printf '\270\1\0\0\0\273\052\0\0\0\315\200' >> "$made"
    chmod +x "$made"
    probe="$made"
  fi
  local error
  error="$("$probe" 2>&1 >/dev/null)"
  status=$?
  [ -n "$made" ] && rm -f "$made"
  [ "$status" -eq 42 ] && return 0
  error="${error##*: }"
  echo "an i386 program does not run here (exit status $status${error:+: $error})"
}

# Why 32-bit Windows programs cannot run under Wine here; prints nothing when they can.
wine32_unrunnable_reason() {
  local reason
  reason="$(i386_unrunnable_reason)"
  if [ -n "$reason" ]; then
    echo "$reason, and no emulator is registered for i386 programs (scripts/setup.sh registers qemu-user where binfmt_misc can be used)"
  elif [ ! -x "$wine32_loader" ]; then
    echo "32-bit Wine is not installed (scripts/setup.sh installs wine32:i386)"
  fi
}

# Whether i386 programs run through our emulator entry (registered only where they do not run).
i386_emulated() { grep -qx enabled /proc/sys/fs/binfmt_misc/morvane-i386 2>/dev/null; }

# The static qemu of qemu-user 8 or later (from backports), which starts 32-bit Wine in seconds.
i386_emulator_of_backports() {
  local version
  version="$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)"
  if [ -x /usr/bin/qemu-i386 ] && [ -n "$version" ] && dpkg --compare-versions "$version" ge 1:8; then
    echo /usr/bin/qemu-i386
  fi
}

# Registers qemu for i386 ELF programs through binfmt_misc (root): the faster emulator where there
# is one, replacing an entry of ours that names another. The F flag opens the emulator now, so it
# serves in every mount namespace.
register_i386_emulation() {
  local dir=/proc/sys/fs/binfmt_misc emulator
  emulator="$(i386_emulator_of_backports)"
  [ -n "$emulator" ] || emulator=/usr/bin/qemu-i386-static
  [ -x "$emulator" ] || { echo "no $emulator"; return 1; }
  if [ ! -w "$dir/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null || true
  fi
  [ -e "$dir/register" ] || { echo "binfmt_misc cannot be mounted"; return 1; }
  if [ -e "$dir/morvane-i386" ]; then
    [ "$(sed -n 's/^interpreter //p' "$dir/morvane-i386")" = "$emulator" ] && return 0
    echo -1 | as_root tee "$dir/morvane-i386" >/dev/null
  fi
  # The ELF header of a 32-bit little-endian x86 program (class 1, data 1, machine 3).
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':morvane-i386:M::%s:%s:%s:F' "$magic" "$mask" "$emulator" | as_root tee "$dir/register" >/dev/null 2>&1 ||
    { echo "binfmt_misc refused the i386 entry"; return 1; }
}
