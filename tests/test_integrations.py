"""The Authorization header parsing and as_dict of norvik_auth_extras, for web apps."""

import json
import subprocess
import sys

import pytest

from norvik_auth import parse_webapp_data
from norvik_auth_extras import as_dict, sign_init_data
from norvik_auth_extras.http import init_data_from_authorization

pytestmark = pytest.mark.python_only

TOKEN = "7000000001:AAHintegration-test-token"
USER = {"id": 42, "first_name": "Ann", "last_name": "Berg"}
USER_DICT = {"id": 42, "is_bot": None, "first_name": "Ann", "last_name": "Berg", "username": None,
             "language_code": None, "is_premium": None, "added_to_attachment_menu": None,
             "allows_write_to_pm": None, "photo_url": None}


@pytest.mark.parametrize("value, expected", [
    (None, None), ("", None), ("InitData", None), ("InitData \t ", None),
    ("InitDataq=1", None), ("Bearer q=1", None), ("Init Data q=1", None),
    ("InitData q=1", "q=1"), (" \tINITDATA\t q=1 ", "q=1"), ("initdata  q=1&h=2", "q=1&h=2"),
])
def test_init_data_from_authorization(value, expected):
    assert init_data_from_authorization(value) == expected


def test_as_dict():
    chat = {"id": -5, "type": "group", "title": "Team"}
    record = parse_webapp_data(sign_init_data({"query_id": "q", "user": USER, "receiver": USER,
                                               "chat": chat, "auth_date": 7}, bot_token=TOKEN))
    data = as_dict(record)
    assert data == {"query_id": "q", "user": USER_DICT, "receiver": USER_DICT,
                    "chat": {**chat, "username": None, "photo_url": None}, "chat_type": None,
                    "chat_instance": None, "start_param": None, "can_send_after": None,
                    "auth_date": 7, "hash": record.hash}
    assert json.loads(json.dumps(data)) == data
    assert as_dict(record.chat) == data["chat"]
    with pytest.raises(TypeError, match="not dict"):
        as_dict(data)


def test_import_loads_no_framework():
    code = ("import sys, norvik_auth_extras, norvik_auth_extras.http; "
            "print(sorted({'fastapi', 'starlette', 'aiohttp', 'flask'} & set(sys.modules)))")
    ran = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert ran.stdout.strip() == "[]"
