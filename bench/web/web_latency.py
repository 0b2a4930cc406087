# How long a chat line takes from a telnet caller to a caller in a browser (a WebSocket through tellarium-web),
# beside the same line to a second telnet caller on the same station: p50 and p99 over LINES lines sent one at a
# time, each timed from its send until each receiver has read it (all three callers are read in this one process).
# Run from the top of the tree, on a release build:
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release && cmake --build build/bench -j2 --target tellarium \
#     tellarium-admin tellarium-web && /usr/bin/python3 bench/web/web_latency.py build/bench/bin [LINES]
import asyncio, random, re, socket, subprocess, sys, tempfile, time
from pathlib import Path
import websockets

BIN, LINES, WARM_UP = Path(sys.argv[1]).resolve(), int(sys.argv[2]) if len(sys.argv) > 2 else 500, 50
SENT = re.compile(r'\) line (\d+)\r\n')


def answers(port):
    with socket.socket() as s:
        return s.connect_ex(('127.0.0.1', port)) == 0


def free_port():  # below 32768, on loopback
    while True:
        with socket.socket() as s:
            try:
                s.bind(('127.0.0.1', port := random.randint(20000, 32000)))
                return port
            except OSError:
                pass


async def telnet_guest(port, source):  # a reader and a writer, logged in as a guest
    reader, writer = await asyncio.open_connection('127.0.0.1', port, local_addr=(source, 0))
    for prompt in (b'Press <ENTER> To Login.', b'-->'):
        await reader.readuntil(prompt)
        writer.write(b'\r')
    await reader.readuntil(b'For Help.')
    return reader, writer


async def browser_guest(port):  # a WebSocket whose text is the station's screen, logged in as a guest
    ws, screen = await websockets.connect(f'ws://127.0.0.1:{port}/call'), ''
    for prompt in ('Press <ENTER> To Login.', '-->', 'For Help.'):
        while prompt not in screen:
            screen += await ws.recv()
        screen = screen[screen.index(prompt) + len(prompt):]
        if prompt != 'For Help.':
            await ws.send('\r')
    return ws


async def read_text(reader):
    return (await reader.read(65536)).decode('latin-1')


async def arrivals(receive, lines, receiver):  # sets each line's future for this receiver as the line arrives
    text = ''
    while chunk := await receive():
        text += chunk
        end = 0
        for m in SENT.finditer(text):
            lines[int(m[1])][receiver].set_result(time.perf_counter())
            end = m.end()
        text = text[end:]


async def measure(station, web):
    sender_in, sender = await telnet_guest(station, '127.0.0.3')
    telnet_in, _ = await telnet_guest(station, '127.0.0.4')
    browser = await browser_guest(web)
    loop = asyncio.get_running_loop()
    lines = [(loop.create_future(), loop.create_future()) for _ in range(WARM_UP + LINES)]
    readers = [
        asyncio.create_task(arrivals(lambda: read_text(telnet_in), lines, 0)),
        asyncio.create_task(arrivals(browser.recv, lines, 1)),
        asyncio.create_task(sender_in.read(1 << 30)),  # its own lines come back to it too: drained
    ]
    telnet_us, browser_us = [], []
    for i, (to_telnet, to_browser) in enumerate(lines):
        sent = time.perf_counter()
        sender.write(f'line {i}\r'.encode())
        await asyncio.wait_for(asyncio.gather(to_telnet, to_browser), 10)
        if i >= WARM_UP:
            telnet_us.append((to_telnet.result() - sent) * 1e6)
            browser_us.append((to_browser.result() - sent) * 1e6)
    for reader in readers:
        reader.cancel()
    return telnet_us, browser_us


def percentile(values, p):
    return sorted(values)[min(len(values) - 1, int(len(values) * p / 100))]


with tempfile.TemporaryDirectory() as tmp:
    station, line0, web = free_port(), free_port(), free_port()
    subprocess.run([BIN / 'tellarium-admin', tmp, 'init', '--main-port', str(station), '--line0-port', str(line0)],
                   check=True, stdout=subprocess.DEVNULL)
    Path(tmp, 'limits.conf').write_text('proxy_from = 127.0.0.2\n')
    running = [subprocess.Popen([BIN / 'tellarium'], cwd=tmp, stdout=subprocess.DEVNULL),
               subprocess.Popen([BIN / 'tellarium-web', '--listen', '127.0.0.1', '--port', str(web),
                                 '--station-port', str(station), '--source', '127.0.0.2'], stdout=subprocess.DEVNULL)]
    try:
        for port in station, web:
            while not answers(port):
                time.sleep(0.05)
        telnet_us, browser_us = asyncio.run(measure(station, web))
    finally:
        for p in running:
            p.terminate()
            p.wait()
print(f'A chat line from a telnet caller, {LINES} lines one at a time (microseconds)   p50      p99')
for name, values in (('to a telnet caller', telnet_us), ('to a browser caller through tellarium-web', browser_us)):
    print(f'  {name:<62}{percentile(values, 50):>7.0f}  {percentile(values, 99):>7.0f}')
