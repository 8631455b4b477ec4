"""Runs one job through libvarnel.so in a process of its own.

The library runs one job per process, so the package starts this script as a
child for every job. It uses the standard library only, so that it starts
fast. Usage: python3 _child.py LIBRARY MODE EVENT_FD, with the key/value pairs
as a JSON list on standard input. The library's log goes to this process's
standard output; progress events and the outcome are JSON lines on EVENT_FD.
"""

import ctypes
import json
import os
import sys

FIELD_SIZE = 256


def main() -> int:
    library, mode, event_fd = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    pairs = json.load(sys.stdin)
    events = os.fdopen(event_fd, "w", buffering=1)

    def send(record):
        events.write(json.dumps(record) + "\n")
        events.flush()

    lib = ctypes.CDLL(library)
    lib.varnel_run.restype = ctypes.c_int32
    lib.varnel_last_error.restype = ctypes.c_char_p
    callback_type = ctypes.CFUNCTYPE(None, ctypes.c_int32, ctypes.c_int32, ctypes.c_double)
    lib.varnel_run.argtypes = [ctypes.c_int32, ctypes.c_int32, ctypes.c_char_p, callback_type,
                               ctypes.POINTER(ctypes.c_int32)]

    fields = [text.encode() for pair in pairs for text in pair]
    block = ctypes.create_string_buffer(FIELD_SIZE * len(fields))
    for k, field in enumerate(fields):
        ctypes.memmove(ctypes.byref(block, k * FIELD_SIZE), field, len(field))

    @callback_type
    def on_progress(stage, iteration, rms):
        send({"stage": stage, "iteration": iteration, "rms": rms})

    final = ctypes.c_int32(-1)
    status = lib.varnel_run(mode, len(fields), block, on_progress, ctypes.byref(final))
    sys.stdout.flush()
    message = lib.varnel_last_error() or b""
    send({"status": status, "final_iteration": final.value,
          "error": message.decode(errors="replace")})
    return 0


if __name__ == "__main__":
    sys.exit(main())
