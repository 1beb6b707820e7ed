#!/usr/bin/env python3
"""CPU per poll of `Quorvane --headless` over a macsmc_hwmon device against the floor of its own reads.

Run by bench/measure-headless --hwmon, which keeps the simulated Mac's device in MACHINE_DIR. The app
reads the device only through files, so a poll is a burst of the process's read calls (from
/proc/PID/io). Over a window that starts and ends just after a poll: the app's CPU time (every
thread's, from /proc schedstat) and read calls per poll; the cost of one read (open, read, close of a
channel file) comes from HwmonBench in the same run. The floor is reads per poll times that cost.

usage: hwmon_measure.py BIN_DIR MACHINE_DIR
"""
import json, os, signal, subprocess, sys, time

from process_cpu import cpu_seconds, next_poll

WARMUP = float(os.environ.get("MEASURE_WARMUP", "10"))
WINDOW = float(os.environ.get("MEASURE_WINDOW", "60"))
INTERVAL = 2.0  # the default polling interval; the config is left at its default
GOAL = 1.5

bin_dir, machine = sys.argv[1], sys.argv[2]


def read_cost():
    out = subprocess.run([f"{bin_dir}/HwmonBench", "--benchmark_format=json", "--benchmark_min_time=1",
                          "--benchmark_filter=BM_ChannelFileRead"],
                         capture_output=True, text=True, check=True).stdout
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    bench = json.loads(out)["benchmarks"][0]
    return bench["cpu_time"] * scale[bench["time_unit"]]


def reads_of(pid):
    with open(f"/proc/{pid}/io") as io:
        for line in io:
            if line.startswith("syscr:"):
                return int(line.split()[1])
    return 0


env = dict(os.environ)
env.pop("QUORVANE_SMC_SOCKET", None)
env["QUORVANE_HWMON_ROOT"] = f"{machine}/hwmon"
env["QUORVANE_DEVICE_TREE"] = f"{machine}/device-tree"
cost = read_cost()
app = subprocess.Popen([f"{bin_dir}/Quorvane", "--headless"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    time.sleep(WARMUP)
    if app.poll() is not None:
        sys.exit(f"Quorvane exited with status {app.returncode}")
    count = next_poll(lambda: reads_of(app.pid), reads_of(app.pid), interval=0.05)
    cpu0, reads0, t0, polls = cpu_seconds(app.pid), count, time.monotonic(), 0
    while time.monotonic() - t0 < WINDOW:
        count = next_poll(lambda: reads_of(app.pid), count, interval=0.05)
        polls += 1
    cpu, reads = (cpu_seconds(app.pid) - cpu0) / polls, (count - reads0) / polls
finally:
    app.send_signal(signal.SIGTERM)
    app.wait(timeout=30)
floor = reads * cost
print(f"one channel read (open, read, close): {cost * 1e6:.2f} µs CPU")
print(f"headless over macsmc_hwmon: {polls} polls, {reads:.0f} reads/poll, CPU {cpu * 1e3:.3f} ms/poll = "
      f"{cpu / floor:.2f}x the floor of {floor * 1e3:.3f} ms (goal ≤ {GOAL}x at the default {INTERVAL:.0f} s)")
