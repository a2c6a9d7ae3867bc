#!/usr/bin/env python3
"""A device server for the tests: pyserial's RFC 2217 server side (PortManager) for one
client, serving a pseudo-terminal as its serial port.

usage: rfc2217_server.py PORT PTY_PATH

Listens on 127.0.0.1:PORT, takes one connection and serves it until it closes. The
settings the client sets go to the pseudo-terminal (tcsetattr), where the test reads
them; data crosses both ways."""
import socket
import sys
import threading

import serial
import serial.rfc2217


class PtyLine(serial.Serial):
    """A pseudo-terminal has no modem lines: their ioctls fail, so they are left alone."""

    def _update_dtr_state(self):
        pass

    def _update_rts_state(self):
        pass

    def _update_break_state(self):
        pass

    cts = dsr = ri = cd = property(lambda self: False)


class Wire:
    """The connection, written by both threads."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            self.sock.sendall(data)


def main():
    port, path = int(sys.argv[1]), sys.argv[2]
    line = PtyLine(path, timeout=0.05)
    server = socket.create_server(("127.0.0.1", port))
    conn, _ = server.accept()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    wire = Wire(conn)
    manager = serial.rfc2217.PortManager(line, wire)
    done = threading.Event()

    def line_to_net():
        while not done.is_set():
            data = line.read(4096)
            if data:
                wire.write(b"".join(manager.escape(data)))

    reader = threading.Thread(target=line_to_net, daemon=True)
    reader.start()
    while True:
        data = conn.recv(4096)
        if not data:
            break
        line.write(b"".join(manager.filter(data)))
    done.set()
    reader.join()
    return 0


if __name__ == "__main__":
    sys.exit(main())
