#!/usr/bin/env python3
"""Writes the sample speaker databases and SPS files in data/speakerdb/.

The products are invented demo products. Ids are name-based UUIDs, so running
the script again gives the same files. Run from the repository root:
    python3 tools/speakerdb/make_samples.py
The SPS writer here is independent of the C++ one, so the reader's tests that
read these files check the format as documented, not one writer's habits.
"""
import json
import os
import struct
import uuid
import zipfile
import zlib

OUT = os.path.join("data", "speakerdb")
NS = uuid.UUID("0c3a5f1e-7d62-4b8e-9f0a-2e5d4c1b3a90")

FULL_RANGE, HIGH, LOW, MID, SUB, FRONT, REAR = 1, 2, 3, 4, 6, 7, 8


def uid(*names):
    return str(uuid.uuid5(NS, "/".join(names)))


class Db:
    def __init__(self, name, version, description):
        self.name = name
        self.doc = {
            "format": "fennik-speakerdb",
            "formatVersion": 1,
            "id": uid("db", name),
            "name": name,
            "version": version,
            "description": description,
            "dspChains": [],
            "variants": [],
            "presets": [],
            "products": [],
        }

    def chain(self, name, role):
        self.doc["dspChains"].append({"id": uid(self.name, "chain", name), "name": name, "acousticRole": role})
        return uid(self.name, "chain", name)

    def variant(self, name, bands):
        self.doc["variants"].append({
            "id": uid(self.name, "variant", name),
            "name": name,
            "bands": [{"role": r, "label": l} for r, l in bands],
        })
        return uid(self.name, "variant", name)

    def preset(self, name, chains):
        self.doc["presets"].append({
            "id": uid(self.name, "preset", name),
            "name": name,
            "chains": [{"variant": v, "dspChains": c} for v, c in chains],
        })
        return uid(self.name, "preset", name)

    def product(self, model, label, size, presets, variants, visible=True):
        p = {
            "id": uid(self.name, "product", model),
            "vendor": "Fennik Demo",
            "model": model,
            "label": label,
            "visible": visible,
            "presets": presets,
            "variants": variants,
        }
        if size is not None:
            p["size"] = {k: v for k, v in zip(("first", "second"), size) if v is not None}
        self.doc["products"].append(p)

    def text(self):
        return json.dumps(self.doc, indent=2, ensure_ascii=False) + "\n"


def point_source(version):
    db = Db("Fennik Demo Point Source", version, "Compact two-way loudspeakers, a column and a subwoofer.")
    fr_std, fr_speech = db.chain("Full range standard", FULL_RANGE), db.chain("Full range speech", FULL_RANGE)
    hf_std, lf_std = db.chain("HF standard", HIGH), db.chain("LF standard", LOW)
    hf_speech, lf_speech = db.chain("HF speech", HIGH), db.chain("LF speech", LOW)
    sub_std = db.chain("Sub standard", SUB)
    passive = db.variant("Passive", [(FULL_RANGE, "Full range")])
    biamp = db.variant("Bi-amped", [(HIGH, "HF"), (LOW, "LF")])
    sub = db.variant("Subwoofer", [(SUB, "Sub")])
    standard = db.preset("Standard", [(passive, [fr_std]), (biamp, [hf_std, lf_std])])
    speech = db.preset("Speech", [(passive, [fr_speech]), (biamp, [hf_speech, lf_speech])])
    sub_preset = db.preset("Sub standard", [(sub, [sub_std])])
    db.product("DP12", "DP12 two-way 12 inch", (0.36, 0.6), [standard, speech], [passive, biamp])
    db.product("DC4", "DC4 column", (0.12, 0.36), [standard, speech], [passive])
    db.product("DS18", "DS18 subwoofer", (0.5, 0.3), [sub_preset], [sub])
    db.product("DP10", "DP10 (discontinued)", (0.3, 0.5), [standard], [passive], visible=False)
    if version != "1.2":
        fr_monitor = db.chain("Full range monitor", FULL_RANGE)
        monitor = db.preset("Monitor", [(passive, [fr_monitor])])
        db.product("DM15", "DM15 stage monitor", (0.6, 0.4), [monitor, standard], [passive])
    return db


def line_array():
    db = Db("Fennik Demo Line Array", "2.1", "A three-way line-array element with its subwoofer.")
    long_hf, long_mf, long_lf = (db.chain("Long throw " + b, r) for b, r in (("HF", HIGH), ("MF", MID), ("LF", LOW)))
    short_hf, short_mf, short_lf = (db.chain("Short throw " + b, r) for b, r in (("HF", HIGH), ("MF", MID), ("LF", LOW)))
    sub_omni = db.chain("Sub omni", SUB)
    sub_front, sub_rear = db.chain("Sub cardioid front", FRONT), db.chain("Sub cardioid rear", REAR)
    fill = db.chain("Front fill", FULL_RANGE)
    tri = db.variant("Tri-amped", [(HIGH, "HF"), (MID, "MF"), (LOW, "LF")])
    omni = db.variant("Omni", [(SUB, "Sub")])
    cardioid = db.variant("Cardioid", [(FRONT, "Front"), (REAR, "Rear")])
    passive = db.variant("Passive", [(FULL_RANGE, "Full range")])
    long_throw = db.preset("Long throw", [(tri, [long_hf, long_mf, long_lf])])
    short_throw = db.preset("Short throw", [(tri, [short_hf, short_mf, short_lf])])
    sub_preset = db.preset("Sub", [(omni, [sub_omni]), (cardioid, [sub_front, sub_rear])])
    fill_preset = db.preset("Front fill", [(passive, [fill])])
    db.product("LA10", "LA10 line-array element", (0.6, 0.3), [long_throw, short_throw], [tri])
    db.product("LS21", "LS21 array subwoofer", (0.8, 0.6), [sub_preset], [omni, cardioid])
    db.product("FF5", "FF5 front fill", (0.16, 0.16), [fill_preset], [passive])
    return db


def installation():
    db = Db("Fennik Demo Installation", "1.0", "Ceiling and wall loudspeakers for fixed installations.")
    ceiling_std, ceiling_bgm = db.chain("Ceiling speech", FULL_RANGE), db.chain("Ceiling music", FULL_RANGE)
    wall_std, wall_bgm = db.chain("Wall speech", FULL_RANGE), db.chain("Wall music", FULL_RANGE)
    passive = db.variant("Passive", [(FULL_RANGE, "Full range")])
    speech = db.preset("Speech", [(passive, [ceiling_std])])
    music = db.preset("Music", [(passive, [ceiling_bgm])])
    wall_speech = db.preset("Wall speech", [(passive, [wall_std])])
    wall_music = db.preset("Wall music", [(passive, [wall_bgm])])
    db.product("IC6", "IC6 ceiling speaker", None, [speech, music], [passive])
    db.product("IW5", "IW5 wall speaker", (0.2, None), [wall_speech, wall_music], [passive])
    return db


def sps(name, setting_id, bands):
    body = b"FSPS" + struct.pack("<HH", 1, len(bands)) + uuid.UUID(setting_id).bytes
    raw = name.encode("utf-8")
    body += struct.pack("<H", len(raw)) + raw
    for role, inverted, gain, delay, filters in bands:
        body += struct.pack("<BBBBff", role, 1 if inverted else 0, len(filters), 0, gain, delay)
        for ftype, freq, fgain, q in filters:
            body += struct.pack("<B3xfff", ftype, freq, fgain, q)
    return body + struct.pack("<I", zlib.crc32(body) & 0xFFFFFFFF)


def write(path, data, mode="w"):
    with open(path, mode, **({"encoding": "utf-8"} if mode == "w" else {})) as f:
        f.write(data)


def main():
    write(os.path.join(OUT, "fennik-demo-point-source-1.2.sdb"), point_source("1.2").text())
    write(os.path.join(OUT, "fennik-demo-point-source-1.10.sdb"), point_source("1.10").text())
    write(os.path.join(OUT, "fennik-demo-line-array-2.1.sdb"), line_array().text())
    # The installation database ships as a ZIP archive holding the JSON text.
    zpath = os.path.join(OUT, "fennik-demo-installation-1.0.sdb")
    info = zipfile.ZipInfo("database.json", date_time=(2026, 1, 1, 0, 0, 0))
    info.compress_type = zipfile.ZIP_DEFLATED
    with zipfile.ZipFile(zpath, "w") as z:
        z.writestr(info, installation().text())

    spsdir = os.path.join(OUT, "sps")
    write(os.path.join(spsdir, "demo-fullrange.sps"), sps("Demo full range", uid("sps", "fullrange"), [
        (FULL_RANGE, False, -3.0, 0.0, [(4, 60.0, 0.0, 0.7), (1, 2500.0, -2.5, 1.4), (3, 8000.0, 1.5, 0.7)]),
    ]), "wb")
    write(os.path.join(spsdir, "demo-biamp.sps"), sps("Demo bi-amped", uid("sps", "biamp"), [
        (HIGH, False, -6.0, 0.0, [(4, 1200.0, 0.0, 0.7)]),
        (LOW, True, 0.0, 0.35, [(4, 45.0, 0.0, 0.7), (5, 1200.0, 0.0, 0.7)]),
    ]), "wb")
    write(os.path.join(spsdir, "demo-sub-cardioid.sps"), sps("Demo sub cardioid", uid("sps", "cardioid"), [
        (FRONT, False, 0.0, 0.0, [(5, 100.0, 0.0, 0.7)]),
        (REAR, True, -1.5, 2.9, [(5, 100.0, 0.0, 0.7)]),
    ]), "wb")


if __name__ == "__main__":
    main()
