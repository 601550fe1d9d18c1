"""The records the binding hands out carry the cluster's values, as clusterctl prints them."""

import datetime
import pickle

import pytest

import clusterclient


def iso(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def test_snapshots_match_clusterctl(sim, session):
    printed = {row["id"]: row for row in sim.clusterctl_json("snapshots", "list")}
    snapshots = session.snapshots()
    assert sorted(s.id for s in snapshots) == sorted(printed)
    for snapshot in snapshots:
        row = printed[snapshot.id]
        assert snapshot.name == row["name"]
        assert snapshot.source_file_id == row["source_file_id"]
        assert snapshot.expiration == row["expiration"]
        assert snapshot.timestamp.tzinfo == datetime.timezone.utc
        assert iso(snapshot.timestamp) == row["timestamp"]
    assert {"home-daily-1", "home-daily-2"} <= {s.name for s in snapshots}


def test_directory_entries_match_clusterctl(sim, session):
    printed = {row["path"]: row for row in sim.clusterctl_json("ls", "-l", "/home/alice/")}
    entries = list(session.list_directory("/home/alice/"))
    assert sorted(e.path for e in entries) == sorted(printed)
    for entry in entries:
        row = printed[entry.path]
        assert (entry.id, entry.owner, entry.group, entry.size) == (
            row["id"], row["owner"], row["group"], row["size"])
        assert entry.is_directory == (row["type"] == "directory")
        assert iso(entry.modification_time) == row["modification_time"]
        assert iso(entry.change_time) == row["change_time"]
        assert iso(entry.creation_time) == row["creation_time"]
    by_name = {e.path.rsplit("/", 2)[-1] or e.path.rsplit("/", 2)[-2]: e for e in entries}
    assert by_name["notes 2026.txt"].size == 4321
    assert by_name["50%+off?.txt"].size == 2048
    assert by_name["café"].is_directory


def test_entries_are_immutable_named_tuples_that_pickle(session):
    entry = next(iter(session.list_directory("/home/bob/")))
    assert isinstance(entry, clusterclient.Entry)
    assert entry == tuple(entry) and entry._fields[0] == "path"
    with pytest.raises(AttributeError):
        entry.size = 1
    assert pickle.loads(pickle.dumps(entry)) == entry


def test_attributes_of_one_file(session):
    entry = session.attributes("/home/alice/notes 2026.txt")
    assert entry.size == 4321 and not entry.is_directory
    assert entry.path.endswith("notes 2026.txt")


def test_listing_as_of_a_snapshot(session):
    older = {s.name: s.id for s in session.snapshots()}["home-daily-1"]
    names = {e.path.rsplit("/", 1)[-1]: e for e in session.list_directory("/home/bob/", older)}
    assert "todo.txt" in names and "new file.txt" not in names


def test_shares_and_exports_match_clusterctl(sim, session):
    shares = session.smb_shares()
    assert [(s.id, s.share_name, s.fs_path, s.description) for s in shares] == [
        (r["id"], r["share_name"], r["fs_path"], r["description"])
        for r in sim.clusterctl_json("smb", "list")]
    assert "Données partagées — équipe" in {s.description for s in shares}
    exports = session.nfs_exports()
    assert [tuple(e) for e in exports] == [
        (r["id"], r["export_path"], r["fs_path"], r["description"])
        for r in sim.clusterctl_json("nfs", "list")]


def test_snapshot_difference_across_pages(session):
    ids = {s.name: s.id for s in session.snapshots()}
    changes = list(session.snapshot_diff(ids["home-daily-1"], ids["home-daily-2"]))
    assert all(isinstance(c, clusterclient.DiffEntry) for c in changes)
    ops = {c.path: c.operation for c in changes}
    assert ops["/home/alice/notes 2026.txt"] == "modify"
    assert ops["/home/bob/new file.txt"] == "create"
    assert ops["/home/bob/todo.txt"] == "delete"
    assert ops["/home/carol/hello.txt"] == "create"
    assert [c.is_directory for c in changes if c.path == "/home/carol/"] == [True]
    assert len(changes) > 3  # more than one page of three


def test_create_and_delete_snapshot(session):
    home = session.attributes("/home/")
    made = session.create_snapshot("py-made", home.id, "2099-01-31T00:00:00Z")
    assert made.name == "py-made" and made.source_file_id == home.id
    assert made.id in {s.id for s in session.snapshots()}
    session.delete_snapshot(made.id)
    assert made.id not in {s.id for s in session.snapshots() if not s.in_delete}
