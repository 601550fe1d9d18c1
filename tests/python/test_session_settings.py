"""A session's settings are its own: the CA it trusts (and its walks' trust), and the job's
options, which decide what a failing cluster does to a call."""

import pytest

import clusterclient
from conftest import Sim

QUICK = {"first_delay": 0.01, "max_delay": 0.02}


@pytest.fixture
def two_clusters(monkeypatch):
    monkeypatch.delenv("CURL_CA_BUNDLE", raising=False)
    first, second = Sim(), Sim()
    yield first, second
    first.stop()
    second.stop()


def test_sessions_to_clusters_of_different_cas_live_side_by_side(two_clusters):
    first, second = two_clusters
    with first.session() as one, second.session() as two:
        assert one.snapshots() and two.snapshots()
        assert one.snapshots()  # still trusting its own CA after the second login
        walk = one.walk("/home/", connections=2)  # the walk's connections trust it too
        assert [entry for page in walk for entry in page] and walk.summary.complete


def test_insecure_is_the_sessions_alone(two_clusters):
    first, second = two_clusters
    with clusterclient.Session(first.url, "admin", "admin", insecure=True) as unchecked:
        assert unchecked.snapshots()
        with pytest.raises(clusterclient.ClusterError) as caught:
            clusterclient.Session(second.url, "admin", "admin", max_attempts=1)
        assert "login" in caught.value.message


def test_another_clusters_ca_is_refused(two_clusters):
    first, second = two_clusters
    with pytest.raises(clusterclient.ClusterError):
        clusterclient.Session(first.url, "admin", "admin", ca_file=second.ca, max_attempts=1)


@pytest.fixture(scope="module")
def flaky():
    """Half the requests but logins answered 503, the same ones each run."""
    started = Sim("--fault-rate", "503:0.5")
    yield started
    started.stop()


def test_max_attempts_decides_whether_a_busy_cluster_fails_the_call(flaky):
    with flaky.session(max_attempts=8, **QUICK) as patient:
        for _ in range(10):
            assert patient.snapshots()
    with flaky.session(max_attempts=1, **QUICK) as hasty:
        with pytest.raises(clusterclient.ClusterError) as caught:
            for _ in range(10):
                hasty.snapshots()
    assert "unavailable" in caught.value.message


def test_a_walk_keeps_its_sessions_options(flaky):
    with flaky.session(max_attempts=1, **QUICK) as hasty:
        walk = hasty.walk("/home/", connections=2)
        for _ in walk:
            pass
    assert not walk.summary.complete and walk.summary.failed
