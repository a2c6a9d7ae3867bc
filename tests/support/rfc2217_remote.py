#!/usr/bin/env python3
"""A remote serial program that the test drives: pyserial's RFC 2217 client, one
command a line on standard input, one answer a line on standard output.

usage: rfc2217_remote.py PORT

  open BAUD BYTESIZE PARITY STOPBITS RTSCTS  opens rfc2217://127.0.0.1:PORT (modem lines polled)
  baud N | bytesize N                         changes the line on the fly
  modem                                       "CTS DSR RI CD" as 0/1, e.g. "1 1 0 1"
  reset_input | reset_output                  purges one buffer
  send N SEED | recv N SEED                   N bytes of the test's pattern (every byte value)
Every answer is "ok", a value, or "error: why"."""
import sys

import serial


def pattern(count, seed):
    return bytes((i * 7 + seed) & 0xFF for i in range(count))


def main():
    port = int(sys.argv[1])
    line = None
    for request in sys.stdin:
        words = request.split()
        if not words:
            continue
        try:
            verb = words[0]
            if verb == "open":
                baud, size, parity, stop, rtscts = words[1:6]
                line = serial.serial_for_url(f"rfc2217://127.0.0.1:{port}?poll_modem", baudrate=int(baud),
                                             bytesize=int(size), parity=parity, stopbits=int(stop),
                                             rtscts=rtscts == "1", timeout=30)
                answer = "ok"
            elif verb == "baud":
                line.baudrate = int(words[1])
                answer = "ok"
            elif verb == "bytesize":
                line.bytesize = int(words[1])
                answer = "ok"
            elif verb == "modem":
                answer = " ".join(str(int(v)) for v in (line.cts, line.dsr, line.ri, line.cd))
            elif verb == "reset_input":
                line.reset_input_buffer()
                answer = "ok"
            elif verb == "reset_output":
                line.reset_output_buffer()
                answer = "ok"
            elif verb == "send":
                line.write(pattern(int(words[1]), int(words[2])))
                line.flush()
                answer = "ok"
            elif verb == "recv":
                want = pattern(int(words[1]), int(words[2]))
                got = line.read(len(want))
                answer = "ok" if got == want else f"error: {len(got)} of {len(want)} bytes, or other bytes"
            else:
                answer = f"error: unknown command {verb}"
        except Exception as failure:  # the test reads the reason
            answer = f"error: {failure}"
        print(answer, flush=True)
    if line:
        line.close()


if __name__ == "__main__":
    main()
