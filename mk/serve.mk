# The example web apps (examples/webapp_server.py, fastapi_app.py, aiohttp_app.py and
# flask_app.py) on loopback, called as a client would call them.
#   make serve-demo    starts each on a free 127.0.0.1 port with a generated bot token, sends a
#                      genuine and eight bad requests, prints the answers as a table, stops it
.PHONY: serve-demo

serve-demo: $(INSTALLED) $(call extras_stamp,examples)
	$(VENV_PYTHON) examples/serve_demo.py
