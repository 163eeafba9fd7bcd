#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/.

Run it again after changing an input layout; the files it writes are committed.
  receive/   6-byte header (see fuzz_receive.cpp) + a reply: polls, echoes, exceptions, faults
  settings/  RS_Settings files as the program saves them, and a few damaged ones
  panels/    1 byte panel id + the real ui/Panel_def.uir, and small resources (with and
             without layout hints)
The backup target's seeds (backup/) are backups the program itself writes, so its own
writer makes them: build/vek_fuzz_backup_seeds tests/fuzz/corpus/backup (backup_seeds.cpp).
"""
import pathlib
import struct

here = pathlib.Path(__file__).resolve().parent
root = here.parent.parent
corpus = here / "corpus"


def crc16(data: bytes) -> bytes:
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def sealed(frame: bytes) -> bytes:
    return frame + crc16(frame)


def float_regs(value: float):
    lo, hi = struct.unpack("<HH", struct.pack("<f", value))
    return [lo, hi]  # the low 16 bits in the first register


def image(**changes):
    """A 5 m gauge's 78 registers (register n at index n - 1)."""
    r = [0] * 78
    r[0], r[1] = 1800, 3200                      # distance, level mm
    r[2:4] = float_regs(64.0)                    # level %
    r[4:6] = float_regs(21.5)                    # temperature
    r[6:8] = float_regs(14.24)                   # output mA
    r[8:10] = float_regs(41.2)                   # frequency
    r[10], r[11] = 5000, 300                     # 4 mA and 20 mA distances
    r[12], r[13] = 820, 4010                     # DAC 4 mA and 20 mA
    r[14], r[15], r[16] = 250, 60, 40            # blind distance, max gain, frozen gain
    r[17] = 120                                  # Z value
    r[18:20] = float_regs(331.3)                 # V0
    r[20:22] = float_regs(0.6)                   # alpha
    r[22], r[23], r[24] = 3, 14, 1               # filter, Epot, UID
    r[25], r[26], r[27] = 200, 8, 12             # emission time, cycles, min delta
    for i, ch in enumerate(b"VEK-05A1"):
        r[28 + i] = ch                           # configuration index, one character a register
    r[37], r[39], r[42] = 5, 5, 10               # relay delays
    r[43] = 1                                    # medium
    r[44:53] = [0, 0, 1, 1, 0, 1, 0, 1, 1]       # relay switches
    r[53] = 0                                    # measure status
    r[54:58] = [0, 0, 0, 0]                      # probe warnings
    r[58] = 0                                    # output safe mode
    r[59], r[60] = 1, 0                          # relay states
    r[65] = 30                                   # window
    r[67] = 0x11                                 # model code
    r[69], r[70], r[71], r[72] = 1500, 4000, 3000, 1000
    r[73], r[74] = 0, 0                          # parity, baud rate
    r[75], r[76] = 40, 20                        # frequency and temperature settings
    for k, v in changes.items():
        r[int(k[1:]) - 1] = v
    return r


def poll_reply(regs, slave=1):
    body = bytes([slave, 3, 2 * len(regs)]) + b"".join(struct.pack(">H", v) for v in regs)
    return body


def header(mode=0, slave=1, reg=0, value=0):
    return bytes([mode, slave]) + struct.pack(">HH", reg, value)


FN6, FN16, SEAL, USER, ADV, LOG, SERIAL = 1, 2, 4, 8, 16, 32, 64


def receive_seeds():
    good = poll_reply(image())
    seeds = {
        "poll_valid": header() + sealed(good),
        "poll_valid_sealed": header(SEAL) + good,
        "poll_valid_all_windows": header(USER | ADV | LOG) + sealed(good),
        "poll_warnings_no_relays": header(USER | ADV) + sealed(poll_reply(image(r56=1, r58=1, r55=1, r68=0x21, r71=0x01FF))),
        "poll_odd_values": header(USER | ADV) + sealed(poll_reply(image(r1=0xFFFF, r2=0x8000, r3=0xFFFF, r4=0x7FFF,
                                                                        r44=5, r74=9, r29=0xE9C4, r30=0))),
        "poll_slave_247": header(0, 247) + sealed(poll_reply(image(), 247)),
        "poll_exception_02": header() + sealed(bytes([1, 0x83, 2])),
        "poll_exception_wrong_slave": header() + sealed(bytes([2, 0x83, 4])),
        "poll_foreign_slave": header() + sealed(poll_reply(image(), 2)),
        "poll_bad_crc": header() + good + b"\x00\x00",
        "poll_short": header() + sealed(good)[:-1],
        "poll_long": header() + sealed(good) + b"\x00",
        "poll_noise_first": header() + b"\xff\x00\x55\xaa" + sealed(good),
        "poll_silence": header(),
        "poll_serial_error": header(SERIAL) + sealed(good),
        "poll_wrong_function": header() + sealed(bytes([1, 4]) + good[2:]),
        "poll_wrong_count": header() + sealed(bytes([1, 3, 154]) + good[3:]),
        "write6_echo": header(FN6, 1, 25, 2) + sealed(bytes([1, 6, 0, 24, 0, 2])),
        "write6_register0": header(FN6, 1, 0, 0xFFFF) + sealed(bytes([1, 6, 0xFF, 0xFF, 0xFF, 0xFF])),
        "write6_exception_02": header(FN6, 1, 68, 1) + sealed(bytes([1, 0x86, 2])),
        "write6_wrong_echo": header(FN6, 1, 25, 2) + sealed(bytes([1, 6, 0, 24, 0, 3])),
        "write6_serial_error": header(FN6 | SERIAL, 1, 25, 2) + sealed(bytes([1, 6, 0, 24, 0, 2])),
        "write16_reply": header(FN16, 1, 11, 2) + sealed(bytes([1, 0x10, 0, 10, 0, 2])),
        "write16_exception_02": header(FN16, 1, 1, 2) + sealed(bytes([1, 0x90, 2])),
        "write16_too_long": header(FN16, 1, 11, 200) + sealed(bytes([1, 0x10, 0, 0, 0, 0])),
    }
    return seeds


def settings_seeds():
    saved = "[0]\nPARITY=0\nDATA_BITS=0\nBAUD_RATE=0\nBIT_STOP=0\nCOMPORT=1\nPorta=1\n"
    return {
        "readme_minimal": "[0]\nCOMPORT=1\nPorta=1\n",
        "saved_com1_9600_none": saved,
        "saved_com3_19200_even": "[0]\nPARITY=1\nDATA_BITS=0\nBAUD_RATE=1\nBIT_STOP=0\nCOMPORT=3\nPorta=3\n",
        "saved_com9_odd_crlf": saved.replace("COMPORT=1\nPorta=1", "COMPORT=9\nPorta=9").replace("PARITY=0", "PARITY=2").replace("\n", "\r\n"),
        "no_section": "COMPORT=2\nPorta=2\nBAUD_RATE=1\n",
        "two_states": "[1]\nCOMPORT=4\nPorta=4\n[0]\nCOMPORT=5\nPorta=5\nPARITY=2\n",
        "no_port": "[0]\nCOMPORT=0\nPorta=0\n",
        "out_of_range": "[0]\nCOMPORT=12\nPorta=65537\nPARITY=-1\nBAUD_RATE=99999999999\n",
        "garbage": "[0\n=\n==1\nPorta\nPorta=1x\nUNKNOWN=7\n[x]\n[-1]\n\\\n",
        "empty": "",
    }


def panels_seeds():
    real = (root / "ui" / "Panel_def.uir").read_bytes()
    tiny = (b'{"panels": [{"id": 9, "constant": "WRITE_VAL", "title": "Write", "controls": ['
            b'{"id": 2, "constant": "WRITE_VALUE", "kind": "numeric", "mode": "input", "type": "int", "min": 0, "max": 65535},'
            b'{"id": 3, "constant": "CONF_VAL", "kind": "button", "label": "Enter", "callback": "Write_Single_Register"},'
            b'{"id": 4, "constant": "RING", "kind": "ring", "type": "unsigned short", "items": [["a", 0], ["b", 1]], "default": 1},'
            b'{"id": 5, "constant": "TEXT", "kind": "textmsg", "text": "x"},'
            b'{"id": 6, "constant": "LEVEL", "kind": "tank", "type": "float", "default": 1.5}]}]}')
    timer = (b'{"panels": [{"id": 3, "constant": "PANEL", "controls": ['
             b'{"id": 31, "constant": "TIMER", "kind": "timer", "interval": 5.0, "enabled": true, "callback": "MB_COM"},'
             b'{"id": 20, "constant": "MSG", "kind": "string", "type": "string", "default": "ok", "maxLength": 30}]}]}')
    hinted = (b'{"panels": [{"id": 6, "constant": "SETUP", "title": "Set up", "escapeCloses": false, "layout": {'
              b'"note": "n", "header": ["HEAD"], "hidden": ["SPARE"], "buttons": ["APPLY"], "quit": "EXIT", "enter": "APPLY",'
              b'"sections": [{"group": "G", "column": 1, "rows": ["A"]},'
              b'{"titleMsg": "TITLE", "split": 2, "wide": true, "rows": [{"ctrl": "B", "label": "LABEL", "unit": "UNIT"}]},'
              b'{"horizontal": true, "rows": ["C"]}]}, "controls": ['
              b'{"id": 2, "constant": "EXIT", "kind": "button", "label": "Quit", "callback": "Get_Buttons"},'
              b'{"id": 3, "constant": "APPLY", "kind": "button", "label": "Apply", "callback": "Get_Buttons"},'
              b'{"id": 4, "constant": "A", "kind": "numeric", "type": "int", "group": "G"},'
              b'{"id": 5, "constant": "B", "kind": "numeric", "type": "float"},'
              b'{"id": 6, "constant": "C", "kind": "string", "type": "string", "maxLength": 3},'
              b'{"id": 7, "constant": "LABEL", "kind": "textmsg", "text": "B"},'
              b'{"id": 8, "constant": "UNIT", "kind": "textmsg", "text": "mm"},'
              b'{"id": 9, "constant": "TITLE", "kind": "textmsg", "text": "Title", "elide": "middle"},'
              b'{"id": 10, "constant": "HEAD", "kind": "textmsg", "text": "SET UP"},'
              b'{"id": 11, "constant": "SPARE", "kind": "numeric", "type": "unsigned short"},'
              b'{"id": 12, "constant": "LAMP", "kind": "led", "label": "", "group": "G"},'
              b'{"id": 13, "constant": "GAUGE", "kind": "tank", "type": "double", "group": "G"}]}]}')
    return {
        "hinted_setup": bytes([6]) + hinted,
        "hint_names_no_control": bytes([6]) + hinted.replace(b'"rows": ["A"]', b'"rows": ["NOT_THERE"]'),
        "real_main_window": bytes([3]) + real,
        "real_user_setup": bytes([6]) + real,
        "tiny_write_dialog": bytes([9]) + tiny,
        "timer_panel": bytes([3]) + timer,
        "not_json": bytes([3]) + b'{"panels": [',
    }


def write(kind, seeds):
    d = corpus / kind
    d.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (d / name).write_bytes(data.encode() if isinstance(data, str) else data)


write("receive", receive_seeds())
write("settings", settings_seeds())
write("panels", panels_seeds())
