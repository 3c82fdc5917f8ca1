# The example web app (examples/webapp_server.py) on loopback, called as a client would call it.
#   make serve-demo    starts it on a free 127.0.0.1 port with a generated bot token, sends a
#                      genuine, a tampered and a stale init data, prints the answers, stops it
.PHONY: serve-demo

serve-demo: $(INSTALLED) $(call extras_stamp,examples)
	$(VENV_PYTHON) examples/serve_demo.py
