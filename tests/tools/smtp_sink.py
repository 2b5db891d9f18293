#!/usr/bin/env python3
"""A mail sink for tests: speaks enough SMTP to take messages and writes
each one, as received, to FOLDER/N.eml, after a first line saying how it
came ("X-Sink: tls=yes auth=USER").
   usage: smtp_sink.py PORT FOLDER [plain|starttls|tls CERT KEY]
With starttls it offers STARTTLS and a login (AUTH PLAIN and LOGIN, any
password) only once the connection is encrypted; with tls it speaks TLS
from the first byte."""
import base64
import os
import socketserver
import ssl
import sys

folder = sys.argv[2]
mode = sys.argv[3] if len(sys.argv) > 3 else "plain"
context = None
if mode != "plain":
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[4], sys.argv[5])


class Session(socketserver.BaseRequestHandler):
    def setup(self):
        self.tls = False
        self.user = "-"
        if mode == "tls":
            self.request = context.wrap_socket(self.request, server_side=True)
            self.tls = True
        self.reader = self.request.makefile("rb")

    def say(self, line):
        self.request.sendall((line + "\r\n").encode())

    def handle(self):
        self.say("220 sink ESMTP")
        while True:
            line = self.reader.readline()
            if not line:
                return
            text = line.decode("utf-8", "replace").strip()
            verb = text.upper()
            if verb.startswith("EHLO"):
                offers = ["sink", "8BITMIME"]
                if mode == "starttls" and not self.tls:
                    offers.append("STARTTLS")
                if self.tls:
                    offers.append("AUTH PLAIN LOGIN")
                self.request.sendall("".join("250%s%s\r\n" % ("-" if i < len(offers) - 1 else " ", o)
                                             for i, o in enumerate(offers)).encode())
            elif verb == "STARTTLS" and mode == "starttls" and not self.tls:
                self.say("220 go ahead")
                self.request = context.wrap_socket(self.request, server_side=True)
                self.reader = self.request.makefile("rb")
                self.tls = True
            elif verb.startswith("AUTH PLAIN") and self.tls:
                given = text.split(" ", 2)[2] if len(text.split(" ")) > 2 else None
                if given is None:
                    self.say("334 ")
                    given = self.reader.readline().decode().strip()
                self.user = base64.b64decode(given).split(b"\0")[1].decode()
                self.say("235 accepted")
            elif verb.startswith("AUTH LOGIN") and self.tls:
                self.say("334 VXNlcm5hbWU6")
                self.user = base64.b64decode(self.reader.readline().strip()).decode()
                self.say("334 UGFzc3dvcmQ6")
                self.reader.readline()
                self.say("235 accepted")
            elif verb.startswith("AUTH"):
                self.say("538 encryption required")
            elif verb.startswith(("HELO", "MAIL", "RCPT", "RSET", "NOOP")):
                self.say("250 ok")
            elif verb == "DATA":
                self.say("354 go on")
                data = b""
                while True:
                    part = self.reader.readline()
                    if not part or part == b".\r\n":
                        break
                    data += part[1:] if part.startswith(b"..") else part
                n = len([f for f in os.listdir(folder) if f.endswith(".eml")])
                path = os.path.join(folder, "%d.eml" % n)
                with open(path + ".part", "wb") as f:
                    f.write(("X-Sink: tls=%s auth=%s\r\n" % ("yes" if self.tls else "no", self.user)).encode() + data)
                os.rename(path + ".part", path)
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
