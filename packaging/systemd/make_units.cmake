# The bridge's units from packaging/systemd/roderavo-bridge.service: the programs'
# folder filled in, and roderavo-bridge@.service, the same unit for one line of several
# (its site file /etc/roderavo/LINE.toml, its environment file /etc/roderavo/LINE.env).
#   UNIT_SOURCE  the unit's source     RODERAVO_BINDIR  where roderavo is
#   UNIT_DIR     the folder both are written to
# Run with cmake -P (the build tree's copies) or included by the install.
configure_file("${UNIT_SOURCE}" "${UNIT_DIR}/roderavo-bridge.service" @ONLY)
file(READ "${UNIT_DIR}/roderavo-bridge.service" unit)
string(REPLACE "/etc/roderavo/site.toml" "/etc/roderavo/%i.toml" unit "${unit}")
string(REPLACE "/etc/roderavo/bridge.env" "/etc/roderavo/%i.env" unit "${unit}")
string(REPLACE "on a serial line" "on the serial line %i" unit "${unit}")
file(WRITE "${UNIT_DIR}/roderavo-bridge@.service" "${unit}")
