"""Failures reach Python as ClusterError with code, message and trail, never with a secret;
bad arguments as TypeError or ValueError."""

import pickle

import pytest

import clusterclient

SECRET = "Sup3r-s3cret-pw"
UNREACHABLE = "https://127.0.0.1:9"  # options are checked before any connection


def texts_of(error):
    return [str(error), repr(error), error.message, *error.trail, repr(error.args)]


def test_wrong_password_is_refused_without_the_password(sim):
    with pytest.raises(clusterclient.ClusterError) as caught:
        sim.session(password=SECRET, max_attempts=1)
    error = caught.value
    assert error.code == 774
    assert "invalid username or password" in error.message and "login" in error.message
    assert error.trail and all(isinstance(t, str) for t in error.trail)
    assert "Connect" in " ".join(error.trail)
    assert "\n" not in str(error)
    assert not [t for t in texts_of(error) if SECRET in t]


def test_error_keeps_its_fields_through_pickle(sim):
    with pytest.raises(clusterclient.ClusterError) as caught:
        sim.session(password=SECRET, max_attempts=1)
    copy = pickle.loads(pickle.dumps(caught.value))
    assert (copy.code, copy.message, copy.trail) == (
        caught.value.code, caught.value.message, caught.value.trail)


def test_missing_path_fails_with_404(session):
    with pytest.raises(clusterclient.ClusterError) as caught:
        list(session.list_directory("/nonexistent/"))
    assert caught.value.code == 774
    assert "no such file or directory: /nonexistent" in caught.value.message
    with pytest.raises(clusterclient.ClusterError):
        session.attributes("/nonexistent")


def test_unreachable_cluster_raises_and_prints_nothing(capfd):
    with pytest.raises(clusterclient.ClusterError) as caught:
        clusterclient.Session(UNREACHABLE, "admin", "x", max_attempts=1)
    assert "127.0.0.1" in caught.value.message
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize("call", [
    lambda s: s.list_directory(5),
    lambda s: s.walk(3),
    lambda s: s.walk(["not a unit"]),
    lambda s: s.walk("/home/", connections=0),
    lambda s: s.walk("/home/", max_entries=-1),
    lambda s: s.changes(1, 2, window=0),
    lambda s: clusterclient.Session(UNREACHABLE, "admin", "admin", rate=-1),
    lambda s: clusterclient.Session(UNREACHABLE, "admin", "admin", retries=3),
    lambda s: clusterclient.Session(UNREACHABLE, "admin", "admin", max_attempts=1.5),
])
def test_bad_arguments(session, call):
    with pytest.raises((TypeError, ValueError)):
        call(session)


def test_closed_session_refuses_calls(sim):
    opened = sim.session()
    listing = opened.list_directory("/home/")
    opened.close()
    for call in (opened.snapshots, lambda: next(listing), lambda: opened.walk("/home/")):
        with pytest.raises(ValueError):
            call()


def test_missing_password_names_the_variable(sim, monkeypatch):
    monkeypatch.delenv("CLUSTER_PASSWORD", raising=False)
    with pytest.raises(ValueError, match="CLUSTER_PASSWORD"):
        clusterclient.Session(sim.url, "admin", ca_file=sim.ca)
    monkeypatch.setenv("CLUSTER_PASSWORD", "admin")
    monkeypatch.setenv("CLUSTER_USER", "admin")
    with clusterclient.Session(sim.url, ca_file=sim.ca) as opened:
        assert opened.snapshots()
