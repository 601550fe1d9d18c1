"""One tree walk spread over the workers of a Dask cluster.

    import clusterclient.dask

    entries = clusterclient.dask.walk("https://cluster:8000", "/home/")
    print(entries.pluck("size").sum().compute())

The tree is cut into the walker's units (a directory, or the rest of one from a page on). Each
task walks a batch of units on one worker until it has delivered `max_entries_per_task`
entries, and hands back the units it did not finish; the driver gives those to new tasks until
none remain. So the tree fans out over the workers however it is shaped, and no task holds more
than about `max_entries_per_task` entries.

The credentials go to each worker once, inside a worker plugin that makes one session there for
every task on that worker; tasks name the plugin, never the credentials, so the scheduler's
graph, its dashboard and its logs never show them.
"""
import collections
import gzip
import hashlib
import json
import logging
import math
import os
import secrets
import threading
import uuid

import dask.bag
import distributed

import clusterclient

__all__ = ["walk", "WalkFailed"]

LOG = logging.getLogger(__name__)

ENTRY_FIELDS = ("path", "is_directory", "id", "mode", "owner", "group", "size", "change_time",
                "modification_time", "creation_time")
DEFAULT_MAX_ENTRIES_PER_TASK = 20000
# The first tasks stop this early, so that the top of the tree becomes units for every worker
# soon instead of one worker walking the first `max_entries_per_task` entries alone.
SPLIT_ENTRIES = 1000
# A task hands back what it did not walk, so a longer list would only travel there and back.
MAX_UNITS_PER_TASK = 1000
# Tasks queued per worker thread beside the running one, so a thread that finishes starts the
# next at once.
TASKS_PER_THREAD = 2
# How often Dask runs a task again after it raised, before the walk gives up.
TASK_RETRIES = 3


class WalkFailed(Exception):
    """Units the walker gave up on (after its own retries and Dask's); args[0] lists their
    texts."""

    @property
    def units(self):
        return self.args[0]

    def __str__(self):
        return f"{len(self.units)} directories could not be walked, the first: {self.units[0]}"


class SessionPlugin(distributed.WorkerPlugin):
    """Holds the credentials on each worker and the one session all tasks there share."""

    def __init__(self, url, user, password, options):
        self.name = "clusterclient-walk-" + secrets.token_hex(8)
        self._url = url
        self._user = user
        self._password = password
        self._options = options
        self._lock = threading.Lock()
        self._session = None

    def __getstate__(self):
        state = dict(self.__dict__)
        del state["_lock"], state["_session"]
        return state

    def __setstate__(self, state):
        self.__dict__.update(state)
        self._lock = threading.Lock()
        self._session = None

    def __repr__(self):
        return f"SessionPlugin({self._url!r}, user={self._user!r})"

    def session(self):
        """The worker's session, logged in by the first task that asks."""
        with self._lock:
            if self._session is None:
                self._session = clusterclient.Session(self._url, self._user, self._password,
                                                      **self._options)
            return self._session

    def teardown(self, worker):
        with self._lock:
            if self._session is not None:
                self._session.close()
                self._session = None
            self._password = None


def units_key(units):
    """A name for a batch of units, the same for every attempt at it."""
    return hashlib.sha256("\n".join(units).encode()).hexdigest()[:32]


def record(entry):
    return {field: getattr(entry, field) for field in ENTRY_FIELDS}


def json_value(value):
    return value.isoformat()


class TaskResult:
    """What a task returns: its entries (or its shard's path), the units it did not finish, and
    its counts."""

    def __init__(self, output, unfinished, entries, pages):
        self.output = output
        self.unfinished = unfinished
        self.entries = entries
        self.pages = pages


def figures_of(result, with_output):
    """What the driver fetches of a task: without its entries, which stay on the worker for the
    bag, unless `with_output`."""
    return TaskResult(result.output if with_output else None, result.unfinished, result.entries,
                      result.pages)


def output_of(result):
    return result.output


def run_walk(walk, deliver):
    """Feeds every page to `deliver`; the summary, or WalkFailed if a unit failed."""
    for page in walk:
        deliver(page)
    summary = walk.summary
    if summary.failed:
        raise WalkFailed(list(summary.failed))
    return summary


def collect(walk):
    entries = []
    summary = run_walk(walk, lambda page: entries.extend(map(record, page)))
    return entries, summary


def write_shard(walk, output_dir, key):
    """Writes the walk's entries to a temporary file renamed to the shard's own name once the
    walk succeeded, so a task run again replaces its shard instead of adding one."""
    path = os.path.join(output_dir, f"walk-{key}.jsonl.gz")
    temporary = os.path.join(output_dir, f".walk-{key}.{uuid.uuid4().hex}.tmp")
    try:
        with gzip.open(temporary, "wt", encoding="utf-8", compresslevel=6) as shard:
            summary = run_walk(walk, lambda page: shard.writelines(
                json.dumps(record(entry), default=json_value) + "\n" for entry in page))
        os.replace(temporary, path)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)
    return path, summary


def walk_units(plugin_name, units, max_entries, connections, output_dir):
    """One task: walks `units` on this worker's session until `max_entries` entries."""
    session = distributed.get_worker().plugins[plugin_name].session()
    walk = session.walk(units, connections=connections, max_entries=max_entries)
    if output_dir is None:
        output, summary = collect(walk)
    else:
        output, summary = write_shard(walk, output_dir, units_key(units))
    return TaskResult(output, list(summary.unfinished), summary.entries, summary.pages)


class Driver:
    """Gives the units still to walk to tasks, and gathers what the tasks return: their figures,
    and their outputs too if `with_output`; the tasks' futures keep the rest on the workers."""

    def __init__(self, client, plugin_name, settings, with_output):
        self.client = client
        self.plugin_name = plugin_name
        self.settings = settings
        self.with_output = with_output
        self.pending = collections.deque()
        self.results = []  # (figures, the walk's future)
        self.walks = {}  # the key of a figures task: its walk's future
        self.running = distributed.as_completed()
        self.in_flight = 0
        threads = sum(worker["nthreads"] for worker in client.scheduler_info()["workers"].values())
        self.slots = TASKS_PER_THREAD * max(threads, 1)

    def run(self, root):
        self.pending.append(root)
        self.submit_ready()
        try:
            for future in self.running:
                walk = self.walks.pop(future.key, None)
                if walk is None:  # a walk ended: fetch its figures alone
                    figures = self.client.submit(figures_of, future, self.with_output,
                                                 key=future.key + "-figures")
                    self.walks[figures.key] = future
                    self.running.add(figures)
                    continue
                self.in_flight -= 1
                figures = future.result()
                future.release()
                if self.with_output:  # nothing left on the worker worth holding
                    walk.release()
                    walk = None
                self.results.append((figures, walk))
                self.pending.extend(figures.unfinished)
                self.submit_ready()
        except BaseException:
            held = [walk for _, walk in self.results if walk is not None]
            self.client.cancel(list(self.running.futures) + list(self.walks.values()) + held)
            raise
        return self.results

    def submit_ready(self):
        while self.pending and self.in_flight < self.slots:
            free = self.slots - self.in_flight
            # Few units: a short task that splits them further; many: a full one each.
            max_entries = (self.settings["max_entries"] if len(self.pending) >= free
                           else min(SPLIT_ENTRIES, self.settings["max_entries"]))
            size = min(MAX_UNITS_PER_TASK, math.ceil(len(self.pending) / free))
            batch = [self.pending.popleft() for _ in range(size)]
            # The key starts with the plugin's name, this walk's own, so that another walk of the
            # same units on the scheduler never shares a task (and its result) with this one.
            self.running.add(self.client.submit(
                walk_units, self.plugin_name, batch, max_entries, self.settings["connections"],
                self.settings["output_dir"], key=f"{self.plugin_name}-{units_key(batch)}",
                retries=TASK_RETRIES))
            self.in_flight += 1


def worker_count(client):
    client.wait_for_workers(1)
    return len(client.scheduler_info()["workers"])


def session_options(rate, in_flight, ca_file, workers):
    """Each worker's share of the job's limits: together they keep the job's rate and
    requests in flight."""
    options = {}
    if ca_file is not None:
        options["ca_file"] = ca_file
    if rate is not None:
        options["rate"] = rate / workers
    if in_flight is not None:
        options["in_flight"] = max(1, in_flight // workers)
    return options


def default_client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
    return distributed.Client(cluster)


def close_client(client):
    cluster = client.cluster
    client.close()
    cluster.close()


def log_totals(figures):
    LOG.info("walked %d entries in %d pages over %d tasks",
             sum(task.entries for task in figures), sum(task.pages for task in figures),
             len(figures))


def walk(url, path, *, user=None, password=None, snapshot=0, client=None, connections=4,
         rate=None, in_flight=None, ca_file=None,
         max_entries_per_task=DEFAULT_MAX_ENTRIES_PER_TASK, output_dir=None):
    """Walks the tree below `path` (of `snapshot`; 0: the live file system) on the workers of
    `client`, every entry exactly once.

    Returns a dask.bag of the entries as dicts (the fields of clusterclient.Entry), one partition a
    task. The entries stay on the workers that walked them, held by the bag while `client` is
    open (this process gets only each task's counts and unfinished units), so a bag suits trees
    whose entries fit in the workers' memory. For large walks give `output_dir`, a folder every worker can write to: each
    task then writes its entries there as one gzip file of JSON lines (times in ISO 8601, UTC)
    named after its units, and walk returns the list of those files' paths.

    `user` and `password` default to CLUSTER_USER and CLUSTER_PASSWORD, as clusterctl's; they reach
    each worker once, in a worker plugin, never as a task's arguments. `ca_file` must be
    readable on every worker. `connections` are each task's; `rate` (requests a second) and
    `in_flight` hold for the whole walk and are divided among the workers there at its start (at
    least one request in flight each). A task that fails is run again by Dask (up to
    TASK_RETRIES times), its entries counted once; a directory still failing then raises
    WalkFailed, or the task's own error.

    Without `client`, a LocalCluster of two worker processes (one thread each) walks, and is
    closed before returning, so its bag's entries are gathered in this process first; a script
    doing that must start from `if __name__ == "__main__":`.
    """
    made = client is None
    client = default_client() if made else client
    try:
        workers = worker_count(client)
        plugin = SessionPlugin(url, user or os.environ.get("CLUSTER_USER"),
                               password if password is not None
                               else os.environ.get("CLUSTER_PASSWORD"),
                               session_options(rate, in_flight, ca_file, workers))
        client.register_worker_plugin(plugin, name=plugin.name)
        try:
            settings = {"max_entries": max_entries_per_task, "connections": connections,
                        "output_dir": output_dir}
            # A cluster closed on return cannot hold the bag: its entries come here instead.
            with_output = made or output_dir is not None
            results = Driver(client, plugin.name, settings, with_output).run(
                clusterclient.root_unit(path, snapshot))
        finally:
            client.unregister_worker_plugin(plugin.name)
        log_totals([figures for figures, _ in results])
        if output_dir is not None:
            return [figures.output for figures, _ in results]
        if made:
            return gathered_bag([figures.output for figures, _ in results], plugin.name)
        return dask.bag.from_delayed([walk for _, walk in results]).map_partitions(output_of)
    finally:
        if made:
            close_client(client)


def gathered_bag(outputs, name):
    """A bag with one partition a task, made directly from the lists: dask.bag.from_sequence
    would hash every entry first, some 60 us each."""
    name += "-entries"
    return dask.bag.Bag({(name, index): output for index, output in enumerate(outputs)}, name,
                        len(outputs))
