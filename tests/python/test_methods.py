"""Every PyZephClient method once against the fake service: the request it
sends and the JSON text it returns; the signatures and docs of the table."""

import inspect
import json

import pytest

QUOTE_JSON = (
    '{"rfq_id":"r","from_asset":{"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN",'
    '"amount":1,"precision":8},"to_asset":{"asset_id":"USDT","name":"Tether","ticker":"USDT",'
    '"layer":"BTC_LN","amount":1,"precision":6},"price":1,"fee":{"base_fee":0,"variable_fee":0,'
    '"fee_rate":0,"final_fee":0,"fee_asset":"BTC","fee_asset_precision":8},"timestamp":1,"expires_at":2}'
)
SWAP_ORDER_JSON = (
    '{"rfq_id":"r","from_asset":{"asset_id":"BTC","name":"Bitcoin","ticker":"BTC","layer":"BTC_LN",'
    '"amount":1,"precision":8},"to_asset":{"asset_id":"USDT","name":"Tether","ticker":"USDT",'
    '"layer":"BTC_LN","amount":1,"precision":6},"receiver_address":{"address":"a","format":"BOLT11"}}'
)
LSP_ORDER_JSON = (
    '{"client_pubkey":"02ab","lsp_balance_sat":1,"client_balance_sat":0,"required_channel_confirmations":1,'
    '"funding_confirms_within_blocks":6,"channel_expiry_blocks":1000}'
)

# name, args, the (method, path) of the last request it sends (None: no
# request), and a check of the decoded result.
METHODS = [
    ("list_assets", (), ("GET", "/api/v1/market/assets"), lambda r: {a["ticker"] for a in r} >= {"BTC", "USDT"}),
    ("list_pairs", (), ("GET", "/api/v1/market/pairs"), lambda r: len(r) == 2),
    (
        "get_quote_by_pair",
        ("BTC/USDT", 100000),
        ("POST", "/api/v1/market/quote"),
        lambda r: r["from_asset"]["amount"] == 100000,
    ),
    ("get_node_info", (), ("GET", "/api/v1/swaps/nodeinfo"), lambda r: r["block_height"] == 1200),
    ("get_swap_status", ("00ff",), ("POST", "/api/v1/swaps/atomic/status"), lambda r: "swap" in r),
    ("wait_for_swap_completion", ("00ff", 5, 1), ("POST", "/api/v1/swaps/atomic/status"), lambda r: r["status"]),
    ("get_swap_order_status", ("order-1",), ("POST", "/api/v1/swaps/orders/status"), lambda r: "order" in r),
    ("get_order_history", (), ("GET", "/api/v1/swaps/orders/history"), lambda r: "data" in r or r),
    ("get_order_analytics", (), ("GET", "/api/v1/swaps/orders/analytics"), lambda r: isinstance(r, dict)),
    ("swap_order_rate_decision", ("order-1", True), ("POST", "/api/v1/swaps/orders/rate_decision"), bool),
    ("get_lsp_info", (), ("GET", "/api/v1/lsps1/get_info"), lambda r: isinstance(r, dict)),
    ("get_lsp_network_info", (), ("GET", "/api/v1/lsps1/network_info"), lambda r: isinstance(r, dict)),
    ("get_lsp_order", ("lsp-1",), ("POST", "/api/v1/lsps1/get_order"), lambda r: r["order_id"] == "lsp-1"),
    ("estimate_lsp_fees", (1000000,), ("POST", "/api/v1/lsps1/estimate_fees"), lambda r: isinstance(r, dict)),
    ("get_rgb_node_info", (), ("GET", "/nodeinfo"), lambda r: list(r)[:2] == ["pubkey", "network"]),
    ("list_channels", (), ("GET", "/listchannels"), lambda r: len(r) == 2),
    ("list_peers", (), ("GET", "/listpeers"), lambda r: len(r) == 2),
    ("connect_peer", ('{"peer_pubkey_and_addr":"02ab@127.0.0.1:9735"}',), ("POST", "/connectpeer"), lambda r: True),
    ("list_node_assets", (), ("POST", "/listassets"), lambda r: isinstance(r, list)),
    ("get_asset_balance", ("rgb:x",), ("POST", "/assetbalance"), lambda r: list(r) == ["settled", "future", "spendable"]),
    ("get_onchain_address", (), ("POST", "/address"), lambda r: list(r) == ["address"]),
    ("get_btc_balance", (), ("POST", "/btcbalance"), lambda r: list(r) == ["confirmed", "unconfirmed", "total"]),
    ("whitelist_trade", ("swapstring",), ("POST", "/taker"), lambda r: True),
    ("decode_ln_invoice", ("lnbc1",), ("POST", "/decodelninvoice"), lambda r: isinstance(r, dict)),
    ("list_payments", (), ("GET", "/listpayments"), lambda r: len(r) == 3),
    ("init_wallet", ("pw",), ("POST", "/init"), lambda r: True),
    ("unlock_wallet", ("pw",), ("POST", "/unlock"), lambda r: True),
    ("lock_wallet", (), ("POST", "/lock"), lambda r: True),
    ("get_asset_by_ticker", ("usdt",), ("GET", "/api/v1/market/assets"), lambda r: r["ticker"] == "USDT"),
    (
        "get_quote_by_assets",
        ("BTC", "USDT", 100000),
        ("POST", "/api/v1/market/quote"),
        lambda r: r["to_asset"]["ticker"] == "USDT",
    ),
    ("complete_swap_from_quote", (QUOTE_JSON,), ("POST", "/api/v1/swaps/execute"), lambda r: r["status"] == 200),
    ("create_order", (LSP_ORDER_JSON,), ("POST", "/api/v1/lsps1/create_order"), lambda r: "order_id" in r),
    ("create_swap_order", (SWAP_ORDER_JSON,), ("POST", "/api/v1/swaps/orders"), lambda r: r["rfq_id"] == "r"),
    (
        "init_maker_swap",
        ('{"rfq_id":"r","from_asset":"BTC","from_amount":1,"to_asset":"USDT","to_amount":1}',),
        ("POST", "/api/v1/swaps/init"),
        lambda r: "swapstring" in r,
    ),
    (
        "execute_maker_swap",
        ('{"swapstring":"s","taker_pubkey":"02ab","payment_hash":"00"}',),
        ("POST", "/api/v1/swaps/execute"),
        lambda r: "status" in r,
    ),
    ("retry_delivery", ("lsp-1",), ("POST", "/api/v1/lsps1/retry_delivery"), lambda r: True),
    ("get_pair_by_ticker", ("btc/usdt",), ("GET", "/api/v1/market/pairs"), lambda r: r["base"]["ticker"] == "BTC"),
    ("list_active_assets", (), ("GET", "/api/v1/market/assets"), lambda r: len(r) == 3),
    ("list_active_pairs", (), ("GET", "/api/v1/market/pairs"), lambda r: len(r) == 2),
    ("get_best_quote", ("BTC/USDT", 100000), ("POST", "/api/v1/market/quote"), lambda r: "price" in r),
    ("find_asset_by_ticker", ("xaut",), ("GET", "/api/v1/market/assets"), lambda r: r["ticker"] == "XAUT"),
    ("find_pair_by_ticker", ("BTC/XAUT",), ("GET", "/api/v1/market/pairs"), lambda r: r["quote"]["ticker"] == "XAUT"),
]


@pytest.mark.parametrize("name, args, request_line, check", METHODS, ids=[m[0] for m in METHODS])
def test_method_sends_its_request_and_returns_json(client, service, name, args, request_line, check):
    text = getattr(client, name)(*args)
    assert type(text) is str
    assert check(json.loads(text)), text
    assert " " not in text.replace('" ', "").split('"')[0]  # compact: no whitespace outside strings
    sent = [(r["method"], r["path"]) for r in service.requests()]
    assert request_line in sent, sent


def test_every_method_is_in_the_table(zephlar):
    covered = {m[0] for m in METHODS} | {"has_node", "estimate_swap_fees", "create_quote_stream"}
    methods = [n for n, v in vars(zephlar.PyZephClient).items() if callable(v) and not n.startswith("__")]
    assert len(methods) == 45
    assert set(methods) == covered
    assert methods[:4] == ["has_node", "list_assets", "list_pairs", "get_quote_by_pair"]
    assert methods[-1] == "create_quote_stream"


def test_signatures_and_docs(zephlar):
    cls = zephlar.PyZephClient
    assert cls.get_pair_by_ticker.__text_signature__ == "($self, ticker)"
    assert cls.get_pair_by_ticker.__doc__ == 'Get a trading pair by ticker (e.g., "BTC/USDT")'
    assert cls.has_node.__text_signature__ == "($self)"
    assert not cls.has_node.__doc__
    assert cls.get_order_history.__text_signature__ == "($self, status=None, limit=10, skip=0)"
    assert cls.get_order_history.__doc__ == "Get order history"
    assert cls.list_assets.__doc__.endswith("runs on blocking thread to avoid runtime nesting")
    assert cls.create_quote_stream.__doc__ == (
        'Create a real-time quote stream for a trading pair\nThe pair_ticker should be in format "BTC/USDT"'
    )
    assert str(inspect.signature(cls.get_quote_by_assets)) == (
        "(self, /, from_ticker, to_ticker, from_amount=None, to_amount=None)"
    )


@pytest.mark.parametrize(
    "args, kwargs, query",
    [
        ((), {}, "limit=10&skip=0"),
        (("FILLED", 5), {}, "limit=5&skip=0&status=FILLED"),
        ((), {"limit": -1, "skip": 2**31 - 1}, "limit=-1&skip=2147483647"),
        ((None,), {"skip": -2}, "limit=10&skip=-2"),
    ],
)
def test_order_history_defaults_and_bits(client, service, args, kwargs, query):
    client.get_order_history(*args, **kwargs)
    (sent,) = service.requests_to("/api/v1/swaps/orders/history")
    assert sent["target"] == "/api/v1/swaps/orders/history?" + query


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda c: c.get_best_quote("BTC/USDT", -1), '"from_asset":{"asset_id":"BTC","layer":"BTC_L1","amount":-1}'),
        (lambda c: c.get_best_quote("BTC/USDT", True), '"layer":"BTC_L1","amount":1}'),
        (lambda c: c.get_quote_by_pair("BTC/USDT", to_amount=7), '"layer":"BTC_LN","amount":7}}'),
        (lambda c: c.estimate_lsp_fees(-1), "-1"),
        (lambda c: c.swap_order_rate_decision("o", False), '"accept_new_rate":false'),
    ],
)
def test_amounts_pass_bit_for_bit(client, service, call, expected):
    try:
        call(client)
    except RuntimeError:
        pass  # the service may refuse the value; the request is what counts here
    bodies = [r["body"] for r in service.requests() if r["method"] == "POST"]
    assert any(expected in body for body in bodies), bodies


def test_quote_without_amounts_is_refused_by_the_wrapper(client, service):
    with pytest.raises(RuntimeError, match=r"^ValidationError \{ message: "):
        client.get_quote_by_pair("BTC/USDT")
    assert service.requests_to("/api/v1/market/quote") == []


def test_estimate_swap_fees_never_returns_a_number(client):
    with pytest.raises(RuntimeError) as raised:
        client.estimate_swap_fees("BTC/USDT", 100000)
    assert str(raised.value) == 'InternalError { message: "Not implemented" }'


def test_node_methods_without_node(bare_client, service):
    assert bare_client.has_node() is False
    for name in ("list_channels", "get_btc_balance", "lock_wallet"):
        with pytest.raises(RuntimeError, match="^NodeNotConfigured$"):
            getattr(bare_client, name)()
    assert service.requests() == []


def test_service_errors_map_to_runtime_error_with_debug_text(client, service):
    service.script("GET", "/api/v1/market/pairs", {"status": 403, "body": {"detail": "no"}})
    with pytest.raises(RuntimeError) as raised:
        client.list_pairs()
    assert str(raised.value) == 'ApiError { message: "Forbidden" }'
    service.script("GET", "/listpeers", {"delay_ms": 0, "fault": "reset_before_headers"})
    with pytest.raises(RuntimeError, match=r"^NetworkError \{ message: "):
        client.list_peers()


def test_not_found_messages(client):
    with pytest.raises(RuntimeError) as raised:
        client.get_pair_by_ticker("BTC/EUR")
    assert str(raised.value) == 'NotFoundError { message: "Trading pair not found: BTC/EUR" }'
    with pytest.raises(RuntimeError) as raised:
        client.find_pair_by_ticker("BTC/EUR")
    assert str(raised.value) == 'NotFoundError { message: "TradingPair not found: BTC/EUR" }'


def test_calls_from_two_threads_run_one_after_another(client, service):
    import threading

    results = []
    threads = [threading.Thread(target=lambda: results.append(client.list_pairs())) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 4 and len(set(results)) == 1
