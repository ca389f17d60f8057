"""What the gateway costs: transys-loadgen with 1 and 16 connections,
through transys-gateway and straight to the directory, in one run.

    scripts/bench gateway [--repetitions N] [--seconds S] [--threads N] [--no-sync]

(scripts/bench builds the bench preset and runs this under
scripts/directory.)  Each repetition runs the four configurations once,
in an order shuffled anew, for S seconds each, so that a change of the
machine's load falls on the gateway and on its baseline alike; the table
compares medians.  A transaction is a Start Transaction, five modifies
with the transaction specification control and a commit (modifies keep
the directory's size steady from run to run).  Nothing here is a test."""
import argparse
import os
import random
import re
import statistics
import signal
import subprocess

URI = os.environ["DIRECTORY_URI"]
TARGET_RATIO = 0.90       # gateway throughput over direct, at least
TARGET_ADDED_MS = 0.100   # added to the p50 latency of a transaction, at most
UPDATES = 5


def run_loadgen(loadgen, uri, connections, seconds):
    """One run: throughput (transactions per second), p50 and p99 (ms)."""
    done = subprocess.run(
        [loadgen, "--uri", uri, "--bind-dn", os.environ["DIRECTORY_ADMIN"],
         "--password", os.environ["DIRECTORY_PASSWORD"], "--base", os.environ["DIRECTORY_BASE"],
         "--connections", str(connections), "--seconds", str(seconds),
         "--operation", "modify", "--updates", str(UPDATES)],
        capture_output=True, text=True, timeout=seconds + 120)
    if done.returncode != 0:
        raise RuntimeError("transys-loadgen failed: " + done.stderr + done.stdout)
    throughput = float(re.search(r"throughput: ([\d.]+)", done.stdout).group(1))
    p50, p99 = map(float, re.search(r"p50 ([\d.]+) ms, p99 ([\d.]+) ms", done.stdout).groups())
    not_committed = int(re.search(r"(\d+) not committed", done.stdout).group(1))
    if not_committed:
        raise RuntimeError("transactions not committed: " + done.stdout)
    return throughput, p50, p99


def row(measured, figure, baseline, baseline_figure, comparison, target, met):
    print("| %s | %s | %s | %s | %s | %s | %s |" % (measured, figure, baseline, baseline_figure,
                                                   comparison, target, met))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("gateway")
    parser.add_argument("loadgen")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--threads", type=int, help="the gateway's I/O threads")
    # scripts/bench starts the directory without flushing for --no-sync.
    parser.add_argument("--no-sync", action="store_true")
    options = parser.parse_args()
    threads = ["--threads", str(options.threads)] if options.threads else []
    flushing = os.environ.get("DIRECTORY_NOSYNC") != "1"
    print("directory: slapd %s; gateway: %s I/O threads; %d repetitions of %g s"
          % ("flushing every commit" if flushing else "without flushing commits (dbnosync)",
             options.threads or "the default", options.repetitions, options.seconds))

    configurations = [(connections, through) for connections in (1, 16)
                      for through in ("direct", "gateway")]
    results = {configuration: [] for configuration in configurations}
    # The gateway's log goes to a file, as a server's would, rather than to
    # a pipe that this script would have to read meanwhile.
    log = open(os.path.join(os.environ["DIRECTORY_HOME"], "gateway.log"), "w")
    gateway = subprocess.Popen([options.gateway, "--listen", "127.0.0.1:0", "--backend", URI,
                                "--maxnum", "0", "--maxop", str(UPDATES), *threads],
                               stdout=subprocess.PIPE, stderr=log, text=True)
    try:
        gateway_uri = gateway.stdout.readline().split()[-1]
        shuffle = random.Random(1)
        for repetition in range(1, options.repetitions + 1):
            order = configurations[:]
            shuffle.shuffle(order)
            for connections, through in order:
                uri = gateway_uri if through == "gateway" else URI
                figures = run_loadgen(options.loadgen, uri, connections, options.seconds)
                results[(connections, through)].append(figures)
                print("repetition %d: %-7s %2d connections: %8.1f transactions/s, p50 %.3f ms, "
                      "p99 %.3f ms" % (repetition, through, connections, *figures), flush=True)
    finally:
        gateway.send_signal(signal.SIGTERM)
        status = gateway.wait(timeout=30)
        log.close()
    print("load average after the run: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    if status != 0:
        raise RuntimeError("the gateway exited with %d" % status)

    print("\n| benchmark | figure | baseline | baseline figure | ratio or difference | target "
          "| met? |")
    print("|---|---|---|---|---|---|---|")
    for connections in (1, 16):
        medians = {through: [statistics.median(run[i] for run in results[(connections, through)])
                             for i in range(3)] for through in ("direct", "gateway")}
        (gateway_tps, gateway_p50, gateway_p99), (direct_tps, direct_p50, direct_p99) = (
            medians["gateway"], medians["direct"])
        ratio = gateway_tps / direct_tps
        row("gateway/%d/throughput" % connections, "%.1f tx/s" % gateway_tps,
            "direct/%d/throughput" % connections, "%.1f tx/s" % direct_tps, "%.2f" % ratio,
            ">= %.2f" % TARGET_RATIO, "yes" if ratio >= TARGET_RATIO else "NO")
        added = gateway_p50 - direct_p50
        row("gateway/%d/p50" % connections, "%.3f ms" % gateway_p50,
            "direct/%d/p50" % connections, "%.3f ms" % direct_p50, "%+.3f ms" % added,
            "<= +%.3f ms" % TARGET_ADDED_MS, "yes" if added <= TARGET_ADDED_MS else "NO")
        row("gateway/%d/p99" % connections, "%.3f ms" % gateway_p99,
            "direct/%d/p99" % connections, "%.3f ms" % direct_p99,
            "%+.3f ms" % (gateway_p99 - direct_p99), "reported", "-")


if __name__ == "__main__":
    main()
