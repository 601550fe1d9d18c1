#!/usr/bin/python3
"""Whole-tree walks through the Python package, for bench/run.

  binding_walk.py walk URL CA PATH CONNECTIONS       Session.walk in this one process
  binding_walk.py dask URL CA PATH WORKERS CONNECTIONS
                                                     clusterclient.dask.walk on a LocalCluster of
                                                     WORKERS processes, CONNECTIONS each

Prints "ENTRIES PAGES SECONDS": the entries delivered, the pages read (one request each) and the
walk's wall time; the Dask walk's time leaves out starting and closing its cluster. CA is "none"
for plain HTTP; the password comes from CLUSTER_PASSWORD.
"""
import logging
import sys
import time

import clusterclient


def session(url, ca):
    return clusterclient.Session(url, "admin", ca_file=None if ca == "none" else ca)


def walk(url, ca, path, connections):
    entries = 0
    with session(url, ca) as cluster:
        started = time.perf_counter()
        tree = cluster.walk(path, connections=int(connections))
        for page in tree:
            entries += len(page)
        seconds = time.perf_counter() - started
    return entries, tree.summary.pages, seconds


class Totals(logging.Handler):
    """Keeps the figures of the walk's closing log line."""

    def emit(self, record):
        self.entries, self.pages, _ = record.args


def dask_walk(url, ca, path, workers, connections):
    # Here, not at the top: importing Dask costs about 0.8 s of CPU, which the walk's figures
    # in this process would otherwise carry.
    import distributed
    import clusterclient.dask
    totals = Totals()
    logging.getLogger("clusterclient.dask").addHandler(totals)
    logging.getLogger("clusterclient.dask").setLevel(logging.INFO)
    with distributed.LocalCluster(n_workers=int(workers), threads_per_worker=1,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        started = time.perf_counter()
        entries = clusterclient.dask.walk(url, path, user="admin", client=client,
                                          connections=int(connections),
                                          ca_file=None if ca == "none" else ca)
        seconds = time.perf_counter() - started
        # The bag's entries live on the workers: counted before the cluster closes.
        if entries.count().compute() != totals.entries:
            sys.exit("the Dask walk's bag does not hold the entries its tasks delivered")
    return totals.entries, totals.pages, seconds


def main():
    mode, *arguments = sys.argv[1:]
    entries, pages, seconds = (walk if mode == "walk" else dask_walk)(*arguments)
    print(entries, pages, f"{seconds:.3f}")


if __name__ == "__main__":
    main()
