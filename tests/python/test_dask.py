"""clusterclient.dask.walk against the single-process walker, on a generated tree."""
import collections
import gzip
import json
import os
import pickle
import urllib.parse

import distributed
import pytest

import clusterclient
import clusterclient.dask
from conftest import TARGET_ID, Sim

FIELDS = clusterclient.dask.ENTRY_FIELDS
# Small tasks, so that one walk of the test tree takes many of them and many hand-backs.
MAX_ENTRIES = 150


class Cluster:
    """A generated tree on a simulator whose one account has a password found nowhere else."""

    def __init__(self):
        self.sim = Sim("--synthetic", "files=3000,dirs=60", "--page-size", "100", "--user",
                       "walker:Wk-5e7c-never-shown")
        self.url = self.sim.url
        self.login = {"user": "walker", "password": "Wk-5e7c-never-shown", "ca_file": self.sim.ca}


@pytest.fixture(scope="module")
def synthetic_cluster():
    cluster = Cluster()
    yield cluster
    cluster.sim.stop()


@pytest.fixture(scope="module")
def tree(synthetic_cluster):
    """Every entry of the generated tree, by path, as the single-process walker delivers it."""
    with clusterclient.Session(synthetic_cluster.url, **synthetic_cluster.login) as session:
        entries = [entry for page in session.walk("/synthetic") for entry in page]
    return {entry.path: {field: getattr(entry, field) for field in FIELDS} for entry in entries}


@pytest.fixture(scope="module")
def threads():
    """Workers as threads of this process, so a test can change what they run."""
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        yield client


def walk(cluster, **options):
    return clusterclient.dask.walk(cluster.url, "/synthetic", **cluster.login,
                                   max_entries_per_task=MAX_ENTRIES, **options)


def assert_each_once(paths, tree):
    doubled = [path for path, count in collections.Counter(paths).items() if count > 1]
    assert doubled == []
    assert set(paths) == set(tree)


def shard_records(shards):
    records = []
    for shard in shards:
        with gzip.open(shard, "rt", encoding="utf-8") as lines:
            records += [json.loads(line) for line in lines]
    return records


def test_bag_holds_what_the_single_process_walk_delivers(synthetic_cluster, tree):
    # No client: the walk makes its own cluster of worker processes, and closes it.
    entries = walk(synthetic_cluster).compute()
    assert_each_once([entry["path"] for entry in entries], tree)
    assert all(entry == tree[entry["path"]] for entry in entries)
    with pytest.raises(ValueError):
        distributed.default_client()


def test_bag_of_a_given_client_stays_on_its_workers(synthetic_cluster, tree, threads):
    bag = walk(synthetic_cluster, client=threads)
    graph = dict(bag.__dask_graph__())
    inline = [task for task in graph.values() if isinstance(task, list)]
    assert inline == []  # the graph names the tasks' results; it carries no entries
    held = [task for task in graph.values() if isinstance(task, distributed.Future)]
    assert len(held) == bag.npartitions > 1
    assert all(task.status == "finished" for task in held)  # each result waits on a worker
    entries = bag.compute()
    assert_each_once([entry["path"] for entry in entries], tree)
    assert all(entry == tree[entry["path"]] for entry in entries)


def test_snapshot_walk_holds_the_snapshots_tree(synthetic, threads):
    with synthetic.session() as session:
        expected = [entry.path for page in session.walk("/synthetic", snapshot=TARGET_ID)
                    for entry in page]
        live = {entry.path for page in session.walk("/synthetic") for entry in page}
    entries = clusterclient.dask.walk(synthetic.url, "/synthetic", user="admin", password="admin",
                                      ca_file=synthetic.ca, snapshot=TARGET_ID, client=threads,
                                      max_entries_per_task=MAX_ENTRIES)
    paths = entries.pluck("path").compute()
    assert set(expected) != live
    assert_each_once(paths, dict.fromkeys(expected))


def test_shards_hold_each_entry_once(synthetic_cluster, tree, threads, tmp_path):
    shards = walk(synthetic_cluster, client=threads, output_dir=str(tmp_path))
    assert len(shards) > 1
    assert sorted(os.listdir(tmp_path)) == sorted(os.path.basename(shard) for shard in shards)
    records = shard_records(shards)
    assert_each_once([record["path"] for record in records], tree)
    sample = tree[records[0]["path"]]
    assert records[0]["change_time"] == sample["change_time"].isoformat()
    assert records[0]["size"] == sample["size"]


def fail_first_walk(monkeypatch):
    """Makes the first Session.walk raise after its first page, as a worker losing the cluster
    mid-task would; the list returned counts the failures."""
    real = clusterclient.Session.walk
    failures = []

    def failing(tree):
        yield next(iter(tree))
        tree.close()
        raise ConnectionError("lost the cluster mid-task")

    def walk_failing_once(session, *arguments, **options):
        tree = real(session, *arguments, **options)
        if failures:
            return tree
        failures.append(tree)
        return failing(tree)

    monkeypatch.setattr(clusterclient.Session, "walk", walk_failing_once)
    return failures


@pytest.mark.parametrize("to_shards", [False, True])
def test_task_failing_once_still_delivers_each_entry_once(synthetic_cluster, tree, threads,
                                                          tmp_path, monkeypatch, to_shards):
    failures = fail_first_walk(monkeypatch)
    if to_shards:
        paths = [record["path"] for record in shard_records(
            walk(synthetic_cluster, client=threads, output_dir=str(tmp_path)))]
        assert not [name for name in os.listdir(tmp_path) if name.endswith(".tmp")]
    else:
        paths = walk(synthetic_cluster, client=threads).pluck("path").compute()
    assert len(failures) == 1
    assert_each_once(paths, tree)


def test_directory_failing_for_good_fails_the_walk(tree, threads):
    broken = min(path for path, entry in tree.items() if entry["is_directory"])
    listing = "/v1/files/" + urllib.parse.quote(broken, safe="") + "/entries/"
    sim = Sim("--synthetic", "files=3000,dirs=60", "--page-size", "100", "--fault",
              f"GET:{listing}:respond:403")
    try:
        with pytest.raises(clusterclient.dask.WalkFailed) as failed:
            clusterclient.dask.walk(sim.url, "/synthetic", user="admin", password="admin",
                                    ca_file=sim.ca, client=threads,
                                    max_entries_per_task=MAX_ENTRIES)
    finally:
        sim.stop()
    assert [urllib.parse.unquote(unit.split()[5]) for unit in failed.value.units] == [broken]


class TaskRecorder(distributed.diagnostics.plugin.SchedulerPlugin):
    """Keeps the key and the pickled function and arguments of every task the scheduler runs."""

    def __init__(self, scheduler):
        self.scheduler = scheduler
        self.tasks = []

    def transition(self, key, start, finish, *args, **kwargs):
        if finish == "processing":
            self.tasks.append((str(key), pickle.dumps(self.scheduler.tasks[key].run_spec)))


def test_credentials_never_travel_with_tasks(synthetic_cluster, threads):
    recorder = TaskRecorder(threads.cluster.scheduler)
    threads.cluster.scheduler.add_plugin(recorder, name="task-recorder")
    try:
        assert walk(synthetic_cluster, client=threads).count().compute() > 0
    finally:
        threads.cluster.scheduler.remove_plugin(name="task-recorder")
    walked = [task for task in recorder.tasks if task[0].startswith("clusterclient-walk")]
    assert len(walked) > 1
    # The recorder sees the tasks' arguments: the first task's is the root's unit text.
    assert any(clusterclient.root_unit("/synthetic").encode() in pickled for _, pickled in walked)
    user, password = synthetic_cluster.login["user"], synthetic_cluster.login["password"]
    for secret in (user, password):
        assert all(secret not in key and secret.encode() not in pickled for key, pickled in walked)
    plugin = clusterclient.dask.SessionPlugin(synthetic_cluster.url, user, password, {})
    assert password not in repr(plugin)
