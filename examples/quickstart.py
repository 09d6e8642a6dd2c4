"""A first look at the zephlar Python module.

usage: python3 quickstart.py BASE_URL

Lists the trading pairs of the service at BASE_URL, asks for a quote and
for the best quote of the first pair, and reads a few live quotes from the
service's WebSocket stream when it serves one. The module must be on
PYTHONPATH (the build puts it in build/python).
"""

import json
import sys
import urllib.error
import urllib.request

import zephlar


def serves_websocket(base_url):
    """Whether the service has a WebSocket endpoint: a plain GET of /ws is
    refused by one (400, 426) and not found (404) without one."""
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    try:
        opener.open(base_url.rstrip("/") + "/ws", timeout=5).close()
    except urllib.error.HTTPError as error:
        return error.code != 404
    except OSError:
        return False
    return False


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    base_url = sys.argv[1]
    client = zephlar.PyZephClient(zephlar.PyZephConfig(base_url, timeout=10.0, max_retries=1))

    pairs = json.loads(client.list_pairs())
    print(f"{len(pairs)} trading pairs:")
    for pair in pairs:
        print(f"  {pair['base']['ticker']}/{pair['quote']['ticker']}")
    if not pairs:
        return 0

    pair = pairs[0]
    ticker = f"{pair['base']['ticker']}/{pair['quote']['ticker']}"
    precision = pair["base"].get("precision", 8)
    amount = zephlar.to_smallest_units_py(0.001, precision)

    quote = json.loads(client.get_quote_by_pair(ticker, from_amount=amount))
    print(f"quote for {zephlar.to_display_units_py(amount, precision)} {pair['base']['ticker']}:")
    print(f"  {quote['from_asset']['amount']} -> {quote['to_asset']['amount']} at {quote['price']}")

    best = json.loads(client.get_best_quote(ticker, from_amount=amount))
    print(f"best quote: {best['from_asset']['layer']} -> {best['to_asset']['layer']}, "
          f"{best['to_asset']['amount']} {best['to_asset']['ticker']}")

    if not serves_websocket(base_url):
        print("no live quotes: the service serves no WebSocket stream")
        return 0
    stream = client.create_quote_stream(ticker)
    received = 0
    while received < 3:
        text = stream.recv(2.0)
        if text is None:
            break
        received += 1
        print(f"live quote: {text}")
    if received == 0:
        print("no live quotes arrived")
    stream.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
