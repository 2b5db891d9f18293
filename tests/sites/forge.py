#!/usr/bin/python3
# Requests as a hub would sign them, or as an attacker on the broker would
# make them: unsigned, signed by another key, older than a site takes, and
# the same one twice. Prints one message per line for mosquitto_pub.
#   forge.py HUB_SECRET_KEY_FILE SITE
import base64, json, os, sys, time
import nacl.signing

def signed(key, site, nonce, age_s=0, name="Forged"):
    text = json.dumps({"id": nonce[:16], "site": site, "time": int((time.time() - age_s) * 1000), "nonce": nonce,
                       "method": "POST", "path": "/api/playlists", "query": "", "body": json.dumps({"name": name})},
                      separators=(",", ":"))
    signature = key.sign(text.encode()).signature
    return json.dumps({"signed": text, "signature": base64.b64encode(signature).decode()})

hub = nacl.signing.SigningKey(base64.b64decode(open(sys.argv[1]).read().strip())[:32])
other = nacl.signing.SigningKey.generate()
site = sys.argv[2]
nonce = lambda: os.urandom(16).hex()
unsigned = json.loads(signed(hub, site, nonce(), name="Unsigned"))
del unsigned["signature"]
print("unsigned", json.dumps(unsigned))
print("other-key", signed(other, site, nonce(), name="OtherKey"))
print("stale", signed(hub, site, nonce(), age_s=2 * 3600, name="Stale"))
once = signed(hub, site, nonce(), name="Once")
print("first", once)
print("replayed", once)
