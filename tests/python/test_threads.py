"""The GIL is released while the cluster is asked: another Python thread runs meanwhile."""

import threading

import clusterclient


class Counter(threading.Thread):
    """Counts as fast as it can get the GIL until stopped."""

    def __init__(self):
        super().__init__(daemon=True)
        self.count = 0
        self.done = threading.Event()

    def run(self):
        while not self.done.is_set():
            self.count += 1

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.done.set()
        self.join()


def counted_during(action):
    """How far the counter got while `action` ran in this thread."""
    with Counter() as counter:
        before = counter.count
        result = action()
        after = counter.count
    return after - before, result


def test_a_slow_listing_leaves_other_threads_running(slow_sim):
    with slow_sim.session() as session:
        progress, entries = counted_during(lambda: list(session.list_directory("/home/alice/")))
    assert len(entries) == 5
    # With the GIL held for the 50 ms of each page the counter could not move while
    # this thread waited; it moves by far more when the lock is given up.
    assert progress > 100


def test_a_slow_walk_leaves_other_threads_running(slow_sim):
    with slow_sim.session() as session:
        progress, count = counted_during(
            lambda: sum(len(page) for page in session.walk("/home/", connections=2)))
    assert count >= 11
    assert progress > 100


def test_stop_from_another_thread_ends_the_walk(slow_sim):
    with slow_sim.session() as session:
        walk = session.walk("/", connections=1)
        first = next(walk)
        threading.Thread(target=walk.stop).start()
        rest = [entry for page in walk for entry in page]
    assert first
    summary = walk.summary
    assert not summary.complete and summary.unfinished
    assert summary.entries == len(first) + len(rest)
    assert all(isinstance(unit, str) and unit.startswith("unit1 ") for unit in summary.unfinished)
