"""Keep-alive request sequences against a status port, with the HTTP clients people use.

    keep_alive_clients.py PORT

Each client asks for the dynamic documents one after the other on one connection and checks
every response against its own framing rules. Prints "ok" when all of them got through.

The server ends a connection that stays quiet for 15 ms between requests; on a loaded machine
a client may pause that long. A connection the server closed before any byte of a response
came is therefore tried again; any other failure is one.
"""
import http.client
import socket
import sys

import h11

PORT = int(sys.argv[1])
PATHS = ["/json/status.json", "/", "/json/servers.json", "/json/status.json"]
ATTEMPTS = 5


class ClosedBeforeResponse(Exception):
    pass


def check(path, status, length, body):
    assert status == 200, (path, status)
    assert length == len(body), (path, length, len(body))
    assert body.endswith(b"\r\n"), (path, body[-10:])
    end = b"</body></html>\r\n" if path == "/" else b"]\n}\r\n"
    assert body.endswith(end), (path, body[-20:])


def with_http_client():
    connection = http.client.HTTPConnection("127.0.0.1", PORT, timeout=10)
    try:
        for path in PATHS:
            try:
                connection.request("GET", path)
                response = connection.getresponse()
            except (http.client.RemoteDisconnected, ConnectionResetError, BrokenPipeError):
                raise ClosedBeforeResponse()
            body = response.read()
            check(path, response.status, int(response.getheader("Content-Length")), body)
    finally:
        connection.close()


def with_h11():
    sock = socket.create_connection(("127.0.0.1", PORT), timeout=10)
    connection = h11.Connection(h11.CLIENT)
    try:
        for path in PATHS:
            request = h11.Request(method="GET", target=path, headers=[("Host", "status")])
            try:
                sock.sendall(connection.send(request) + connection.send(h11.EndOfMessage()))
            except (ConnectionResetError, BrokenPipeError):
                raise ClosedBeforeResponse()
            received = 0
            status, length, body = None, None, b""
            while True:
                event = connection.next_event()
                if event is h11.NEED_DATA:
                    try:
                        data = sock.recv(65536)
                    except ConnectionResetError:
                        data = b""
                    if not data and received == 0:
                        raise ClosedBeforeResponse()
                    received += len(data)
                    connection.receive_data(data)
                elif isinstance(event, h11.Response):
                    status = event.status_code
                    length = int(dict(event.headers)[b"content-length"])
                elif isinstance(event, h11.Data):
                    body += event.data
                elif isinstance(event, h11.EndOfMessage):
                    break
                else:
                    raise AssertionError((path, event))
            check(path, status, length, body)
            connection.start_next_cycle()
    finally:
        sock.close()


for client in (with_http_client, with_h11):
    for attempt in range(ATTEMPTS):
        try:
            client()
            break
        except ClosedBeforeResponse:
            continue
    else:
        sys.exit(client.__name__ + ": the server closed every connection before answering")
print("ok", end="")
