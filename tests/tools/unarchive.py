#!/usr/bin/env python3
"""Decodes a keyed archive with plistlib into the fixtures' JSON conventions.

An independent reader for our writer's output: it checks the documented
layout strictly and fails loudly on anything else.
"""
import base64
import json
import plistlib
import sys

CLASSES = {
    "NSMutableDictionary": ["NSMutableDictionary", "NSDictionary", "NSObject"],
    "NSMutableArray": ["NSMutableArray", "NSArray", "NSObject"],
    "NSDate": ["NSDate", "NSObject"],
    "NSURL": ["NSURL", "NSObject"],
    "PNGImage": ["PNGImage", "NSObject"],
    "MapIcon": ["MapIcon", "NSObject"],
}


def unarchive(data):
    root = plistlib.loads(data)
    assert set(root) == {"$archiver", "$version", "$top", "$objects"}, root.keys()
    assert root["$archiver"] == "NSKeyedArchiver"
    assert root["$version"] == 100000 and type(root["$version"]) is int
    objects = root["$objects"]
    assert objects[0] == "$null"

    def cls(o):
        c = objects[o["$class"].data]
        assert CLASSES[c["$classname"]] == c["$classes"], c
        return c["$classname"]

    def ref(u):
        assert isinstance(u, plistlib.UID), u
        return obj(objects[u.data]) if u.data else None

    def obj(o):
        if isinstance(o, bool):
            return o
        if isinstance(o, int):
            return o
        if isinstance(o, float):
            return {"$real": o}
        if isinstance(o, str):
            return o
        if isinstance(o, bytes):
            try:
                return {"$archive": unarchive(o)["root"]}
            except Exception:
                return {"$data": base64.b64encode(o).decode()}
        name = cls(o)
        if name == "NSMutableDictionary":
            assert set(o) == {"NS.keys", "NS.objects", "$class"}
            keys = [ref(k) for k in o["NS.keys"]]
            assert all(isinstance(k, str) for k in keys)
            return dict(zip(keys, [ref(v) for v in o["NS.objects"]], strict=True))
        if name == "NSMutableArray":
            return [ref(v) for v in o["NS.objects"]]
        if name == "NSDate":
            assert isinstance(o["NS.time"], float)
            return {"$date": o["NS.time"]}
        if name == "NSURL":
            assert o["NS.base"].data == 0
            return {"$url": ref(o["NS.relative"])}
        if name == "PNGImage":
            png = objects[o["png"].data]
            assert png.startswith(b"\x89PNG"), "image is not PNG"
            return {"$png": len(png)}
        if name == "MapIcon":
            return {"$icon": {"frame": o["frame"], "name": ref(o["name"]),
                              "image": ref(o["image"]) if o["image"].data else None}}
        raise AssertionError(name)

    def top(v):
        if isinstance(v, plistlib.UID):
            return ref(v)
        if isinstance(v, str):
            return {"$inline": v}
        if isinstance(v, float):
            return {"$real": v}
        raise AssertionError(v)

    return {k: top(v) for k, v in root["$top"].items()}


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        print(json.dumps(unarchive(f.read()), sort_keys=True))
