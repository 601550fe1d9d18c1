"""Change feeds over the synthetic snapshot pair: by change number mod 10, 0-1 create a file,
2 a directory, 3-4 delete, 5-7 modify content, 8-9 metadata only."""

import collections

import pytest

import clusterclient
from conftest import BASE_ID, TARGET_ID


def changes_of(feed):
    return [change for batch in feed for change in batch]


def test_kinds_of_the_hundred_changes(synthetic):
    with synthetic.session() as session:
        feed = session.changes(BASE_ID, TARGET_ID, connections=4)
        changes = changes_of(feed)
    assert len(changes) == len({c.path for c in changes}) == 100
    kinds = collections.Counter((c.kind, c.is_directory) for c in changes)
    assert kinds == {("create", False): 20, ("create", True): 10, ("delete", False): 20,
                     ("content", False): 30, ("metadata", False): 20}
    for change in changes:
        assert isinstance(change, clusterclient.Change)
        assert change.operation == {"content": "modify", "metadata": "modify"}.get(
            change.kind, change.kind)
        assert (change.attributes is None) == (change.kind == "delete")
        if change.attributes is not None:
            assert change.attributes.path.rstrip("/") == change.path.rstrip("/")
    summary = feed.summary
    assert summary.complete and summary.changes == 100
    assert (summary.creates, summary.deletes, summary.content_modifies,
            summary.metadata_modifies) == (30, 20, 30, 20)


def test_attributes_match_the_newer_listing(synthetic):
    with synthetic.session() as session:
        changes = changes_of(session.changes(BASE_ID, TARGET_ID))
        change = next(c for c in changes if c.kind == "content")
        parent = change.path.rsplit("/", 1)[0] + "/"
        listed = {e.path: e for e in session.list_directory(parent, TARGET_ID)}
    assert listed[change.path] == change.attributes


def test_without_attributes_the_difference_alone(synthetic):
    with synthetic.session() as session:
        feed = session.changes(BASE_ID, TARGET_ID, attributes=False)
        changes = changes_of(feed)
        differences = list(session.snapshot_diff(BASE_ID, TARGET_ID))
    assert sorted((c.path, c.operation) for c in changes) == sorted(
        (d.path, d.operation) for d in differences)
    assert all(c.attributes is None for c in changes)
    assert {c.kind for c in changes if c.operation == "modify"} == {"modify"}
    assert feed.summary.listing_pages == 0


def test_a_stopped_feed_is_not_complete(synthetic):
    with synthetic.session() as session:
        feed = session.changes(BASE_ID, TARGET_ID, window=10)
        feed.stop()
        delivered = changes_of(feed)
    assert not feed.summary.complete and feed.summary.changes == len(delivered) < 100


def test_unknown_snapshots_raise_at_the_end(synthetic):
    with synthetic.session() as session:
        feed = session.changes(BASE_ID, 999999)
        with pytest.raises(clusterclient.ClusterError) as caught:
            changes_of(feed)
    assert caught.value.message and feed.summary.error == caught.value.message
