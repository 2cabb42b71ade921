#!/usr/bin/env python3
"""An XML-RPC server with flrig's method names, for what the real flrig cannot
show without a radio. Prints its port, then serves until killed.

  fake_flrig.py MODE    MODE: tx, int_vfo, text_ptt, ptt_2, fault, huge, close, hang,
                        or rig: rig.set_vfo and rig.set_ptt change what the getters answer
"""
import socketserver
import sys
import threading
import xmlrpc.client
from xmlrpc.server import SimpleXMLRPCRequestHandler, SimpleXMLRPCServer

MODE = sys.argv[1]
RIG = {"vfo": "7100000", "ptt": 0}


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
    return RIG["vfo"]


def get_ptt():
    return {"tx": 1, "text_ptt": "0", "ptt_2": 2}.get(MODE, RIG["ptt"])


def set_vfo(hertz):
    RIG["vfo"] = str(int(hertz))
    return 0


def set_ptt(on):
    RIG["ptt"] = int(on)
    return 0


class Server(socketserver.ThreadingMixIn, SimpleXMLRPCServer):
    """A thread per connection: the client under test keeps its connection open."""
    daemon_threads = True


server = Server(("127.0.0.1", 0), requestHandler=Handler, logRequests=False)
server.register_function(get_vfo, "rig.get_vfo")
server.register_function(get_ptt, "rig.get_ptt")
if MODE == "rig":
    server.register_function(set_vfo, "rig.set_vfo")
    server.register_function(set_ptt, "rig.set_ptt")
print(server.server_address[1], flush=True)
server.serve_forever()
