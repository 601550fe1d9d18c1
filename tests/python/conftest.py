"""Fixtures of the binding's tests: simulated clusters on loopback, started from the build tree
(CLUSTER_SIM names cluster-sim, CLUSTERCTL clusterctl), and sessions logged in to them."""

import os
import re
import subprocess
import time

import pytest

import clusterclient

SYNTHETIC = "files=2000,dirs=50,changes=100"
BASE_ID = 2000000001  # synthetic-base
TARGET_ID = 2000000002  # synthetic-target


class Sim:
    """One cluster-sim process: its URL and the CA file that trusts it."""

    def __init__(self, *flags):
        self.process = subprocess.Popen(
            [os.environ["CLUSTER_SIM"], "--listen", "127.0.0.1:0", *flags],
            stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"listening on (\S+) ca=(\S+)", line)
        if not found:
            self.stop()
            raise RuntimeError("cluster-sim did not start: " + line)
        self.url, self.ca = found.group(1), found.group(2)

    def session(self, password="admin", **options):
        return clusterclient.Session(self.url, "admin", password, ca_file=self.ca, **options)

    def clusterctl_json(self, *arguments):
        """What clusterctl prints with -o json for the same request, parsed."""
        import json
        env = dict(os.environ, CLUSTER_PASSWORD="admin")
        printed = subprocess.run(
            [os.environ["CLUSTERCTL"], "--url", self.url, "--user", "admin", "--cacert",
             self.ca, "-o", "json", *arguments],
            env=env, check=True, capture_output=True, text=True, timeout=60).stdout
        return json.loads(printed)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture(scope="module")
def sim():
    """The demo tree, with three entries a page so that short listings span pages."""
    started = Sim("--page-size", "3")
    yield started
    started.stop()


@pytest.fixture(scope="module")
def synthetic():
    """A generated tree under /synthetic and its snapshot pair, 100 changes apart."""
    started = Sim("--synthetic", SYNTHETIC, "--page-size", "100")
    yield started
    started.stop()


@pytest.fixture
def slow_sim():
    """Each request answered 100 ms late, a page of one entry: listings take a while."""
    started = Sim("--latency", "100", "--page-size", "1")
    yield started
    started.stop()


@pytest.fixture
def session(sim):
    with sim.session() as opened:
        yield opened


def wait_until(condition, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True
