"""The stub package against the runtime: the values the module returns have the annotated types.

stubtest compares names and signatures; it cannot see what a getter returns. These tests read the
annotations of the installed stub (or of the checkout's copy) and check real values against them.
"""

import ast
import json
import sys
from pathlib import Path
from urllib.parse import urlencode

import pytest

import norvik_auth

pytestmark = pytest.mark.python_only

STUB_RELATIVE = Path("norvik_auth-stubs") / "__init__.pyi"


def stub_path() -> Path:
    """The stub that type checkers would use here: the installed one first, else the checkout's."""
    for entry in sys.path:
        candidate = Path(entry or ".") / STUB_RELATIVE
        if candidate.is_file():
            return candidate
    return Path(__file__).resolve().parent.parent / "stubs" / STUB_RELATIVE


STUB = ast.parse(stub_path().read_text(encoding="utf-8"))
NAMES = {"int": int, "str": str, "bool": bool, "None": type(None),
         **{name: getattr(norvik_auth, name) for name in ("WebAppUser", "WebAppChat", "WebAppInitData")}}


def conforms(value, annotation: ast.expr) -> bool:
    """Whether `value` has the annotated type; exact classes, so a bool is no int."""
    if isinstance(annotation, ast.BinOp) and isinstance(annotation.op, ast.BitOr):
        return conforms(value, annotation.left) or conforms(value, annotation.right)
    if isinstance(annotation, ast.Subscript) and ast.unparse(annotation.value) == "list":
        return type(value) is list and all(conforms(item, annotation.slice) for item in value)
    return type(value) is NAMES[ast.unparse(annotation)]


def allows_none(annotation: ast.expr) -> bool:
    return conforms(None, annotation)


def stub_properties(class_name: str) -> dict:
    (node,) = [n for n in STUB.body if isinstance(n, ast.ClassDef) and n.name == class_name]
    return {f.name: f.returns for f in node.body if isinstance(f, ast.FunctionDef)}


def stub_function(name: str) -> ast.FunctionDef:
    (node,) = [n for n in STUB.body if isinstance(n, ast.FunctionDef) and n.name == name]
    return node


FULL_USER = {"id": 7, "is_bot": False, "first_name": "Ann", "last_name": "B", "username": "ann_b",
             "language_code": "en", "is_premium": True, "added_to_attachment_menu": False,
             "allows_write_to_pm": True, "photo_url": "https://example.invalid/a.jpg"}
FULL_CHAT = {"id": -100, "type_": "group", "title": "Team", "username": "team",
             "photo_url": "https://example.invalid/t.jpg"}
FULL_QUERY = urlencode({
    "query_id": "AAH", "user": json.dumps(FULL_USER), "receiver": json.dumps(FULL_USER),
    "chat": json.dumps(FULL_CHAT), "chat_type": "group", "chat_instance": "-7", "start_param": "go",
    "can_send_after": "5", "auth_date": "18446744073709551615", "hash": "ab12",
})
# Only the required members: the user and chat records nested in a query that has nothing else.
BARE_QUERY = urlencode({"user": json.dumps({"id": 1, "first_name": "A"}),
                        "chat": json.dumps({"id": 2, "type_": "private", "title": "T"}), "hash": ""})


def full_records() -> dict:
    init_data = norvik_auth.parse_webapp_data(FULL_QUERY)
    return {"WebAppInitData": init_data, "WebAppUser": init_data.user, "WebAppChat": init_data.chat}


def bare_records() -> dict:
    nested = norvik_auth.parse_webapp_data(BARE_QUERY)
    return {"WebAppInitData": norvik_auth.parse_webapp_data("hash="),
            "WebAppUser": nested.user, "WebAppChat": nested.chat}


@pytest.mark.parametrize("class_name", ["WebAppUser", "WebAppChat", "WebAppInitData"])
class TestPropertyAnnotations:
    def test_stub_lists_exactly_the_runtime_attributes(self, class_name):
        runtime = {name for name, member in vars(getattr(norvik_auth, class_name)).items()
                   if type(member).__name__ == "getset_descriptor"}
        assert set(stub_properties(class_name)) == runtime

    def test_every_field_present_has_the_annotated_type(self, class_name):
        record = full_records()[class_name]
        for name, annotation in stub_properties(class_name).items():
            value = getattr(record, name)
            assert value is not None, name  # the full query leaves no field empty
            assert conforms(value, annotation), (name, value, ast.unparse(annotation))

    def test_optional_in_the_stub_exactly_when_empty_without_the_member(self, class_name):
        record = bare_records()[class_name]
        for name, annotation in stub_properties(class_name).items():
            value = getattr(record, name)
            assert conforms(value, annotation), (name, value, ast.unparse(annotation))
            assert allows_none(annotation) == (value is None), name


class TestFunctionAnnotations:
    @pytest.mark.parametrize("name, call", [
        ("get_secret_key", lambda: norvik_auth.get_secret_key("7000000001:AAH")),
        ("parse_webapp_data", lambda: norvik_auth.parse_webapp_data(FULL_QUERY)),
        ("validate_webapp_data", lambda: norvik_auth.validate_webapp_data(
            norvik_auth.parse_webapp_data(FULL_QUERY), bytes(32))),
    ], ids=["get_secret_key", "parse_webapp_data", "validate_webapp_data"])
    def test_result_has_the_annotated_type(self, name, call):
        assert conforms(call(), stub_function(name).returns)

    def test_all_lists_the_runtime_names_in_order(self):
        (assignment,) = [n for n in STUB.body if isinstance(n, ast.Assign)
                         and ast.unparse(n.targets[0]) == "__all__"]
        assert ast.literal_eval(assignment.value) == norvik_auth.__all__


class TestStubDocumentation:
    """IDEs show the stub's docstrings on hover: every name the stub declares has one."""

    def documented_nodes(self):
        for node in STUB.body:
            if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
                yield node.name, node
            if isinstance(node, ast.ClassDef):
                for member in node.body:
                    if isinstance(member, ast.FunctionDef):
                        yield f"{node.name}.{member.name}", member

    def test_every_class_attribute_and_function_has_a_docstring(self):
        runtime = set(norvik_auth.__all__) | {
            f"{class_name}.{name}"
            for class_name in ("WebAppUser", "WebAppChat", "WebAppInitData")
            for name, member in vars(getattr(norvik_auth, class_name)).items()
            if type(member).__name__ == "getset_descriptor"}
        assert {name for name, _ in self.documented_nodes()} == runtime
        for name, node in self.documented_nodes():
            docstring = ast.get_docstring(node)
            assert docstring and docstring.strip(), f"{name} has no docstring"
            assert docstring.splitlines()[0].rstrip().endswith("."), f"{name}: summary line"
