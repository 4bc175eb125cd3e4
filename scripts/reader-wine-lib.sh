# Shared by scripts/wine-run, scripts/e2e-tests, scripts/demo and bench/reader_bench (source it):
# the Wine side of a host run against reader_sim.

# The Windows name of a Linux path (Wine's Z: drive is /).
kra_winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# win64 for a Windows program or DLL built for x86-64, win32 for one built for x86; fails for
# anything else. This decides the Wine prefix a program runs in.
kra_pe_arch() {
  [ -f "$1" ] || return 1
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || return 1
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case $machine in 8664) echo win64 ;; 014c) echo win32 ;; *) return 1 ;; esac
}

# The prefix folder for an architecture: the 64-bit prefix is the 32-bit one's name with 64
# appended (build/e2e-wine, build/e2e-wine64). kra_prefix_for BASE ARCH
kra_prefix_for() { if [ "$2" = win64 ]; then echo "${1}64"; else echo "$1"; fi; }

# The host's settings file with the driver's element: kra_settings_xml FILE PORT BAUD BITS
kra_settings_xml() {
  printf '<?xml version="1.0" encoding="windows-1251"?>\r\n<XML>\r\n\t<Devices>\r\n\t\t<KRA_MCR_Serial COM_Number="%s" Baud="%s" Bits="%s"/>\r\n\t</Devices>\r\n</XML>\r\n' \
    "$2" "$3" "$4" >"$1"
}
