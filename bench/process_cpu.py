"""What the measurement scripts read of a running process: CPU time and the end of a poll."""
import os
import time


def cpu_seconds(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        except FileNotFoundError:
            pass
    return total / 1e9


def next_poll(count_of, count, interval=0.1):
    """Waits for the next burst of activity (a poll), as count_of() counts it, and for it to end."""
    start = count
    while count == start:
        time.sleep(interval)
        count = count_of()
    while True:
        time.sleep(0.3)
        settled = count_of()
        if settled == count:
            return count
        count = settled
