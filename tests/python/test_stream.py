"""PyQuoteStream against a loopback WebSocket server run by the test: the
subscription, quotes read with recv, time-outs, close, and faults."""

import json
import math
import os
import subprocess
import sys
import threading
import time

import pytest

pytest.importorskip("websockets")

SERVER_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "quote_server.py")


class QuoteServer:
    """A child process that answers the subscription with the given quote
    messages, then keeps the connection open until the client goes. What it
    saw arrives as lines on its output, collected by a reader thread."""

    def __init__(self, messages):
        self.events = []
        self.changed = threading.Condition()
        self.process = subprocess.Popen(
            [sys.executable, SERVER_SCRIPT, json.dumps(messages)], stdout=subprocess.PIPE, text=True
        )
        first = self.process.stdout.readline()
        assert first.startswith("port "), first
        self.port = int(first.split()[1])
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self.changed:
                self.events.append(json.loads(line))
                self.changed.notify_all()

    def seen(self, kind, count=1, timeout=30):
        """The values of the first `count` events of `kind`, waiting for them."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                values = [e[kind] for e in self.events if kind in e]
                left = deadline - time.monotonic()
                if len(values) >= count or left <= 0:
                    return values
                self.changed.wait(left)

    def stop(self):
        self.process.kill()
        self.process.wait(30)
        self.reader.join(30)
        self.process.stdout.close()


@pytest.fixture
def quotes_server():
    servers = []

    def start(messages):
        server = QuoteServer(messages)
        servers.append(server)
        return server

    yield start
    for server in servers:
        server.stop()


def quote(price):
    return json.dumps({"type": "quote", "data": {"pair": "BTC/USDT", "price": price}})


def test_stream_subscribes_and_delivers_quotes_in_order(zephlar, quotes_server):
    server = quotes_server(["not json", json.dumps({"type": "other"}), quote(1.5), quote(2)])
    client = zephlar.PyZephClient(zephlar.PyZephConfig(f"http://127.0.0.1:{server.port}"))
    stream = client.create_quote_stream("BTC/USDT")
    assert isinstance(stream, zephlar.PyQuoteStream)
    assert stream.is_connected() is True
    first = stream.recv(30)
    second = stream.recv(timeout_secs=30)
    assert first == '{"pair":"BTC/USDT","price":1.5}'
    assert second == '{"pair":"BTC/USDT","price":2}'
    assert server.seen("subscription") == ['{"data":{"pair_id":"BTC/USDT"},"type":"subscribe"}']
    assert server.seen("path") == ["/ws"]
    # Nothing more is sent: a zero time-out returns None at once.
    assert stream.recv(0.0) is None
    # The stream outlives its client.
    del client
    assert stream.is_connected() is True
    assert stream.close() is None
    assert stream.is_connected() is False
    assert stream.recv(0) is None
    assert stream.close() is None


@pytest.mark.parametrize("timeout", [-1.0, math.nan, math.inf, 1e20])
def test_recv_with_an_unusable_time_out_panics_and_leaves_the_stream(zephlar, quotes_server, timeout):
    server = quotes_server([quote(3)])
    client = zephlar.PyZephClient(zephlar.PyZephConfig(f"http://127.0.0.1:{server.port}"))
    stream = client.create_quote_stream("BTC/USDT")
    with pytest.raises(RuntimeError, match="^Thread panicked$"):
        stream.recv(timeout)
    assert stream.recv(30) == '{"pair":"BTC/USDT","price":3}'


def test_unreachable_service_shows_through_the_stream(zephlar):
    client = zephlar.PyZephClient(zephlar.PyZephConfig("http://127.0.0.1:1"))
    stream = client.create_quote_stream("BTC/USDT")
    # The task ends at once; recv then finds the channel closed and drained.
    assert stream.recv(30) is None
    assert stream.is_connected() is False
