#!/usr/bin/env python3
"""A webhook receiver for tests: checks each POST's X-Tavri-Signature with
the secret in FOLDER/secret (when there) and writes FOLDER/N.json with the
event, the body and whether the signature held. The first FAIL requests
are answered 500, the rest 200.   usage: webhook_receiver.py PORT FOLDER [FAIL]"""
import hashlib
import hmac
import http.server
import json
import os
import sys

folder = sys.argv[2]
failures = [int(sys.argv[3]) if len(sys.argv) > 3 else 0]


class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        secret_file = os.path.join(folder, "secret")
        secret = open(secret_file).read().strip() if os.path.exists(secret_file) else ""
        expected = "sha256=" + hmac.new(secret.encode(), body, hashlib.sha256).hexdigest()
        record = {"event": self.headers.get("X-Tavri-Event"),
                  "signed": hmac.compare_digest(expected, self.headers.get("X-Tavri-Signature", "")),
                  "body": json.loads(body)}
        status = 500 if failures[0] > 0 else 200
        failures[0] -= 1
        n = len([f for f in os.listdir(folder) if f.endswith(".json")])
        with open(os.path.join(folder, "%d.json.part" % n), "w") as f:
            json.dump(dict(record, answered=status), f)
        os.rename(os.path.join(folder, "%d.json.part" % n), os.path.join(folder, "%d.json" % n))
        self.send_response(status)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Hook).serve_forever()
