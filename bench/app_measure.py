#!/usr/bin/env python3
"""CPU per poll of Quorvane against the floor its SMC traffic sets.

Run by bench/measure-headless and bench/measure-desktop, which start the simulated Mac (and the
helper when root) and export its socket. For each app variant: start it, let it settle, then over a
window that starts and ends just after a poll read its CPU time (every thread's, from /proc
schedstat), its SMC exchanges (from the simulated Mac's per-process count) and its polls (the bursts
of those exchanges); the transport's own CPU per exchange comes from
SocketTransportBench against the same simulated Mac.

usage: app_measure.py BIN_DIR VARIANT... (headless, desktop, dashboard)
"""
import json, os, signal, subprocess, sys, time

from process_cpu import cpu_seconds, next_poll

WARMUP = float(os.environ.get("MEASURE_WARMUP", "20"))
WINDOW = float(os.environ.get("MEASURE_WINDOW", "60"))
INTERVAL = 2.0  # the default polling interval; the config is left at its default

bin_dir = sys.argv[1]
variants = sys.argv[2:]


def transport_cost():
    out = subprocess.run([f"{bin_dir}/SocketTransportBench", "--benchmark_format=json",
                          "--benchmark_min_time=1"], capture_output=True, text=True, check=True).stdout
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    costs, burst = {}, None
    for b in json.loads(out)["benchmarks"]:
        seconds = b["cpu_time"] * scale[b["time_unit"]]
        if "exchangesPerBurst" in b:
            burst = seconds / b["exchangesPerBurst"]
        else:
            costs[b["name"]] = seconds
    return sum(costs.values()) / len(costs), costs, burst


def exchanges_of(pid):
    status = json.loads(subprocess.run([f"{bin_dir}/quorvane-sim", "ctl", "status", "--json"],
                                       capture_output=True, text=True, check=True).stdout)
    status = status.get("status", status)
    for entry in status.get("exchangesByProcess", []):
        if entry["pid"] == pid:
            return entry["exchanges"]
    return 0


def memory_mib(pid):
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0]) / 1024
    return values


def window(pid):
    """CPU time and exchanges over the polls of about WINDOW seconds, from just after one poll to
    just after another, counting the polls between by their bursts of exchanges."""
    count = next_poll(lambda: exchanges_of(pid), exchanges_of(pid))
    cpu0, ex0, t0 = cpu_seconds(pid), count, time.monotonic()
    polls = 0
    while time.monotonic() - t0 < WINDOW:
        count = next_poll(lambda: exchanges_of(pid), count)
        polls += 1
    return polls, cpu_seconds(pid) - cpu0, count - ex0, time.monotonic() - t0


def measure(variant):
    args = {"headless": ["--headless"], "desktop": [], "dashboard": ["--open", "dashboard"]}[variant]
    app = subprocess.Popen([f"{bin_dir}/Quorvane", *args, "--install-helper", "--run-supervised-test",
                            "--preset", "Smart Auto"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(WARMUP)
        if app.poll() is not None:
            sys.exit(f"{variant}: Quorvane exited with status {app.returncode}")
        polls, cpu, exchanges, seconds = window(app.pid)
        memory = memory_mib(app.pid)
    finally:
        app.send_signal(signal.SIGTERM)
        app.wait(timeout=30)
    return {"polls": polls, "cpu": cpu / polls, "exchanges": exchanges / polls, "share": cpu / seconds,
            "memory": memory}


def label(benchmark):
    return benchmark.replace("BM_Socket", "").replace("Exchange", "").lower()


names = {"headless": "headless", "desktop": "desktop, panel closed", "dashboard": "desktop, dashboard open"}
cost, costs, burst = transport_cost()
print(f"transport: {cost * 1e6:.2f} µs CPU per exchange in a tight loop "
      f"({', '.join(f'{label(name)} {value * 1e6:.2f}' for name, value in costs.items())}), "
      f"{burst * 1e6:.2f} µs in poll-sized bursts every {INTERVAL:.0f} s")
results = {}
for variant in variants:
    r = results[variant] = measure(variant)
    floor = r["exchanges"] * cost
    print(f"{names[variant]}: {r['polls']} polls, {r['exchanges']:.0f} exchanges/poll, "
          f"CPU {r['cpu'] * 1e3:.2f} ms/poll = {r['cpu'] / floor:.2f}x the floor of {floor * 1e3:.2f} ms "
          f"(goal ≤ 1.3x; {r['cpu'] / (r['exchanges'] * burst):.2f}x the same exchanges in bursts), "
          f"{r['share'] * 100:.2f} % of a core, RSS {r['memory']['VmRSS']:.1f} MiB "
          f"(peak {r['memory']['VmHWM']:.1f})", flush=True)
if "headless" in results and "desktop" in results:
    print(f"desktop with the panel closed: {results['desktop']['cpu'] / results['headless']['cpu']:.2f}x "
          f"the headless app's CPU per poll (goal ≤ 1.2x)")
