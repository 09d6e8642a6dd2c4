"""A WebSocket server for the stream tests, run as a child process.

usage: python3 quote_server.py MESSAGES_JSON

MESSAGES_JSON is a JSON list of texts. The server listens on 127.0.0.1 on a
free port and prints "port N" once it is listening. For every connection it
prints the request path and the first message (the subscription) as JSON
lines {"path": ...} and {"subscription": ...}, sends the texts in order and
keeps the connection open until the client goes. It runs until killed.

It is a process of its own because a blocking call of the module holds the
interpreter lock while it waits: a server on a thread of the test's own
interpreter could not answer during a recv.
"""

import asyncio
import json
import sys

import websockets.server


def report(event):
    print(json.dumps(event), flush=True)


async def main(messages):
    async def handler(socket, path=None):
        report({"path": path if path is not None else socket.path})
        report({"subscription": await socket.recv()})
        for message in messages:
            await socket.send(message)
        try:
            await socket.wait_closed()
        except Exception:
            pass

    server = await websockets.server.serve(handler, "127.0.0.1", 0)
    print(f"port {server.sockets[0].getsockname()[1]}", flush=True)
    await asyncio.Future()


if __name__ == "__main__":
    asyncio.run(main(json.loads(sys.argv[1])))
