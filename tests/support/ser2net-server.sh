# Sourced by the shell tests and benches that put Debian's ser2net in front of the simulated
# machine: start_ser2net WORK_DIR DEVICE starts it as an RFC 2217 server on 127.0.0.1 and a free
# port, its configuration, pid file and log in WORK_DIR; it sets ser2net_pid and url (the port's
# name for versionup-cli). stop_ser2net ends it.

# A port nothing listens on, from the kernel's own table: no helper language needed.
free_tcp_port() {
    local port
    for _ in $(seq 100); do
        port=$((20000 + RANDOM % 40000))
        awk -v p="$(printf ':%04X' "$port")" 'substr($2, length($2) - 4) == p { f = 1 }
                                               END { exit !f }' /proc/net/tcp /proc/net/tcp6 ||
            { echo "$port"; return 0; }
    done
    return 1
}

start_ser2net() {
    local work=$1 device=$2 ser2net port
    ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
    [[ -x $ser2net ]] || { echo "no ser2net (tools/deps.sh installs it)"; return 1; }
    port=$(free_tcp_port) || { echo "no free TCP port"; return 1; }
    # chardelay off: by default ser2net holds each byte from the machine for a millisecond or
    # more, which the loader's 3,064 echoes would pay one by one.
    cat >"$work/ser2net.yaml" <<EOF2
connection: &machine
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$device,9600n81,local
  options:
    kickolduser: false
    chardelay: false
EOF2
    "$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
    ser2net_pid=$!
    local hex
    hex=$(printf '0100007F:%04X' "$port")
    for _ in $(seq 100); do
        awk -v a="$hex" '$2 == a && $4 == "0A" { f = 1 } END { exit !f }' /proc/net/tcp && break
        sleep 0.05
    done
    url=rfc2217://127.0.0.1:$port
}

stop_ser2net() {
    [[ -n ${ser2net_pid:-} ]] && kill "$ser2net_pid" 2>/dev/null && wait "$ser2net_pid" 2>/dev/null
    ser2net_pid=
}
