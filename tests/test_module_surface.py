"""What a caller sees of the module: names, classes, functions, PanicException, interpreters."""

import os
import subprocess
import sys
import textwrap
import weakref

import pytest

import norvik_auth
from helpers import panic_of, sign

CLASSES = ["WebAppUser", "WebAppChat", "WebAppInitData"]
FUNCTIONS = {
    "validate_webapp_data": "(webapp_data, secret_key)",
    "get_secret_key": "(bot_token)",
    "parse_webapp_data": "(webapp_data)",
}


def instances():
    init_data = norvik_auth.parse_webapp_data(
        sign([("user", '{"id": 1, "first_name": "A"}'), ("chat", '{"id": 2, "type_": "group", "title": "T"}')], "t")
    )
    return {"WebAppUser": init_data.user, "WebAppChat": init_data.chat, "WebAppInitData": init_data}


class TestModuleObject:
    def test_all_lists_classes_then_functions_in_registration_order(self):
        assert norvik_auth.__all__ == CLASSES + list(FUNCTIONS)

    def test_doc_is_empty_text(self):
        assert norvik_auth.__doc__ == ""

    def test_reimport_after_removal_gives_the_same_module(self):
        module = sys.modules.pop("norvik_auth")
        try:
            import norvik_auth as again

            assert again is module
        finally:
            sys.modules["norvik_auth"] = module


@pytest.mark.parametrize("name", CLASSES)
class TestClasses:
    def test_names_module_and_doc(self, name):
        cls = getattr(norvik_auth, name)
        assert (cls.__name__, cls.__qualname__, cls.__module__, cls.__doc__) == (name, name, "builtins", None)
        assert cls.__bases__ == (object,)

    @pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {"x": 3})], ids=["bare", "with-arguments"])
    def test_constructor_is_refused(self, name, args, kwargs):
        with pytest.raises(TypeError) as caught:
            getattr(norvik_auth, name)(*args, **kwargs)
        assert str(caught.value) == f"No constructor defined for {name}"

    def test_cannot_be_subclassed(self, name):
        with pytest.raises(TypeError, match="not an acceptable base type"):
            type("Derived", (getattr(norvik_auth, name),), {})

    def test_instances_have_no_dict_and_no_weakref(self, name):
        instance = instances()[name]
        with pytest.raises(AttributeError):
            instance.anything = 1
        with pytest.raises(TypeError):
            weakref.ref(instance)

    def test_attributes_are_read_only(self, name):
        instance = instances()[name]
        attribute = {"WebAppUser": "id", "WebAppChat": "type", "WebAppInitData": "hash"}[name]
        before = getattr(instance, attribute)
        with pytest.raises(AttributeError):
            setattr(instance, attribute, before)
        with pytest.raises(AttributeError):
            delattr(instance, attribute)
        assert getattr(instance, attribute) == before


@pytest.mark.parametrize("name, text_signature", FUNCTIONS.items(), ids=list(FUNCTIONS))
def test_function_descriptors(name, text_signature):
    function = getattr(norvik_auth, name)
    assert (function.__name__, function.__qualname__, function.__module__) == (name, name, "norvik_auth")
    assert function.__text_signature__ == text_signature
    assert function.__doc__ is None
    assert function.__self__ is norvik_auth


class TestPanicException:
    def test_derives_from_base_exception_not_exception(self, panic_exception):
        assert panic_exception.__bases__ == (BaseException,)
        assert not issubclass(panic_exception, Exception)

    def test_except_exception_does_not_catch_it(self):
        with pytest.raises(BaseException) as caught:
            try:
                norvik_auth.parse_webapp_data("no-hash=1")
            except Exception:  # noqa: BLE001 - the point is that this handler is skipped
                pytest.fail("PanicException was caught as an Exception")
        assert type(caught.value).__name__ == "PanicException"

    def test_args_are_the_message_alone(self):
        panic = panic_of(norvik_auth.parse_webapp_data, "a=1")
        assert panic.args == ("Hash is required",)
        assert str(panic) == "Hash is required"

    def test_name_and_module(self, panic_exception):
        assert panic_exception.__name__ == "PanicException"
        assert panic_exception.__module__ != "norvik_auth"
        assert "BaseException" in panic_exception.__doc__

    def test_same_class_every_time_and_module_stays_usable(self, panic_exception):
        first = panic_of(norvik_auth.parse_webapp_data, "")
        second = panic_of(norvik_auth.parse_webapp_data, "x=1")
        assert type(first) is type(second) is panic_exception
        assert norvik_auth.parse_webapp_data("hash=1").hash == "1"

    def test_not_an_attribute_of_the_module(self):
        assert not hasattr(norvik_auth, "PanicException")
        assert "PanicException" not in dir(norvik_auth)


class TestPanicRaisedByCallerCode:
    """A PanicException raised by the caller's own code while the module iterates a key."""

    def test_is_resumed_as_a_new_panic_with_the_same_message(self, panic_exception, capfd):
        original = panic_exception("boom from a key")

        class Key:
            def __len__(self):
                return 1

            def __getitem__(self, index):
                raise original

        init_data = norvik_auth.parse_webapp_data("hash=1")
        with pytest.raises(panic_exception) as caught:
            norvik_auth.validate_webapp_data(init_data, Key())
        assert caught.value is not original
        assert caught.value.args == ("boom from a key",)
        assert "boom from a key" in capfd.readouterr().err


SUBINTERPRETER_CODE = """
import sys
sys.path.insert(0, {directory!r})
try:
    import norvik_auth
    outcome = "imported"
except ImportError as error:
    outcome = "ImportError: " + str(error)
with open({path!r}, "w") as out:
    out.write(outcome)
"""


def test_second_interpreter_gets_import_error(tmp_path):
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "run_in_subinterp"):
        pytest.skip("no way to start a subinterpreter")
    path = tmp_path / "outcome.txt"
    code = SUBINTERPRETER_CODE.format(directory=os.path.dirname(norvik_auth.__file__), path=str(path))
    assert testcapi.run_in_subinterp(code) == 0
    assert path.read_text().startswith("ImportError: norvik_auth does not support subinterpreters")
    # The first interpreter keeps working.
    assert norvik_auth.parse_webapp_data("hash=ok").hash == "ok"


def test_fresh_process_imports_and_works():
    """Import in a new process, where nothing else has touched the module yet."""
    code = textwrap.dedent(
        """
        import norvik_auth
        print(len(norvik_auth.get_secret_key("t")), norvik_auth.parse_webapp_data("hash=x").hash)
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                            env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert result.stdout == "32 x\n"
