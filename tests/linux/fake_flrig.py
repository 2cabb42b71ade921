#!/usr/bin/env python3
"""An XML-RPC server with flrig's method names, for what the real flrig cannot
show without a radio. Prints its port, then serves until killed.

  fake_flrig.py MODE    MODE: tx, int_vfo, text_ptt, ptt_2, fault, huge, close, hang
"""
import sys
import threading
import xmlrpc.client
from xmlrpc.server import SimpleXMLRPCRequestHandler, SimpleXMLRPCServer

MODE = sys.argv[1]


class Handler(SimpleXMLRPCRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, as flrig's server does

    def do_POST(self):
        if MODE == "close":
            self.close_connection = True
            return
        if MODE == "hang":
            threading.Event().wait()
        super().do_POST()

    def log_message(self, *args):
        pass


def get_vfo():
    if MODE == "fault":
        raise xmlrpc.client.Fault(-1, "rig.get_vfo: no rig")
    if MODE == "int_vfo":
        return 7100000
    if MODE == "huge":
        return "1" * 20000
    return "7100000"


def get_ptt():
    return {"tx": 1, "text_ptt": "0", "ptt_2": 2}.get(MODE, 0)


server = SimpleXMLRPCServer(("127.0.0.1", 0), requestHandler=Handler, logRequests=False)
server.register_function(get_vfo, "rig.get_vfo")
server.register_function(get_ptt, "rig.get_ptt")
print(server.server_address[1], flush=True)
server.serve_forever()
