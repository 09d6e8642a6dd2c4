"""Shared fixtures of the Python module's tests.

The fake service (build/tests/fake_service) plays the trading service and
the user's node on loopback; it is started once for the session and driven
through its control endpoints. Its path comes from ZEPHLAR_FAKE_SERVICE, or
is looked up in the build directory that PYTHONPATH points at.
"""

import json
import os
import pathlib
import subprocess
import urllib.request

import pytest


def _fake_service_path():
    explicit = os.environ.get("ZEPHLAR_FAKE_SERVICE")
    if explicit:
        return explicit
    for entry in os.environ.get("PYTHONPATH", "").split(os.pathsep):
        if entry:
            candidate = pathlib.Path(entry).parent / "tests" / "fake_service"
            if candidate.exists():
                return str(candidate)
    pytest.exit("fake_service not found: set ZEPHLAR_FAKE_SERVICE", returncode=2)


class FakeService:
    def __init__(self, base_url):
        self.base_url = base_url

    def _call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base_url + path, data=data, method=method)
        if data is not None:
            request.add_header("Content-Type", "application/json")
        # Loopback only: no proxy may be consulted.
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(request, timeout=30) as answer:
            return json.loads(answer.read() or b"null")

    def script(self, method, path, *answers):
        """Queues answers for method + path; each a dict of status, body,
        delay_ms, fault, headers."""
        self._call("POST", "/_control/script", {"method": method, "path": path, "answers": list(answers)})

    def requests(self):
        return self._call("GET", "/_control/requests")

    def requests_to(self, path):
        return [r for r in self.requests() if r["path"] == path]

    def reset(self):
        self._call("POST", "/_control/reset")


@pytest.fixture(scope="session")
def service():
    process = subprocess.Popen([_fake_service_path()], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    try:
        base_url = process.stdout.readline().decode().strip()
        if not base_url.startswith("http://127.0.0.1:"):
            pytest.exit("fake_service did not start", returncode=2)
        yield FakeService(base_url)
    finally:
        process.terminate()
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        process.stdout.close()


@pytest.fixture(autouse=True)
def fresh_service(request):
    """Forgets scripts, records and created orders before each test that
    uses the service."""
    if "service" in request.fixturenames:
        request.getfixturevalue("service").reset()


@pytest.fixture
def zephlar():
    import zephlar as module

    return module


@pytest.fixture
def client(zephlar, service):
    """A client of the fake service, which also plays the node."""
    config = zephlar.PyZephConfig(service.base_url, node_url=service.base_url, max_retries=0, timeout=30.0)
    return zephlar.PyZephClient(config)


@pytest.fixture
def bare_client(zephlar, service):
    """A client without a node URL."""
    return zephlar.PyZephClient(zephlar.PyZephConfig(service.base_url, max_retries=0))
