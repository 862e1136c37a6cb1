#!/usr/bin/env python3
"""The quick-start test's way out for apt: an HTTP proxy that listens on
127.0.0.1:PORT of the network namespace it is started in (the test root's,
which has only loopback) and makes its connections from the namespace given
as the first argument (the machine's own). Every connection from apt is
passed on as it is, in both directions, to the host that its first request
names: apt sends a proxy the whole address (GET http://HOST/...), and keeps
one connection per host.
  usage: proxy.py OUTSIDE_NETNS_PATH PORT
"""
import ctypes
import os
import socket
import sys
import threading

CLONE_NEWNET = 0x40000000


def pump(source, sink):
    try:
        while data := source.recv(65536):
            sink.sendall(data)
    except OSError:
        pass
    for sock, how in ((sink, socket.SHUT_WR), (source, socket.SHUT_RD)):
        try:
            sock.shutdown(how)
        except OSError:
            pass


def serve(client):
    head = b""
    while b"\r\n" not in head:
        data = client.recv(4096)
        if not data:
            client.close()
            return
        head += data
    # "GET http://deb.debian.org/debian/... HTTP/1.1"
    address = head.split(b" ", 2)[1].decode()
    hostport = address.split("://", 1)[1].split("/", 1)[0]
    host, _, port = hostport.partition(":")
    try:
        server = socket.create_connection((host, int(port or 80)), timeout=60)
    except OSError as error:
        client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
        client.close()
        print(f"proxy.py: {hostport}: {error}", file=sys.stderr)
        return
    server.settimeout(None)
    server.sendall(head)
    threading.Thread(target=pump, args=(server, client), daemon=True).start()
    pump(client, server)


def main():
    outside, port = sys.argv[1], int(sys.argv[2])
    listener = socket.create_server(("127.0.0.1", port))
    # From here on this thread's new sockets belong to the machine's own
    # network; the listener stays in the namespace it was made in.
    if ctypes.CDLL(None, use_errno=True).setns(os.open(outside, os.O_RDONLY), CLONE_NEWNET) != 0:
        raise OSError(ctypes.get_errno(), "setns")
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


main()
