"""Argument binding and conversion: the exact TypeError texts of binding, the
conversion kinds and what they refuse, and the unit conversions."""

import math

import pytest

# Each case: a call given the module and a client of an unreachable service
# (every failure here comes before any request), the exception class it must
# raise (exactly), and its message; a message starting with "~" is a regular
# expression for the interpreter's own text.
CASES = {
    # Binding.
    "recv missing": (
        lambda z, c: c.create_quote_stream("BTC/USDT").recv(),
        TypeError,
        "PyQuoteStream.recv() missing 1 required positional argument: 'timeout_secs'",
    ),
    "recv too many": (
        lambda z, c: c.create_quote_stream("BTC/USDT").recv(1, 2),
        TypeError,
        "PyQuoteStream.recv() takes 1 positional arguments but 2 were given",
    ),
    "display three positionals": (
        lambda z, c: z.to_display_units_py(1, 2, 3),
        TypeError,
        "to_display_units_py() takes 2 positional arguments but 3 were given",
    ),
    "smallest three positionals": (
        lambda z, c: z.to_smallest_units_py(1, 2, 3),
        TypeError,
        "to_smallest_units_py() takes 2 positional arguments but 3 were given",
    ),
    "smallest missing both": (
        lambda z, c: z.to_smallest_units_py(),
        TypeError,
        "to_smallest_units_py() missing 2 required positional arguments: 'amount' and 'precision'",
    ),
    "config missing": (
        lambda z, c: z.PyZephConfig(),
        TypeError,
        "PyZephConfig.__new__() missing 1 required positional argument: 'base_url'",
    ),
    "config seven positionals": (
        lambda z, c: z.PyZephConfig("a", None, None, 1.0, 1, 1, 1),
        TypeError,
        "PyZephConfig.__new__() takes from 1 to 6 positional arguments but 7 were given",
    ),
    "config given twice": (
        lambda z, c: z.PyZephConfig("a", base_url="b"),
        TypeError,
        "PyZephConfig.__new__() got multiple values for argument 'base_url'",
    ),
    "unknown keyword": (
        lambda z, c: c.get_swap_status(payment_hash="h", extra=1),
        TypeError,
        "PyZephClient.get_swap_status() got an unexpected keyword argument 'extra'",
    ),
    "history one too many": (
        lambda z, c: c.get_order_history(None, 1, 2, 3),
        TypeError,
        "PyZephClient.get_order_history() takes from 0 to 3 positional arguments but 4 were given",
    ),
    "quote by assets missing three": (
        lambda z, c: c.wait_for_swap_completion(),
        TypeError,
        "PyZephClient.wait_for_swap_completion() missing 3 required positional arguments: "
        "'payment_hash', 'timeout_secs', and 'poll_interval_secs'",
    ),
    "no-argument method given one": (lambda z, c: c.list_assets(1), TypeError, "~takes no arguments"),
    "is_connected given one": (
        lambda z, c: c.create_quote_stream("X").is_connected(1),
        TypeError,
        "~takes no arguments",
    ),
    # Conversion kinds.
    "text given int": (
        lambda z, c: c.get_swap_status(5),
        TypeError,
        "argument 'payment_hash': 'int' object cannot be converted to 'PyString'",
    ),
    "text given bytes": (
        lambda z, c: z.PyZephConfig(b"http://x"),
        TypeError,
        "argument 'base_url': 'bytes' object cannot be converted to 'PyString'",
    ),
    "text with lone surrogate": (lambda z, c: c.get_swap_status("\udc80"), UnicodeEncodeError, "~surrogate"),
    "first failing argument hides later ones": (
        lambda z, c: c.get_quote_by_assets(1, 2),
        TypeError,
        "argument 'from_ticker': 'int' object cannot be converted to 'PyString'",
    ),
    "exact bool given 1": (
        lambda z, c: c.swap_order_rate_decision("o", 1),
        TypeError,
        "argument 'accept': 'int' object cannot be converted to 'PyBool'",
    ),
    "float given None": (
        lambda z, c: z.PyZephConfig("a", timeout=None),
        TypeError,
        "~^argument 'timeout': must be real number, not NoneType$",
    ),
    "float given str": (
        lambda z, c: c.create_quote_stream("X").recv("1"),
        TypeError,
        "~^argument 'timeout_secs': must be real number, not str$",
    ),
    "u32 given float": (
        lambda z, c: z.PyZephConfig("a", max_retries=3.0),
        TypeError,
        "argument 'max_retries': 'float' object cannot be interpreted as an integer",
    ),
    "u32 given None": (
        lambda z, c: z.PyZephConfig("a", max_retries=None),
        TypeError,
        "argument 'max_retries': 'NoneType' object cannot be interpreted as an integer",
    ),
    "u32 negative": (
        lambda z, c: z.PyZephConfig("a", max_retries=-1),
        OverflowError,
        "out of range integral type conversion attempted",
    ),
    "u32 too large": (
        lambda z, c: z.PyZephConfig("a", max_retries=4294967296),
        OverflowError,
        "out of range integral type conversion attempted",
    ),
    "u32 beyond 64 bits": (lambda z, c: z.PyZephConfig("a", max_retries=2**64), OverflowError, "~^(?!argument)"),
    "u64 negative": (lambda z, c: z.PyZephConfig("a", cache_ttl=-1), OverflowError, "~^(?!argument)"),
    "u64 too large": (lambda z, c: z.PyZephConfig("a", cache_ttl=2**64), OverflowError, "~^(?!argument)"),
    "u64 given None": (
        lambda z, c: z.PyZephConfig("a", cache_ttl=None),
        TypeError,
        "~^argument 'cache_ttl': ",
    ),
    "i32 limit None": (
        lambda z, c: c.get_order_history(limit=None),
        TypeError,
        "argument 'limit': 'NoneType' object cannot be interpreted as an integer",
    ),
    "i32 skip None": (
        lambda z, c: c.get_order_history(skip=None),
        TypeError,
        "argument 'skip': 'NoneType' object cannot be interpreted as an integer",
    ),
    "i32 limit 2^31": (
        lambda z, c: c.get_order_history(limit=2**31),
        OverflowError,
        "out of range integral type conversion attempted",
    ),
    "i64 amount 2^63": (lambda z, c: c.get_best_quote("BTC/USDT", 2**63), OverflowError, "~^(?!argument)"),
    "i64 amount float": (
        lambda z, c: c.get_best_quote("BTC/USDT", 1.5),
        TypeError,
        "argument 'from_amount': 'float' object cannot be interpreted as an integer",
    ),
    "i64 channel size str": (
        lambda z, c: c.estimate_lsp_fees("1"),
        TypeError,
        "argument 'channel_size': 'str' object cannot be interpreted as an integer",
    ),
    "u8 precision 256": (
        lambda z, c: z.to_display_units_py(1, 256),
        OverflowError,
        "out of range integral type conversion attempted",
    ),
    "u8 precision -1": (
        lambda z, c: z.to_smallest_units_py(1.0, -1),
        OverflowError,
        "out of range integral type conversion attempted",
    ),
    "display amount float": (
        lambda z, c: z.to_display_units_py(1.5, 2),
        TypeError,
        "argument 'amount': 'float' object cannot be interpreted as an integer",
    ),
    "display amount beyond 64 bits": (lambda z, c: z.to_display_units_py(2**63, 2), OverflowError, "~^(?!argument)"),
    "smallest amount str": (
        lambda z, c: z.to_smallest_units_py("1", 2),
        TypeError,
        "~^argument 'amount': must be real number, not str$",
    ),
    "float from huge int": (lambda z, c: z.to_smallest_units_py(10**400, 2), OverflowError, "~^(?!argument)"),
    # Faults on the worker thread.
    "recv negative": (lambda z, c: c.create_quote_stream("X").recv(-1.0), RuntimeError, "Thread panicked"),
    "recv NaN": (lambda z, c: c.create_quote_stream("X").recv(math.nan), RuntimeError, "Thread panicked"),
    "wait negative timeout": (
        lambda z, c: c.wait_for_swap_completion("h", -1.0, 1),
        RuntimeError,
        "Thread panicked",
    ),
    "wait NaN poll interval": (
        lambda z, c: c.wait_for_swap_completion("h", 1, math.nan),
        RuntimeError,
        "Thread panicked",
    ),
    # Wrapper errors.
    "node not configured": (lambda z, c: c.list_channels(), RuntimeError, "NodeNotConfigured"),
    "bad request json": (
        lambda z, c: c.connect_peer("not json"),
        RuntimeError,
        "~^ValidationError \\{ message: \"Invalid request JSON: .*\" \\}$",
    ),
    "unreachable service": (
        lambda z, c: c.list_assets(),
        RuntimeError,
        'NetworkError { message: "Connection failed" }',
    ),
}


@pytest.fixture(scope="module")
def offline(request):
    import zephlar

    # Port 1 on loopback: nothing listens there, so requests fail at once.
    return zephlar.PyZephClient(zephlar.PyZephConfig("http://127.0.0.1:1", max_retries=0))


@pytest.mark.parametrize("name", sorted(CASES))
def test_refused_calls(zephlar, offline, name):
    call, exception, message = CASES[name]
    with pytest.raises(exception) as raised:
        call(zephlar, offline)
    assert type(raised.value) is exception
    if message.startswith("~"):
        assert raised.match(message[1:])
    else:
        assert str(raised.value) == message


def test_named_type_error_keeps_the_cause_and_drops_the_context(zephlar, offline):
    with pytest.raises(TypeError) as raised:
        offline.get_swap_status(5)
    assert raised.value.__context__ is None


@pytest.mark.parametrize(
    "function, args, expected",
    [
        ("to_display_units_py", (150, 2), 1.5),
        ("to_display_units_py", (-150, 2), -1.5),
        ("to_display_units_py", (5, 0), 5.0),
        ("to_display_units_py", (True, 0), 1.0),
        ("to_smallest_units_py", (1.5, 2), 150),
        ("to_smallest_units_py", (2, 0), 2),
        ("to_smallest_units_py", (0.5, 0), 1),
        ("to_smallest_units_py", (-0.5, 0), -1),
        ("to_smallest_units_py", (2.5, 0), 3),
        ("to_smallest_units_py", (math.nan, 2), 0),
        ("to_smallest_units_py", (1e300, 2), 9223372036854775807),
        ("to_smallest_units_py", (-1e300, 2), -9223372036854775808),
    ],
)
def test_unit_conversions(zephlar, function, args, expected):
    result = getattr(zephlar, function)(*args)
    assert type(result) is type(expected)
    assert result == expected
    assert getattr(zephlar, function)(amount=args[0], precision=args[1]) == expected
