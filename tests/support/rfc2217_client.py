#!/usr/bin/env python3
"""A remote serial program for the tests: pyserial's RFC 2217 client.

usage: rfc2217_client.py PORT PAYLOAD_FILE

Opens rfc2217://127.0.0.1:PORT at 9600 baud, 8 data bits, no parity, 2 stop bits and
RTS/CTS, changes DTR and RTS and purges both buffers (pyserial waits for the server's
answer to each and raises when it does not come or differs), then sends the payload
and expects the same bytes back: the test's application echoes them. Exit 0 when all
of it held; the reason on standard error otherwise."""
import sys

import serial


def main():
    port, path = int(sys.argv[1]), sys.argv[2]
    with open(path, "rb") as f:
        payload = f.read()
    line = serial.serial_for_url(f"rfc2217://127.0.0.1:{port}", baudrate=9600, bytesize=8, parity="N",
                                 stopbits=2, rtscts=True, timeout=20)
    line.dtr = False
    line.dtr = True
    line.rts = True
    line.reset_input_buffer()
    line.reset_output_buffer()
    line.write(payload)
    line.flush()
    back = line.read(len(payload))
    line.close()
    if back != payload:
        at = next((i for i, (a, b) in enumerate(zip(back, payload)) if a != b), min(len(back), len(payload)))
        print(f"came back {len(back)} of {len(payload)} bytes, first difference at {at}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
