"""Tree walks: every entry once, stopped walks handing back exactly the rest."""

import collections

import pytest

import clusterclient
from conftest import BASE_ID

FILES = 2000  # entries below /synthetic (conftest.SYNTHETIC)


def paths_of(walk):
    return [entry.path for page in walk for entry in page]


def test_walk_delivers_every_entry_once_in_pages(synthetic):
    with synthetic.session() as session:
        walk = session.walk("/synthetic/", connections=4)
        pages = list(walk)
    paths = [entry.path for page in pages for entry in page]
    assert len(paths) == len(set(paths)) == FILES
    assert all(isinstance(entry, clusterclient.Entry) for page in pages for entry in page)
    summary = walk.summary
    assert summary.complete and summary.error == ""
    assert (summary.entries, summary.pages) == (FILES, len(pages))
    assert summary.directories == 50
    assert summary.unfinished == [] and summary.failed == []


def test_walk_matches_a_recursive_listing(session):
    def listed(path):
        for entry in session.list_directory(path):
            yield entry
            if entry.is_directory:
                yield from listed(entry.path)
    assert sorted(paths_of(session.walk("/home/"))) == sorted(e.path for e in listed("/home/"))


def test_max_entries_hands_back_the_rest_exactly_once(synthetic):
    with synthetic.session() as session:
        first = session.walk("/synthetic/", connections=3, max_entries=300)
        done = paths_of(first)
        unfinished = first.summary.unfinished
        assert 300 <= len(done) < FILES
        assert unfinished and not first.summary.complete
        rest = []
        while unfinished:  # as a Dask task would: each share of the work alone
            share = session.walk(unfinished[:5], connections=2, max_entries=500)
            rest += paths_of(share)
            unfinished = unfinished[5:] + share.summary.unfinished
    counts = collections.Counter(done + rest)
    assert len(counts) == FILES and max(counts.values()) == 1


def test_walk_from_a_unit_text_and_as_of_a_snapshot(synthetic):
    with synthetic.session() as session:
        unit = clusterclient.root_unit("/synthetic/", BASE_ID)
        assert unit.startswith("unit1 %d " % BASE_ID)
        as_of_base = paths_of(session.walk([unit]))
        by_path = paths_of(session.walk("/synthetic/", snapshot=BASE_ID))
    assert sorted(as_of_base) == sorted(by_path) and len(by_path) == FILES


def test_max_depth_keeps_to_the_start(session):
    shallow = paths_of(session.walk("/home/", max_depth=1))
    assert sorted(shallow) == sorted(e.path for e in session.list_directory("/home/"))


def test_dropping_an_unread_walk_cancels_it(synthetic):
    with synthetic.session() as session:
        walk = session.walk("/synthetic/", connections=2)
        next(walk)
        walk.close()  # the walker waits on the full queue: closing must end it
        assert walk.summary is not None and not walk.summary.complete
        with pytest.raises(StopIteration):
            next(walk)
        dropped = session.walk("/synthetic/", connections=2)
        next(dropped)
        del dropped  # unread and unclosed: dropping it cancels and joins it
        assert session.snapshots()  # the session goes on


def test_stop_before_reading_hands_back_the_rest(synthetic):
    with synthetic.session() as session:
        walk = session.walk("/synthetic/", connections=2)
        walk.stop()
        done = paths_of(walk)
        assert walk.summary.unfinished and not walk.summary.complete
        rest = paths_of(session.walk(walk.summary.unfinished))
    counts = collections.Counter(done + rest)
    assert len(counts) == FILES and max(counts.values()) == 1
