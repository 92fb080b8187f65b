#!/usr/bin/env python3
"""Network benchmarks of the agent beside a baseline measured in the same run.

  netbench.py sntp      SNTP server: agent (time-server role) vs chronyd -x, one
                        request at a time and 16 in flight, several rounds
  netbench.py console   "T+" over a fresh TCP connection, "H+" over UDP: agent
                        vs a minimal C responder (the floor)
  netbench.py accuracy  offset chronyd -Q measures against the agent and
                        against chronyd

Everything runs on 127.0.0.1. The agent gets its own data folder, a simulated
clock (NCLMOD_SIMCLOCK) when it runs with an offset, and always
NCLMOD_FORBID_REAL_CLOCK=1, so it can never set the host clock; chronyd runs with -x
(serving) or -Q (measuring), never touching the clock. NCLMOD_BIN picks the
agent's executable (default: the newest build*/NCLmod).
"""
import glob
import os
import re
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NTP_DELTA = 2208988800


def agent_binary():
    path = os.environ.get("NCLMOD_BIN")
    if not path:
        found = sorted(glob.glob(os.path.join(ROOT, "build*", "NCLmod")), key=os.path.getmtime)
        path = found[-1] if found else ""
    if not path or not os.access(path, os.X_OK):
        sys.exit("netbench: no NCLmod executable (build it, or set NCLMOD_BIN)")
    return path


def free_port(start):
    for port in range(start, 32000):
        try:
            t = socket.socket()
            t.bind(("127.0.0.1", port))
            u = socket.socket(type=socket.SOCK_DGRAM)
            u.bind(("127.0.0.1", port))
            t.close()
            u.close()
            return port
        except OSError:
            pass
    sys.exit("netbench: no free port")


class Run:
    """Processes started for one benchmark, all ended at exit."""

    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="nclmod-bench.")
        self.procs = []

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        shutil.rmtree(self.work, ignore_errors=True)

    def agent(self, name, port, client_format, offset_ms=0):
        home = os.path.join(self.work, "agent-%d" % port)
        os.makedirs(home)
        with open(os.path.join(home, "REVavidod.ini"), "w") as f:
            f.write("TCPPort,%d\nClientFormat,%d\n" % (port, client_format))
        with open(os.path.join(home, "simclock"), "w") as f:
            f.write(str(offset_ms))
        program = os.path.join(home, name)
        os.symlink(agent_binary(), program)
        env = dict(os.environ, NCLMOD_HOME=home, NCLMOD_FORBID_REAL_CLOCK="1",
                   NCLMOD_POWER="record:" + home + "/power.log",
                   NCLMOD_BIND_ADDRESS="127.0.0.1", QT_QPA_PLATFORM="offscreen")
        # Serving and answering only read the clock. With no offset the agent
        # reads the host clock as in production (the guard above refuses any
        # setting); an offset needs the simulated clock, which costs a file read.
        if offset_ms:
            env["NCLMOD_SIMCLOCK"] = os.path.join(home, "simclock")
        else:
            env.pop("NCLMOD_SIMCLOCK", None)
        env.pop("NCLMOD_SERVICE_NAME", None)
        env.pop("NCLMOD_MODULE_TYPE", None)
        self.procs.append(subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL, cwd=home))
        return home

    def chronyd_server(self, port):
        conf = os.path.join(self.work, "chrony-%d.conf" % port)
        with open(conf, "w") as f:
            f.write("port %d\nbindaddress 127.0.0.1\nallow 127.0.0.1\ncmdport 0\n"
                    "local stratum 1\npidfile %s/chronyd-%d.pid\n" % (port, self.work, port))
        self.procs.append(subprocess.Popen(["chronyd", "-x", "-d", "-u", "root", "-f", conf],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def chronyd_measure(self, port):
        """Offset in ms that chronyd -Q measures against the server on port."""
        conf = os.path.join(self.work, "measure-%d.conf" % port)
        with open(conf, "w") as f:
            f.write("server 127.0.0.1 port %d iburst\ncmdport 0\npidfile %s/measure-%d.pid\n"
                    % (port, self.work, port))
        out = subprocess.run(["chronyd", "-Q", "-u", "root", "-t", "30", "-f", conf],
                             capture_output=True, text=True, timeout=40)
        m = re.search(r"System clock wrong by (-?[\d.]+) seconds", out.stdout + out.stderr)
        return float(m.group(1)) * 1000.0 if m else float("nan")


def sntp_request():
    t = time.time() + NTP_DELTA
    return struct.pack("!B47x", 0x23)[:40] + struct.pack("!II", int(t), int((t % 1) * 2**32))


def wait_udp(port, payload, timeout=10.0):
    s = socket.socket(type=socket.SOCK_DGRAM)
    s.settimeout(0.2)
    end = time.time() + timeout
    while time.time() < end:
        s.sendto(payload, ("127.0.0.1", port))
        try:
            s.recvfrom(512)
            return True
        except OSError:
            time.sleep(0.1)
    return False


def wait_tcp(port, timeout=10.0):
    end = time.time() + timeout
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100.0))] if values else float("nan")


def udp_sequential(port, payload, count):
    s = socket.socket(type=socket.SOCK_DGRAM)
    s.settimeout(1.0)
    lat, lost = [], 0
    start = time.perf_counter()
    for _ in range(count):
        t0 = time.perf_counter()
        s.sendto(payload, ("127.0.0.1", port))
        try:
            s.recvfrom(512)
            lat.append(time.perf_counter() - t0)
        except OSError:
            lost += 1
    return len(lat) / (time.perf_counter() - start), lat, lost


def tcp_sequential(port, request, count):
    lat, failed = [], 0
    start = time.perf_counter()
    for _ in range(count):
        t0 = time.perf_counter()
        try:
            c = socket.create_connection(("127.0.0.1", port), 1.0)
            c.sendall(request)
            if c.recv(512):
                lat.append(time.perf_counter() - t0)
            else:
                failed += 1
            c.close()
        except OSError:
            failed += 1
    return len(lat) / (time.perf_counter() - start), lat, failed


def row(name, result, base_rate=None):
    rate, lat, lost = result
    ratio = "%.2f" % (rate / base_rate) if base_rate else "1.00"
    print("| %-34s | %9.0f | %8.0f | %8.0f | %6d | %5s |" % (
        name, rate, pct(lat, 50) * 1e6, pct(lat, 99) * 1e6, lost, ratio))


def header(title):
    print("\n%s\n" % title)
    print("| %-34s | %9s | %8s | %8s | %6s | %5s |" % (
        "what", "req/s", "p50 us", "p99 us", "lost", "ratio"))
    print("|%s|%s|%s|%s|%s|%s|" % ("-" * 36, "-" * 11, "-" * 10, "-" * 10, "-" * 8, "-" * 7))


def sntp_client(run):
    """The C client of bench/sntpclient.c, built once per run."""
    path = os.path.join(run.work, "sntpclient")
    if not os.path.exists(path):
        subprocess.run(["cc", "-O2", "-o", path, os.path.join(ROOT, "bench", "sntpclient.c")],
                       check=True)
    return path


def cpu_seconds(pid):
    """CPU time the process's threads have used so far (scheduler statistics, in ns)."""
    total = 0
    for task in glob.glob("/proc/%d/task/*/schedstat" % pid):
        with open(task) as f:
            total += int(f.read().split()[0])
    return total / 1e9


def sntp_load(run, server, count, window):
    """(replies/s, p50 us, p99 us, lost, server CPU us per reply) of count requests with window
    in flight; server is (port, pid)."""
    port, pid = server
    before = cpu_seconds(pid)
    out = subprocess.run([sntp_client(run), str(port), str(count), str(window)],
                         capture_output=True, text=True, check=True).stdout.split()
    cpu = (cpu_seconds(pid) - before) * 1e6 / max(1, count - int(out[3]))
    return float(out[0]), float(out[1]), float(out[2]), int(out[3]), cpu


def bench_sntp(run, count, rounds):
    agent = free_port(24100)
    chrony = free_port(agent + 1)
    run.agent("NCLsrvc", agent, 2)
    agent_pid = run.procs[-1].pid
    run.chronyd_server(chrony)
    chrony_pid = run.procs[-1].pid
    if not (wait_udp(agent, sntp_request()) and wait_udp(chrony, sntp_request())):
        sys.exit("netbench: a server did not start")
    # The machine is shared: the two servers take turns, several rounds, and
    # each round's ratio compares measurements taken seconds apart.
    loads = [("sequential", count, 1), ("16 in flight", count * 4, 16)]
    results = {}
    for r in range(rounds):
        order = [("chronyd", (chrony, chrony_pid)), ("agent", (agent, agent_pid))]
        if r % 2:
            order.reverse()
        for name, window_count, window in loads:
            for server, port in order:
                results.setdefault((name, server), []).append(
                    sntp_load(run, port, window_count, window))
    print("\nSNTP server on 127.0.0.1: the agent (time-server role) and chronyd -x taking "
          "turns, %d rounds" % rounds)
    print("(medians over the rounds; CPU us: the server's user and system time per reply; "
          "ratios agent / chronyd per round: median and range; a rate ratio above 1 and a "
          "p99 ratio below 1 favour the agent)\n")
    fmt = "| %-12s | %-7s | %9s | %7s | %7s | %5s | %7s | %-16s | %-16s |"
    print(fmt % ("load", "server", "replies/s", "p50 us", "p99 us", "lost", "CPU us",
                 "rate ratio", "p99 ratio"))
    print("|" + "|".join("-" * (w + 2) for w in (12, 7, 9, 7, 7, 5, 7, 16, 16)) + "|")

    def spread(values):
        values = sorted(values)
        return "%.2f (%.2f-%.2f)" % (statistics.median(values), values[0], values[-1])

    for name, _, _ in loads:
        base = results[(name, "chronyd")]
        for server in ("chronyd", "agent"):
            got = results[(name, server)]
            med = ["%.0f" % statistics.median(v[0] for v in got)] + [
                "%.1f" % statistics.median(v[k] for v in got) for k in (1, 2)]
            lost = str(sum(v[3] for v in got))
            cpu = "%.1f" % statistics.median(v[4] for v in got)
            ratios = ["", ""]
            if server == "agent":
                ratios = [spread(a[0] / b[0] for a, b in zip(got, base)),
                          spread(a[2] / b[2] for a, b in zip(got, base))]
            print(fmt % tuple([name, server] + med + [lost, cpu] + ratios))


def bench_console(run, count):
    responder = os.path.join(run.work, "responder")
    subprocess.run(["cc", "-O2", "-o", responder, os.path.join(ROOT, "bench", "responder.c")],
                   check=True)
    floor_tcp = free_port(24200)
    floor_udp = free_port(floor_tcp + 1)
    run.procs.append(subprocess.Popen([responder, str(floor_tcp), str(floor_udp)]))
    tcp = free_port(floor_udp + 1)
    udp = free_port(tcp + 1)
    run.agent("NCLmod", tcp, 0)
    run.agent("NCLmod", udp, 2)
    if not (wait_tcp(tcp) and wait_tcp(floor_tcp) and wait_udp(udp, b"H+" + bytes(46))):
        sys.exit("netbench: a responder did not start")
    header("Console requests, %d each (ratio: agent / floor)" % count)
    base = tcp_sequential(floor_tcp, b"T+", count)
    row("floor, T+ on a fresh TCP connection", base)
    row("agent, T+ on a fresh TCP connection", tcp_sequential(tcp, b"T+", count), base[0])
    base = udp_sequential(floor_udp, b"H+" + bytes(46), count)
    row("floor, H+ over UDP", base)
    row("agent, H+ over UDP (rebinds each)", udp_sequential(udp, b"H+" + bytes(46), count),
        base[0])


def bench_accuracy(run, rounds):
    agent = free_port(24300)
    chrony = free_port(agent + 1)
    run.agent("NCLsrvc", agent, 2)
    run.chronyd_server(chrony)
    if not (wait_udp(agent, sntp_request()) and wait_udp(chrony, sntp_request())):
        sys.exit("netbench: a server did not start")
    print("\nAccuracy: offset chronyd -Q measures (agent's simulated offset 0)\n")
    print("| round | agent ms | chronyd ms | difference ms |")
    print("|-------|----------|------------|---------------|")
    diffs = []
    for r in range(rounds):
        a, c = run.chronyd_measure(agent), run.chronyd_measure(chrony)
        diffs.append(abs(a - c))
        print("| %5d | %8.3f | %10.3f | %13.3f |" % (r + 1, a, c, a - c))
    print("\nlargest difference: %.3f ms (target: within 1 ms)" % max(diffs))


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in ("sntp", "console", "accuracy"):
        sys.exit(__doc__)
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    run = Run()
    try:
        if sys.argv[1] == "sntp":
            rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
            bench_sntp(run, count or 5000, rounds)
        elif sys.argv[1] == "console":
            bench_console(run, count or 2000)
        else:
            bench_accuracy(run, count or 3)
    finally:
        run.close()


if __name__ == "__main__":
    main()
