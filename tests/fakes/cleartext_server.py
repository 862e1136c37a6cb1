#!/usr/bin/python3
"""A server that asks every client for its password in clear text, and
records what the client sent, to prove that a client refuses to answer.

  usage: cleartext_server.py mysql|postgresql PORT_FILE RECORD_FILE

Listens on a free port of 127.0.0.1 and writes that port to PORT_FILE once it
accepts connections. Every byte that a client sends is appended to
RECORD_FILE: a password answered in clear is there as it was typed.
mysql: a handshake that names mysql_clear_password, then a switch to that
plugin, then "access denied". postgresql: no TLS, an
AuthenticationCleartextPassword request, then "password authentication
failed". Offers no TLS. Runs until it is killed.
"""
import os
import socket
import struct
import sys


class Client:
    def __init__(self, conn, record):
        self.conn, self.record = conn, record

    def read(self, n):
        data = b""
        while len(data) < n:
            chunk = self.conn.recv(n - len(data))
            if not chunk:
                raise EOFError
            self.record.write(chunk)
            self.record.flush()
            data += chunk
        return data


def mysql_packet(seq, payload):
    return struct.pack("<I", len(payload))[:3] + bytes([seq]) + payload


def serve_mysql(client, send):
    # Protocol 41, secure connection, plugin authentication; no TLS.
    caps = 0x0001 | 0x0002 | 0x0004 | 0x0008 | 0x0200 | 0x2000 | 0x8000 | 0x10000 | 0x20000 | 0x80000
    scramble = b"abcdefghijklmnopqrst"
    greeting = (b"\x0a" + b"8.0.99-fake\0" + struct.pack("<I", 7) + scramble[:8] + b"\0"
                + struct.pack("<H", caps & 0xFFFF) + b"\x2d" + struct.pack("<H", 2)
                + struct.pack("<H", caps >> 16) + bytes([21]) + b"\0" * 10 + scramble[8:] + b"\0"
                + b"mysql_clear_password\0")
    send(mysql_packet(0, greeting))
    length = struct.unpack("<I", client.read(3) + b"\0")[0]
    seq = client.read(1)[0]
    client.read(length)
    send(mysql_packet(seq + 1, b"\xfe" + b"mysql_clear_password\0"))
    length = struct.unpack("<I", client.read(3) + b"\0")[0]
    seq = client.read(1)[0]
    client.read(length)
    send(mysql_packet(seq + 1, b"\xff" + struct.pack("<H", 1045) + b"#28000" + b"Access denied"))


def serve_postgresql(client, send):
    while True:
        length = struct.unpack("!I", client.read(4))[0]
        code = struct.unpack("!I", client.read(4))[0]
        client.read(length - 8)
        if code in (80877103, 80877104):  # SSLRequest, GSSENCRequest: neither offered
            send(b"N")
        else:
            break
    send(b"R" + struct.pack("!II", 8, 3))  # AuthenticationCleartextPassword
    client.read(1)
    length = struct.unpack("!I", client.read(4))[0]
    client.read(length - 4)
    fields = b"SFATAL\0C28P01\0Mpassword authentication failed\0\0"
    send(b"E" + struct.pack("!I", len(fields) + 4) + fields)


def main():
    protocol, port_file, record_file = sys.argv[1:4]
    serve = {"mysql": serve_mysql, "postgresql": serve_postgresql}[protocol]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(port_file + ".new", "w") as out:
        out.write("%d\n" % listener.getsockname()[1])
    os.rename(port_file + ".new", port_file)
    with open(record_file, "ab") as record:
        while True:
            conn, _ = listener.accept()
            conn.settimeout(10)
            try:
                serve(Client(conn, record), conn.sendall)
            except (EOFError, OSError):
                pass
            finally:
                conn.close()


if __name__ == "__main__":
    main()
