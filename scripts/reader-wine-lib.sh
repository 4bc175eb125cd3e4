# Shared by scripts/e2e-tests, scripts/demo and bench/reader_bench (source it): the Wine side of
# a host run against reader_sim.

# The Windows name of a Linux path (Wine's Z: drive is /).
kra_winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# The host's settings file with the driver's element: kra_settings_xml FILE PORT BAUD BITS
kra_settings_xml() {
  printf '<?xml version="1.0" encoding="windows-1251"?>\r\n<XML>\r\n\t<Devices>\r\n\t\t<KRA_MCR_Serial COM_Number="%s" Baud="%s" Bits="%s"/>\r\n\t</Devices>\r\n</XML>\r\n' \
    "$2" "$3" "$4" >"$1"
}
