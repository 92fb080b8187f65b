#!/usr/bin/env python3
"""A serial relay board on a pty: "!0S" and a state byte sets the relays,
"!0R" is answered with the status byte (the relay bits of the last set, plus
the input bit given on the command line; "mute" as the fourth argument makes
a board that never answers). Every command seen is appended to
the log file as a line: "S <state byte>" or "R"; anything else as "? <hex>".

usage: relay_board.py <device> <log file> [input bits [mute]]
"""
import os
import sys
import termios
import tty


def main():
    device, log_path = sys.argv[1], sys.argv[2]
    input_bits = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    mute = len(sys.argv) > 4 and sys.argv[4] == "mute"
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd, termios.TCSANOW)
    relays = 0
    pending = b""
    log = open(log_path, "a", buffering=1)
    print("ready", flush=True)
    while True:
        data = os.read(fd, 64)
        if not data:
            break
        pending += data
        while pending:
            if pending.startswith(b"!0S"):
                if len(pending) < 4:
                    break
                relays = pending[3] & 3
                log.write("S %d\n" % pending[3])
                pending = pending[4:]
            elif pending.startswith(b"!0R"):
                log.write("R\n")
                if not mute:
                    os.write(fd, bytes([relays | input_bits]))
                pending = pending[3:]
            elif b"!0".startswith(pending[:2]) and len(pending) < 3:
                break
            else:
                log.write("? %02x\n" % pending[0])
                pending = pending[1:]


if __name__ == "__main__":
    main()
