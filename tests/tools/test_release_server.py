"""The release server's ranges, validators and faults, as a client sees them."""

import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "..", "tools", "release-server", "release_server.py")
MIB = 1048576


class ReleaseServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.TemporaryDirectory()
        cls.small = bytes(range(100))
        cls.big = os.urandom(3 * MIB)
        with open(os.path.join(cls.root.name, "small.bin"), "wb") as out:
            out.write(cls.small)
        with open(os.path.join(cls.root.name, "big.bin"), "wb") as out:
            out.write(cls.big)
        port_file = os.path.join(cls.root.name, "..port-" + str(os.getpid()))
        cls.process = subprocess.Popen([sys.executable, SERVER, cls.root.name, "--port-file",
                                        port_file], stdout=subprocess.DEVNULL)
        for _ in range(500):
            if os.path.exists(port_file):
                break
            time.sleep(0.01)
        with open(port_file) as source:
            cls.port = int(source.read())
        os.remove(port_file)

    @classmethod
    def tearDownClass(cls):
        cls.process.terminate()
        cls.process.wait()
        cls.root.cleanup()

    def get(self, path, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        try:
            body = response.read()
        except http.client.IncompleteRead as partial:
            body = partial.partial
        connection.close()
        return response, body

    def test_ranges_and_validators(self):
        response, body = self.get("/small.bin")
        self.assertEqual((response.status, body), (200, self.small))
        etag = response.getheader("ETag")
        response, body = self.get("/small.bin", {"Range": "bytes=60-"})
        self.assertEqual(response.status, 206)
        self.assertEqual(response.getheader("Content-Range"), "bytes 60-99/100")
        self.assertEqual(body, self.small[60:])
        response, body = self.get("/small.bin", {"Range": "bytes=60-", "If-Range": etag})
        self.assertEqual((response.status, body), (206, self.small[60:]))
        response, body = self.get("/small.bin", {"Range": "bytes=60-", "If-Range": '"old"'})
        self.assertEqual((response.status, body), (200, self.small))
        response, _ = self.get("/small.bin", {"Range": "bytes=200-"})
        self.assertEqual(response.status, 416)
        self.assertEqual(self.get("/missing.bin")[0].status, 404)
        self.assertEqual(self.get("/../../etc/passwd")[0].status, 404)

    def test_faults(self):
        response, body = self.get("/f/drop=60/small.bin")
        self.assertEqual((response.status, body), (200, self.small[:60]))
        self.assertEqual(self.get("/f/drop=60/small.bin")[1], self.small)  # first request only
        response, _ = self.get("/f/badrange/small.bin", {"Range": "bytes=10-"})
        self.assertEqual(response.getheader("Content-Range"), "bytes 11-99/100")
        first = self.get("/f/etagchange/small.bin")[0].getheader("ETag")
        self.assertNotEqual(first, self.get("/f/etagchange/small.bin")[0].getheader("ETag"))
        self.assertEqual(self.get("/f/status=500/small.bin")[0].status, 500)
        response, _ = self.get("/f/hops=2/small.bin")
        self.assertEqual((response.status, response.getheader("Location")), (302, "/f/hops=1/small.bin"))
        self.assertEqual(self.get("/f/hops=0/small.bin")[1], self.small)
        response, body = self.get("/f/range200/small.bin", {"Range": "bytes=10-"})
        self.assertEqual((response.status, body), (200, self.small))
        response, body = self.get("/f/corrupt=1/big.bin")
        self.assertEqual(len(body), len(self.big))
        self.assertNotEqual(body[MIB], self.big[MIB])
        self.assertEqual(body[:MIB] + body[MIB + 1:], self.big[:MIB] + self.big[MIB + 1:])

    def test_longer_body_than_announced(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            raw.sendall(b"GET /f/long=7/small.bin HTTP/1.1\r\nHost: x\r\n\r\n")
            data = b""
            while True:
                piece = raw.recv(65536)
                if not piece:
                    break
                data += piece
        header, _, body = data.partition(b"\r\n\r\n")
        self.assertNotIn(b"Content-Length", header)
        self.assertEqual(len(body), 107)

    def test_stats_count_body_bytes(self):
        self.get("/stats/reset")
        self.get("/small.bin", {"Range": "bytes=90-"})
        _, body = self.get("/stats")
        stats = json.loads(body)
        self.assertEqual(stats["sent"], {"/small.bin": 10})
        self.assertEqual(stats["requests"][0]["range"], "bytes=90-")


if __name__ == "__main__":
    unittest.main()
