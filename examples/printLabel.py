#!/usr/bin/env python3
"""Prints a label through the label print service: finds the USB printer, connects it, sets the
speed, draws a 60 x 40 mm label of every element kind, saves its preview as label-preview.png in
the current folder, prints 3 copies, follows the events to the end of the job and closes the
printer.

Needs Python 3 and the websockets package (Debian: python3-websockets), nothing else:

    python3 examples/printLabel.py [ws://127.0.0.1:37989]

The requests are those of docs/requests.md. Exits with 0 once the job is finished.
"""
import asyncio
import base64
import json
import struct
import sys
import zlib

import websockets

URL = sys.argv[1] if len(sys.argv) > 1 else "ws://127.0.0.1:37989"
COPIES = 3
PREVIEW = "label-preview.png"
TIMEOUT = 60  # seconds for one answer, and for the whole print


class Failed(Exception):
    pass


def is_event(message):
    """Events answer no request; some share a name with an answer, so tell them by their keys."""
    name, ack = message.get("apiName"), message.get("resultAck") or {}
    if name == "printStatus":
        return True
    if name == "getPrinterHighLevelInfo":
        return "callback" in ack
    if name == "commitJob":
        return "printCopies" in ack or "cacheStatus" in ack or ack.get("info") == "commitJob ok!"
    if name == "updateFirmware":
        return "onUpdateFirmwareCompleted" in ack
    return False


def small_png(size=48):
    """A black ring on white, as a PNG file, made here so that the example needs no picture file."""
    def pixel(x, y):
        d = ((x - size / 2 + 0.5) ** 2 + (y - size / 2 + 0.5) ** 2) ** 0.5
        return 0 if size * 0.25 <= d <= size * 0.45 else 255
    rows = b"".join(b"\0" + bytes(pixel(x, y) for x in range(size)) for y in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", size, size, 8, 0, 0, 0, 0)  # 8-bit grey
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


class Client:
    def __init__(self, ws):
        self.ws = ws
        self.copies_printed = 0
        self.job_finished = False

    async def receive(self, timeout=TIMEOUT):
        return json.loads(await asyncio.wait_for(self.ws.recv(), timeout))

    def on_event(self, message):
        ack = message["resultAck"] or {}
        if message["apiName"] == "commitJob" and "printCopies" in ack:
            self.copies_printed += 1
            print(f"  event: copy {ack['printCopies']} of page {ack['printPages']} printed")
        elif message["apiName"] == "commitJob" and "cacheStatus" in ack:
            raise Failed(f"print error {ack['errorCode']}: {ack['info']}")
        elif message["apiName"] == "commitJob":
            self.job_finished = True
            print("  event: job finished")
        else:
            print("  event:", json.dumps(message))

    async def request(self, api, parameter=None, **top_level):
        """Sends one request and returns its "resultAck"; events that come first are handled."""
        message = {"apiName": api, **top_level}
        if parameter is not None:
            message["parameter"] = parameter
        await self.ws.send(json.dumps(message))
        while True:
            answer = await self.receive()
            if is_event(answer):
                self.on_event(answer)
                continue
            ack = answer["resultAck"]
            print(f"{api}: {json.dumps(ack)[:90]}")
            return ack

    async def expect(self, api, parameter=None, ok=0, **top_level):
        ack = await self.request(api, parameter, **top_level)
        if ack.get("result") != ok:
            raise Failed(f"{api} failed: {json.dumps(ack)}")
        return ack


async def print_label(client):
    # Discover: "info" is a JSON text of name to port.
    found = await client.expect("getUsbPrinter", ok="true")
    name, port = next(iter(json.loads(found["info"]).items()))
    await client.expect("connetUsbPrinter", {"printerName": name, "port": int(port)}, ok=True)

    # Drawing mode on, after connecting: it takes the printer's scale.
    await client.expect("initSdk", {})
    # "startJob" below sets label type, density and print mode itself; the speed is set here.
    await client.expect("setPrintSpeed", {"nSpeed": 3})

    picture = base64.b64encode(small_png()).decode()
    # One drawing board serves every client and outlives connections: each label starts with one.
    await client.expect("InitDrawingBoard", {"width": 60, "height": 40, "rotate": 0, "path": ""})
    # Keys left out are drawn as 0: each element needs its size, a text "fontSize", a picture
    # "imageProcessingValue" (the threshold of black), or it draws nothing.
    await client.expect("DrawLableText", {"x": 2, "y": 2, "width": 56, "height": 7, "value": "Hello, label",
                                          "fontSize": 12, "textAlignHorizonral": 1, "textAlignVertical": 1})
    await client.expect("DrawLableLine", {"x": 2, "y": 10, "width": 56, "height": 0.3})
    await client.expect("DrawLableBarCode", {"x": 2, "y": 12, "width": 36, "height": 12, "value": "KV-0001",
                                             "codeType": 20, "fontSize": 7, "textPosition": 1})
    await client.expect("DrawLableQrCode", {"x": 41, "y": 12, "width": 17, "height": 17, "value": "hello",
                                            "codeType": 58})
    await client.expect("DrawLableQrCodeWithImage", {"x": 2, "y": 26, "width": 13, "height": 13,
                                                     "value": "https://example.org/label", "codeType": 58,
                                                     "correctLevel": 4, "logoBase64": picture,
                                                     "logoScale": 0.25})
    await client.expect("DrawLableImage", {"x": 18, "y": 27, "width": 11, "height": 11,
                                           "imageData": picture, "imageProcessingValue": 127})
    await client.expect("DrawLableGraph", {"x": 32, "y": 30, "width": 26, "height": 9, "graphType": 2,
                                           "cornerRadius": 2, "lineWidth": 0.4})

    # "displayScale" stands beside "apiName"; "info" is a JSON text holding the base64 PNG.
    preview = await client.expect("generateImagePreviewImage", displayScale=8)
    with open(PREVIEW, "wb") as file:
        file.write(base64.b64decode(json.loads(preview["info"])["ImageData"]))
    print(f"preview written: {PREVIEW}")

    # A job of one page; "count" 0 leaves it open until "endJob".
    await client.expect("startJob", {"printDensity": 8, "printLabelType": 1, "printMode": 1,
                                     "count": 0})
    await client.expect("commitJob", {"printerImageProcessingInfo": {"printQuantity": COPIES, "epc": ""}})
    await client.expect("endJob")
    # The copies and the job's end come as events, to the client of the latest request (so to
    # another client, should one send a request meanwhile); they may come before an answer too.
    loop = asyncio.get_running_loop()
    deadline = loop.time() + TIMEOUT
    while not client.job_finished:
        message = await client.receive(max(deadline - loop.time(), 0.001))
        if not is_event(message):
            raise Failed(f"an answer to no request: {json.dumps(message)}")
        client.on_event(message)
    if client.copies_printed != COPIES:
        raise Failed(f"{client.copies_printed} copies printed, {COPIES} asked for")

    # Closing the connection would end the job and close the printer too, for every client.
    await client.expect("closePrinter", ok="true")
    print(f"job finished: {COPIES} copies printed")


async def main():
    async with websockets.connect(URL, max_size=None) as ws:
        await print_label(Client(ws))


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except (Failed, OSError, asyncio.TimeoutError, websockets.exceptions.WebSocketException) as error:
        sys.exit(f"failed: {error!r}")
