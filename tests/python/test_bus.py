"""The message bus through the bindings: a Python handler answering clients of the same
process, declined and oversized replies, and the status of a missing server."""
import ctypes
import os
import tempfile
import threading
import unittest

from kaldro_testing import kaldro, lib


class BusTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="kb", dir="/tmp")
        self.saved_home = os.environ.get("HOME")
        os.environ["HOME"] = self.home
        self.name = "py%d" % os.getpid()

    def tearDown(self):
        if self.saved_home is None:
            del os.environ["HOME"]
        else:
            os.environ["HOME"] = self.saved_home

    def test_request_reply_round_trip(self):
        seen = []

        def handler(req):
            seen.append(req)
            return req[::-1] + b"!"

        with kaldro.BusServer(self.name, handler) as server:
            self.assertEqual(server.path, "%s/.kaldro/bus-%s.sock" % (self.home, self.name))
            self.assertEqual(os.stat(server.path).st_mode & 0o777, 0o600)
            server.serve_in_background()
            for _ in range(2):
                with kaldro.BusClient(self.name) as client:
                    self.assertEqual(client.request(b"abc"), b"cba!")
                    self.assertEqual(client.request(b""), b"!")
                    big = bytes(range(256)) * 4000
                    self.assertEqual(client.request(big), big[::-1] + b"!")
                    self.assertEqual(client.request("é"), "é".encode()[::-1] + b"!")
        self.assertFalse(os.path.exists(os.path.join(self.home, ".kaldro",
                                                     "bus-%s.sock" % self.name)))
        self.assertEqual(seen[:2], [b"abc", b""])
        self.assertEqual(len(seen), 8)

    def test_declined_and_oversized_replies_end_the_connection(self):
        def handler(req):
            if req == b"none":
                return None
            if req == b"huge":
                return b"x" * (kaldro.bus.MAX_FRAME + 1)
            if req == b"boom":
                raise RuntimeError("handler failure")
            return b"ok:" + req

        with kaldro.BusServer(self.name, handler) as server:
            server.serve_in_background()
            for bad in (b"none", b"huge", b"boom"):
                with kaldro.BusClient(self.name) as client:
                    self.assertEqual(client.request(b"1"), b"ok:1")
                    with self.assertRaises(kaldro.KaldroIOError) as cm:
                        client.request(bad)
                    self.assertEqual(cm.exception.operation, "kaldro_bus_send_recv")
            with kaldro.BusClient(self.name) as client:
                with self.assertRaises(kaldro.KaldroCapacityError):
                    client.request(b"abcdef", max_reply=4)
            with kaldro.BusClient(self.name) as client:
                self.assertEqual(client.request(b"2"), b"ok:2")
        self.assertTrue(any(isinstance(e, RuntimeError) for e in server.errors))
        self.assertTrue(any(isinstance(e, ValueError) for e in server.errors))

    def test_reply_never_written_past_capacity(self):
        with kaldro.BusServer(self.name, lambda req: b"0123456789") as server:
            server.serve_in_background(connections=1)
            client = ctypes.c_void_p()
            self.assertEqual(lib().kaldro_bus_connect(self.name.encode(),
                                                      ctypes.byref(client)), 0)
            buf = (ctypes.c_uint8 * 16)(*([0xEE] * 16))
            got = ctypes.c_uint64(4)
            status = lib().kaldro_bus_send_recv(client, b"q", 1, buf, ctypes.byref(got))
            self.assertEqual(status, kaldro.ERR_CAPACITY)
            self.assertEqual(got.value, 4)
            self.assertEqual(list(buf[4:]), [0xEE] * 12)
            lib().kaldro_bus_client_close(client)

    def test_stop_from_handler_and_accept_on_caller_thread(self):
        def handler(req):
            server.request_stop()
            return b"bye"
        server = kaldro.BusServer(self.name, handler)
        try:
            replies = []

            def talk():
                with kaldro.BusClient(self.name) as c:
                    replies.append(c.request(b"hi"))
                    try:
                        c.request(b"again")
                    except kaldro.KaldroIOError as exc:
                        replies.append(exc.status)
            t = threading.Thread(target=talk)
            t.start()
            server.accept_one()
            t.join()
            self.assertEqual(replies, [b"bye", kaldro.ERR_IO])
        finally:
            server.close()

    def test_errors(self):
        with self.assertRaises(kaldro.KaldroIOError) as cm:
            kaldro.BusClient("nobody-listens")
        self.assertEqual(cm.exception.status, kaldro.ERR_IO)
        with kaldro.BusServer(self.name, bytes):
            with self.assertRaises(kaldro.KaldroIOError):
                kaldro.BusServer(self.name, bytes)  # a live server already answers
        with self.assertRaises(kaldro.KaldroCapacityError):
            kaldro.BusServer("n" * 120, bytes)
        os.environ["HOME"] = ""
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.BusServer(self.name, bytes)


if __name__ == "__main__":
    unittest.main()
