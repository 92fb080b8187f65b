#!/usr/bin/env python3
"""What another user tries against a root service, run as that user (setpriv):
take the service lock before the service starts, bind its control socket
first, control it, and open as many connections to its control socket as
asked. Prints one line: "lock <result> bind <result> control <result>
refused <count>", each result "done" or the errno name.

usage: intruder.py <lock file> <control socket> <connections>
"""
import errno, fcntl, os, socket, sys
lock, path, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
def attempt(action):
    try:
        action()
        return "done"
    except OSError as e:
        return errno.errorcode.get(e.errno, str(e.errno))
def take_lock():
    fd = os.open(lock, os.O_RDWR | os.O_CREAT, 0o644)
    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
def bind():
    socket.socket(socket.AF_UNIX).bind(path)
def control():
    s = socket.socket(socket.AF_UNIX)
    s.connect(path)
    s.sendall(b"CONTROL 1\n")
    if not s.recv(64).startswith(b"OK"):
        raise OSError(errno.EPERM, "refused")
refused = 0
for i in range(count):
    s = socket.socket(socket.AF_UNIX)
    try:
        s.connect(path)
        refused += s.recv(64).startswith(b"ERR")
    except OSError:
        refused += 1
    s.close()
print("lock", attempt(take_lock), "bind", attempt(bind), "control", attempt(control),
      "refused", refused)
