"""What the gateway costs: transys-loadgen with 1 and 16 connections,
through transys-gateway and straight to the directory, in one run.

    scripts/bench gateway [--repetitions N] [--seconds S] [--threads N] [--no-sync]

(scripts/bench builds the bench preset and runs this under
scripts/directory.)  Each repetition runs, for 1 and then 16 connections
or the other way round, a pair: straight to the directory and through the
gateway, one right after the other in an order drawn anew, S seconds
each.  The pair shares the machine's state of the moment (the load of
other work, how fast the disk flushes), which changes over minutes; so
each pair gives a ratio of throughputs and a difference of latencies, and
the table compares the gateway with its baseline by the medians of those,
beside the medians of the figures themselves.  A transaction is a Start
Transaction, five modifies with the transaction control and
a commit (modifies keep the directory's size steady from run to run).
Nothing here is a test."""
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


def median(runs, figure):
    """The median of one figure (0 throughput, 1 p50, 2 p99) over runs."""
    return statistics.median(run[figure] for run in runs)


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
            for connections in shuffle.sample((1, 16), 2):
                for through in shuffle.sample(("direct", "gateway"), 2):
                    uri = gateway_uri if through == "gateway" else URI
                    figures = run_loadgen(options.loadgen, uri, connections, options.seconds)
                    results[(connections, through)].append(figures)
                    print("repetition %d: %-7s %2d connections: %8.1f transactions/s, "
                          "p50 %.3f ms, p99 %.3f ms"
                          % (repetition, through, connections, *figures), flush=True)
    finally:
        gateway.send_signal(signal.SIGTERM)
        status = gateway.wait(timeout=30)
        log.close()
    print("load average after the run: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    if status != 0:
        raise RuntimeError("the gateway exited with %d" % status)

    print("\n| benchmark | figure | baseline | baseline figure | ratio or difference (pairs) "
          "| target | met? |")
    print("|---|---|---|---|---|---|---|")
    for connections in (1, 16):
        direct, through = results[(connections, "direct")], results[(connections, "gateway")]
        ratio = statistics.median(g[0] / d[0] for g, d in zip(through, direct))
        row("gateway/%d/throughput" % connections, "%.1f tx/s" % median(through, 0),
            "direct/%d/throughput" % connections, "%.1f tx/s" % median(direct, 0),
            "%.2f" % ratio, ">= %.2f" % TARGET_RATIO, "yes" if ratio >= TARGET_RATIO else "NO")
        for name, i, target in (("p50", 1, TARGET_ADDED_MS), ("p99", 2, None)):
            added = statistics.median(g[i] - d[i] for g, d in zip(through, direct))
            row("gateway/%d/%s" % (connections, name), "%.3f ms" % median(through, i),
                "direct/%d/%s" % (connections, name), "%.3f ms" % median(direct, i),
                "%+.3f ms" % added, "<= +%.3f ms" % target if target else "reported",
                ("yes" if added <= target else "NO") if target else "-")


if __name__ == "__main__":
    main()
