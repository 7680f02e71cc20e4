#!/usr/bin/env python3
# Runs echo-floor.exe under wine (echo-floor.sh sets up the prefix) against a peer on a pseudo-terminal that echoes every byte at
# once. usage: echo-floor.py ECHO_FLOOR_EXE PORTS_DIR [COUNT]
# The wine prefix (WINEPREFIX) must point COM1 at PORTS_DIR/com1.
import os, pty, select, subprocess, sys, threading

exe, ports = sys.argv[1], sys.argv[2]
count = sys.argv[3] if len(sys.argv) > 3 else "2000"
master, slave = pty.openpty()
link = os.path.join(ports, "com1")
if os.path.lexists(link):
    os.remove(link)
os.symlink(os.ttyname(slave), link)
stop = False

def echo():
    while not stop:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            os.write(master, os.read(master, 4096))

peer = threading.Thread(target=echo, daemon=True)
peer.start()
result = subprocess.run(["wine", exe, count], env=dict(os.environ, WINEDEBUG="-all"),
                        stderr=subprocess.DEVNULL)
stop = True
sys.exit(result.returncode)
