#!/usr/bin/env python3
"""A TLS peer for the tests: Python's own ssl module, one connection.

usage: tls_peer.py client PORT [--ca FILE] [--cert FILE --key FILE] [--send TEXT]
       tls_peer.py server PORT --cert FILE --key FILE [--send TEXT]

client: connects to 127.0.0.1:PORT (checking the server against --ca, or not at
all without it), sends TEXT once the handshake is done, and reads until the
server closes or 30 s pass. server: listens on 127.0.0.1:PORT, takes one client,
sends TEXT, and reads the same way. Prints "handshake ok VERSION" or
"handshake failed: WHY", then "got: BYTES" (repr) and, when the session ended with
an error, "error: WHY". Exit 0 after a handshake that was done, 1 otherwise."""
import argparse
import socket
import ssl
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("role", choices=["client", "server"])
    parser.add_argument("port", type=int)
    parser.add_argument("--ca")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--send", default="")
    args = parser.parse_args()

    if args.role == "client":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        if args.ca:
            context.load_verify_locations(args.ca)
        else:
            context.verify_mode = ssl.CERT_NONE
        if args.cert:
            context.load_cert_chain(args.cert, args.key)
        raw = socket.create_connection(("127.0.0.1", args.port), timeout=30)
        server_side = False
    else:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        listener = socket.create_server(("127.0.0.1", args.port))
        print("listening", flush=True)
        raw, _ = listener.accept()
        raw.settimeout(30)
        server_side = True

    try:
        tls = context.wrap_socket(raw, server_side=server_side)
    except (ssl.SSLError, OSError) as error:
        print(f"handshake failed: {error}", flush=True)
        return 1
    print(f"handshake ok {tls.version()}", flush=True)
    got = b""
    try:
        if args.send:
            tls.sendall(args.send.encode())
        while True:
            more = tls.recv(65536)
            if not more:
                break
            got += more
    except (ssl.SSLError, OSError) as error:
        print(f"got: {got!r}", flush=True)
        print(f"error: {error}", flush=True)
        return 0
    print(f"got: {got!r}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
