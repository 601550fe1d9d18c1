"""The GIL is released while the cluster is asked: another Python thread runs meanwhile."""

import threading
import time

from conftest import Sim


class Counter(threading.Thread):
    """Notes each hundredth of a second in which it got to run Python code."""

    def __init__(self):
        super().__init__(daemon=True)
        self.ran = set()
        self.done = threading.Event()

    def run(self):
        while not self.done.is_set():
            self.ran.add(int(time.monotonic() * 100))

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.done.set()
        self.join()


def counted_during(action):
    """The share of the hundredths of a second `action` took in this thread in which the
    other thread ran too."""
    with Counter() as counter:
        time.sleep(0.05)
        first = int(time.monotonic() * 100)
        result = action()
        last = int(time.monotonic() * 100)
    ran = len([t for t in counter.ran if first <= t <= last])
    return ran / (last - first + 1), result


def test_a_slow_listing_leaves_other_threads_running(slow_sim):
    with slow_sim.session() as session:
        progress, entries = counted_during(lambda: list(session.list_directory("/home/alice/")))
    assert len(entries) == 5
    # Holding the GIL through the 100 ms of each page would let the other thread run only
    # between pages.
    assert progress > 0.5


def test_a_slow_walk_leaves_other_threads_running(slow_sim):
    with slow_sim.session() as session:
        progress, count = counted_during(
            lambda: sum(len(page) for page in session.walk("/home/", connections=2)))
    assert count >= 11
    assert progress > 0.5


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


def test_two_threads_on_one_listing_lose_and_repeat_nothing():
    sim = Sim("--latency", "100", "--page-size", "2")
    with sim.session() as session:
        listing = session.list_directory("/home/alice/")
        seen = []

        def drain():
            while True:
                try:
                    seen.append(next(listing).path)
                    time.sleep(0.15)  # longer than a page takes: the other thread reads on
                except ValueError:  # the other thread is reading a page
                    time.sleep(0.001)
                except StopIteration:
                    return

        other = threading.Thread(target=drain)
        other.start()
        drain()
        other.join()
    sim.stop()
    assert len(seen) == len(set(seen)) == 5
