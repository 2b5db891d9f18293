#!/usr/bin/env python3
"""A mail sink for tests: speaks enough SMTP to take messages and writes
each one, as received, to FOLDER/N.eml.   usage: smtp_sink.py PORT FOLDER"""
import os
import socketserver
import sys

folder = sys.argv[2]


class Session(socketserver.StreamRequestHandler):
    def say(self, line):
        self.wfile.write((line + "\r\n").encode())

    def handle(self):
        self.say("220 sink ESMTP")
        while True:
            line = self.rfile.readline()
            if not line:
                return
            verb = line.decode("utf-8", "replace").strip().upper()
            if verb.startswith("EHLO"):
                self.wfile.write(b"250-sink\r\n250 8BITMIME\r\n")
            elif verb.startswith("HELO") or verb.startswith("MAIL") or verb.startswith("RCPT") or verb == "RSET" or verb == "NOOP":
                self.say("250 ok")
            elif verb == "DATA":
                self.say("354 go on")
                data = b""
                while True:
                    part = self.rfile.readline()
                    if not part or part == b".\r\n":
                        break
                    data += part[1:] if part.startswith(b"..") else part
                n = len(os.listdir(folder))
                with open(os.path.join(folder, "%d.eml.part" % n), "wb") as f:
                    f.write(data)
                os.rename(os.path.join(folder, "%d.eml.part" % n), os.path.join(folder, "%d.eml" % n))
                self.say("250 queued")
            elif verb == "QUIT":
                self.say("221 bye")
                return
            else:
                self.say("502 not here")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


Server(("127.0.0.1", int(sys.argv[1])), Session).serve_forever()
