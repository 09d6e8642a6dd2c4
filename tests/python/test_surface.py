"""The module's surface: its contents, the four classes, the configuration
constructor, the client constructor, and the once-per-process rule."""

import ctypes
import inspect
import math

import pytest


def test_all_lists_the_six_names_in_order(zephlar):
    assert zephlar.__all__ == [
        "PyZephConfig",
        "PyZephClient",
        "PyJsonValue",
        "PyQuoteStream",
        "to_smallest_units_py",
        "to_display_units_py",
    ]
    for name in zephlar.__all__:
        assert hasattr(zephlar, name)
    assert zephlar.__doc__ == "" or zephlar.__doc__ is None


@pytest.mark.parametrize("name", ["PyZephConfig", "PyZephClient", "PyJsonValue", "PyQuoteStream"])
def test_classes_are_plain_final_builtins(zephlar, name):
    cls = getattr(zephlar, name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name and cls.__qualname__ == name
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    # No __dict__, no weak references, not tracked by the cyclic collector.
    assert "__dict__" not in dir(cls) and "__weakref__" not in dir(cls)


def test_class_docs_and_signatures(zephlar):
    assert str(inspect.signature(zephlar.PyZephConfig)) == (
        "(base_url, node_url=None, api_key=None, timeout=30.0, max_retries=3, cache_ttl=300)"
    )
    assert str(inspect.signature(zephlar.PyZephClient)) == "(config)"
    assert zephlar.PyQuoteStream.__doc__ == "Real-time quote stream for receiving WebSocket updates"
    assert zephlar.PyQuoteStream.__text_signature__ is None
    assert zephlar.PyJsonValue.__doc__ is None
    assert isinstance(zephlar.PyJsonValue.__dict__["json"], type(zephlar.PyJsonValue.json))
    assert zephlar.PyJsonValue.__dict__["json"].__doc__ is None


@pytest.mark.parametrize("name", ["PyQuoteStream", "PyJsonValue"])
def test_classes_without_constructor(zephlar, name):
    with pytest.raises(TypeError, match="^No constructor defined$"):
        getattr(zephlar, name)()


def test_functions_are_bound_to_the_module(zephlar):
    for name in ("to_smallest_units_py", "to_display_units_py"):
        function = getattr(zephlar, name)
        assert function.__module__ == "zephlar"
        assert function.__self__ is zephlar
        assert function.__text_signature__ == "(amount, precision)"
        assert not function.__doc__


def test_method_tables(zephlar):
    stream_methods = [n for n, v in vars(zephlar.PyQuoteStream).items() if callable(v) and not n.startswith("__")]
    assert stream_methods == ["recv", "is_connected", "close"]
    recv = zephlar.PyQuoteStream.recv
    assert recv.__text_signature__ == "($self, timeout_secs)"
    assert recv.__doc__ == (
        "Receive the next quote update (blocking with timeout)\n"
        "Returns None if timeout expires without receiving a quote"
    )
    assert zephlar.PyQuoteStream.close.__doc__ == "Close the stream and clean up resources"
    assert zephlar.PyQuoteStream.is_connected.__doc__ == "Check if the stream is still connected"


def test_second_initialisation_raises_import_error(zephlar):
    library = ctypes.PyDLL(zephlar.__file__)
    init = library.PyInit_zephlar
    init.restype = ctypes.py_object
    with pytest.raises(ImportError, match="only once per interpreter process"):
        init()
    assert zephlar.PyZephConfig.__name__ == "PyZephConfig"


# ---- PyZephConfig -------------------------------------------------------------


def test_config_accepts_every_documented_form(zephlar):
    accepted = [
        (("http://x",), {}),
        (("http://x", None, None), {}),
        (("http://x", "http://node", "key", 5, 0, 18446744073709551615), {}),
        (("",), {"timeout": True, "max_retries": 4294967295}),
        (("http://x",), {"timeout": -1.0, "max_retries": 0}),
        (("http://x",), {"timeout": math.nan}),
        ((), {"base_url": "http://x", "cache_ttl": 0, "api_key": "k", "node_url": ""}),
    ]
    for args, kwargs in accepted:
        config = zephlar.PyZephConfig(*args, **kwargs)
        assert isinstance(config, zephlar.PyZephConfig)
    with pytest.raises(AttributeError):
        zephlar.PyZephConfig("http://x").base_url


def test_client_from_a_config_copies_it(zephlar, service):
    config = zephlar.PyZephConfig(service.base_url)
    first = zephlar.PyZephClient(config)
    second = zephlar.PyZephClient(config=config)
    assert first is not second
    assert first.has_node() is False
    with_node = zephlar.PyZephClient(zephlar.PyZephConfig(service.base_url, ""))
    assert with_node.has_node() is True


def test_client_rejects_what_is_not_a_config(zephlar):
    with pytest.raises(TypeError) as raised:
        zephlar.PyZephClient("x")
    assert str(raised.value) == "argument 'config': 'str' object cannot be converted to 'PyZephConfig'"
    with pytest.raises(TypeError) as raised:
        zephlar.PyZephClient()
    assert str(raised.value) == "PyZephClient.__new__() missing 1 required positional argument: 'config'"


def test_negative_timeout_faults_while_building_the_client(zephlar):
    config = zephlar.PyZephConfig("http://127.0.0.1:1", timeout=-1.0)
    with pytest.raises(BaseException) as raised:
        zephlar.PyZephClient(config)
    fault = type(raised.value)
    assert fault.__bases__ == (BaseException,)
    assert not issubclass(fault, Exception)
    assert "negative" in str(raised.value)


def test_instances_survive_their_creators(zephlar, service):
    client = zephlar.PyZephClient(zephlar.PyZephConfig(service.base_url))
    method = client.list_pairs
    del client
    assert method().startswith("[")
