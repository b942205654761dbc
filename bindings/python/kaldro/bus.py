"""The local message bus: a context-managed BusServer answering requests through a
Python handler, and a BusClient exchanging one request for one reply at a time.
"""
import ctypes
import threading

from . import _lib
from ._lib import check, declare, lib, as_bytes, as_path

c_i32 = ctypes.c_int32
c_u64 = ctypes.c_uint64
c_void_p = ctypes.c_void_p
u8p = _lib.u8p

MAX_FRAME = 1048576

_HANDLER = ctypes.CFUNCTYPE(c_i32, u8p, c_u64, u8p, ctypes.POINTER(c_u64), c_void_p)


class _StreamServer(ctypes.Structure):
    _fields_ = [("path", ctypes.c_char * 512), ("fd", c_i32), ("reserved", ctypes.c_uint8 * 12)]


class _Server(ctypes.Structure):
    _fields_ = [("stream", _StreamServer), ("stop", ctypes.c_uint32), ("handler", c_void_p),
                ("context", c_void_p), ("request", c_void_p), ("reply", c_void_p),
                ("reply_capacity", c_u64)]


_ServerP = ctypes.POINTER(_Server)

declare("kaldro_plat_has_streams", ctypes.c_int)
declare("kaldro_bus_serve", c_i32, ctypes.c_char_p, _HANDLER, c_void_p, ctypes.POINTER(_ServerP))
declare("kaldro_bus_server_accept_one", c_i32, _ServerP)
declare("kaldro_bus_server_stop", c_i32, _ServerP)
declare("kaldro_bus_connect", c_i32, ctypes.c_char_p, ctypes.POINTER(c_void_p))
declare("kaldro_bus_send_recv", c_i32, c_void_p, c_void_p, c_u64, c_void_p,
        ctypes.POINTER(c_u64))
declare("kaldro_bus_client_close", c_i32, c_void_p)


class BusServer:
    """A bus server listening on the socket of `name` under $HOME/.kaldro.

    `handler(request)` receives each request as bytes and returns the reply (any
    bytes-like object of at most 1 MiB, or str), or None to end the connection without
    a reply. An exception in the handler also ends the connection; it is kept in
    `errors`. Serve connections on the calling thread with accept_one(), or in the
    background with serve_in_background(). Leaving the `with` block (or close())
    stops the background thread and releases the server.
    """

    def __init__(self, name, handler):
        """Listen on the bus `name` with the Python callable `handler`."""
        self.name = name
        self._handler = handler
        self.errors = []
        self._thread = None
        self._closing = False
        self._callback = _HANDLER(self._on_request)
        self._server = _ServerP()
        check(lib().kaldro_bus_serve(as_path(name), self._callback, None,
                                     ctypes.byref(self._server)), "kaldro_bus_serve")

    @property
    def path(self):
        """The socket path the server listens on."""
        self._require()
        return self._server.contents.stream.path.decode()

    def _require(self):
        if not self._server:
            raise _lib.error_for(_lib.ERR_NULL, "BusServer", "the server has been closed")

    def _on_request(self, request, request_len, reply, reply_len, context):
        try:
            data = ctypes.string_at(request, request_len) if request_len else b""
            answer = self._handler(data)
            if answer is None:
                return _lib.ERR_INVALID
            out = as_bytes(answer, "reply")
            if len(out) > reply_len[0]:
                self.errors.append(ValueError("reply of %d bytes exceeds the %d-byte frame"
                                              % (len(out), reply_len[0])))
                return _lib.ERR_CAPACITY
            if out:
                ctypes.memmove(reply, out, len(out))
            reply_len[0] = len(out)
            return _lib.OK
        except BaseException as exc:  # never let an exception cross into C
            self.errors.append(exc)
            return _lib.ERR_INVALID

    def request_stop(self):
        """Ask the server to end the connection being served after the current reply
        (callable from the handler)."""
        self._require()
        self._server.contents.stop = 1

    def accept_one(self):
        """Wait for one connection and serve it until the peer closes it (or the
        handler declines, or request_stop() is called)."""
        self._require()
        self._server.contents.stop = 0
        check(lib().kaldro_bus_server_accept_one(self._server), "kaldro_bus_server_accept_one")

    def serve_in_background(self, connections=None):
        """Serve connections on a daemon thread, `connections` of them (None: until
        close()). Returns the thread."""
        self._require()
        if self._thread is not None and self._thread.is_alive():
            raise RuntimeError("the server is already serving in the background")

        def loop():
            served = 0
            while not self._closing and (connections is None or served < connections):
                try:
                    self.accept_one()
                except _lib.KaldroError as exc:
                    self.errors.append(exc)
                    return
                served += 1

        self._thread = threading.Thread(target=loop, name="kaldro-bus-" + str(self.name),
                                        daemon=True)
        self._thread.start()
        return self._thread

    def close(self):
        """Stop serving, remove the socket file and release the server."""
        if not self._server:
            return
        self._closing = True
        thread = self._thread
        if thread is not None and thread.is_alive():
            # A blocked accept is woken by one empty connection.
            try:
                BusClient(self.name).close()
            except _lib.KaldroError:
                pass
            thread.join()
        lib().kaldro_bus_server_stop(self._server)
        self._server = _ServerP()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            if self._server and (self._thread is None or not self._thread.is_alive()):
                lib().kaldro_bus_server_stop(self._server)
                self._server = _ServerP()
        except Exception:
            pass


class BusClient:
    """A connection to the bus `name`; request() sends one frame and returns the reply.
    Use it in a `with` block or call close()."""

    def __init__(self, name):
        """Connect to the bus `name`; raises KaldroIOError when no server answers."""
        self._client = c_void_p()
        check(lib().kaldro_bus_connect(as_path(name), ctypes.byref(self._client)),
              "kaldro_bus_connect")

    def request(self, data, max_reply=MAX_FRAME):
        """Send `data` (bytes-like or str) and return the reply as bytes. A reply longer
        than `max_reply` raises KaldroCapacityError and leaves the connection unusable
        (it is closed)."""
        if not self._client:
            raise _lib.error_for(_lib.ERR_NULL, "BusClient.request", "the client is closed")
        raw = as_bytes(data, "request")
        cap = int(max_reply)
        buf = ctypes.create_string_buffer(max(cap, 1))
        got = c_u64(cap)
        status = lib().kaldro_bus_send_recv(self._client, raw, len(raw), buf, ctypes.byref(got))
        if status == _lib.ERR_CAPACITY and len(raw) <= 0xFFFFFFFF:
            self.close()  # the rest of the reply is still in the stream
        check(status, "kaldro_bus_send_recv")
        return buf.raw[:got.value]

    def close(self):
        """Close the connection and release the client."""
        if self._client:
            lib().kaldro_bus_client_close(self._client)
            self._client = c_void_p()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass
