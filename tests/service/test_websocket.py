"""WebSocket sessions on both ports with a real client (python3-websockets)."""
import asyncio
import ssl

import pytest
import websockets

from conftest import HTTP_PORT, HTTPS_PORT


def run(coroutine):
    return asyncio.run(asyncio.wait_for(coroutine, 30))


def endpoint(service, tls):
    if tls:
        context = ssl.create_default_context(cafile=str(service.folder / "server.crt"))
        return f"wss://127.0.0.1:{HTTPS_PORT}/", context
    return f"ws://127.0.0.1:{HTTP_PORT}/", None


@pytest.mark.parametrize("tls", [False, True])
def test_text_messages_are_echoed(service, tls):
    url, context = endpoint(service, tls)

    async def talk():
        async with websockets.connect(url, ssl=context, max_size=None) as ws:
            answers = []
            for text in ["hello", "", "xin chào", "x" * 70000]:
                await ws.send(text)
                answers.append(await ws.recv())
            # A message in fragments comes back whole.
            await ws.send(iter(["frag", "men", "ted"]))
            answers.append(await ws.recv())
            pong = await ws.ping(b"p")
            await pong
            return answers

    assert run(talk()) == ["Response: hello", "Response: ", "Response: xin chào",
                           "Response: " + "x" * 70000, "Response: fragmented"]


def test_close_handshake_and_service_goes_on(service):
    url, _ = endpoint(service, False)

    async def talk():
        ws = await websockets.connect(url)
        await ws.send("bye")
        assert await ws.recv() == "Response: bye"
        await ws.close()
        return ws.close_code

    assert run(talk()) == 1000
    assert service.call("/echo", {"value": "after"}) == b"after"


def test_unmasked_frame_closes_the_session(service):
    import socket
    with socket.create_connection(("127.0.0.1", HTTP_PORT), timeout=10) as s:
        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
        head = b""
        while b"\r\n\r\n" not in head:
            head += s.recv(1)
        assert b"101 Switching Protocols" in head
        assert b"Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=" in head
        s.sendall(b"\x81\x02hi")  # a client frame without mask
        data = b""
        while True:
            chunk = s.recv(100)
            if not chunk:
                break
            data += chunk
        assert data == b"\x88\x02\x03\xea"  # close, 1002 protocol error
