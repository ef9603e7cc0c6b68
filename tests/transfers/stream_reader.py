#!/usr/bin/env python3
"""A downloader on one file connection that reads as scripts and other
clients do: asyncio's StreamReader with its default buffers, 1 KiB at a
time at a steady pace. The library takes a few hundred KiB whenever its own
buffer runs low, then nothing until the reader has worked through them.

Prints "port N", takes one connection (opening frame, token; answers offset
0), reads SIZE bytes at RATE bytes a second, closes, prints "got N SHA1".

Usage: stream_reader.py RATE SIZE DEADLINE_SECONDS
"""

import asyncio
import hashlib
import struct
import sys
import time


async def serve(reader, writer, rate, size):
    length = struct.unpack("<I", await reader.readexactly(4))[0]
    await reader.readexactly(length + 4)  # the opening and the token
    writer.write(struct.pack("<q", 0))
    digest, got, start = hashlib.sha1(), 0, time.monotonic()
    while got < size:
        data = await reader.read(min(1024, size - got))
        if not data:
            return "closed early after %d bytes" % got
        digest.update(data)
        got += len(data)
        await asyncio.sleep(max(0, start + got / rate - time.monotonic()))
    writer.close()
    return "got %d %s" % (got, digest.hexdigest())


async def main(rate, size, deadline):
    done = asyncio.get_running_loop().create_future()

    async def accepted(reader, writer):
        if not done.done():
            try:
                done.set_result(await serve(reader, writer, rate, size))
            except (asyncio.IncompleteReadError, ConnectionError) as error:
                done.set_result("failed: %r" % error)

    server = await asyncio.start_server(accepted, "127.0.0.1", 0)
    print("port %d" % server.sockets[0].getsockname()[1], flush=True)
    try:
        result = await asyncio.wait_for(done, deadline)
    except asyncio.TimeoutError:
        result = "timed out"
    print(result, flush=True)
    return 0 if result.startswith("got ") else 1


if __name__ == "__main__":
    sys.exit(asyncio.run(main(*(int(a) for a in sys.argv[1:4]))))
