# browser_test.py TELLARIUM TELLARIUM-ADMIN TELLARIUM-WEB SCREENSHOT: a caller in headless Chromium, through the
# gateway, chats with a telnet caller; the station knows the browser's address, not the gateway's. Exit 77: no browser.
import asyncio, base64, contextlib, importlib.util, json, random, re, shutil, socket, subprocess, sys, tempfile, time
from pathlib import Path
from urllib.request import urlopen
if not (importlib.util.find_spec('websockets') and shutil.which('chromium')):
    sys.exit(77)
import websockets
STATION, ADMIN, WEB, SHOT = (Path(arg).resolve() for arg in sys.argv[1:5])
ROWS = "[...document.querySelectorAll('.xterm-rows > *')].map(r => r.textContent.replace(/\\u00a0/g, ' ')).join('\\n')"
STATUS = "document.getElementById('status').textContent"


def until(ready, what, limit=20):  # ready()'s first true value; an OSError counts as not yet
    end = time.monotonic() + limit
    while True:
        with contextlib.suppress(OSError):
            if value := ready():
                return value
        assert time.monotonic() < end, f'never {what}'
        time.sleep(0.1)


def free_port():  # below 32768, on loopback
    with socket.socket() as s:
        return until(lambda: s.bind(('127.0.0.1', port := random.randint(20000, 32000))) or port, 'a free port')


class Caller:  # a telnet caller on a plain socket; each wait consumes what it heard up to the match
    def __init__(self, port, source):
        self.s = until(lambda: socket.create_connection(('127.0.0.1', port), 20, (source, 0)), 'the station')
        self.heard = b''

    def wait(self, pattern):
        while not (m := re.search(pattern, self.heard)):
            data = b''
            with contextlib.suppress(TimeoutError):
                data = self.s.recv(65536)
            assert data, f'{pattern!r} never came; heard {self.heard!r}'
            self.heard += data
        self.heard = self.heard[m.end():]
        return m

    def say(self, line):
        self.s.sendall(line + b'\r')


class Page:  # the one tab of the browser, over the DevTools protocol
    def __init__(self, ws):
        self.ws, self.sent = ws, 0

    async def call(self, method, **params):
        self.sent += 1
        await self.ws.send(json.dumps({'id': self.sent, 'method': method, 'params': params}))
        while (reply := json.loads(await self.ws.recv())).get('id') != self.sent:
            pass  # an event
        assert 'error' not in reply, f'{method}: {reply}'
        return reply['result']

    async def eval(self, js):
        return (await self.call('Runtime.evaluate', expression=js, returnByValue=True))['result'].get('value')

    async def until(self, js, limit=20):
        end = time.monotonic() + limit
        while not await self.eval(js):
            assert time.monotonic() < end, f'never {js}\nstatus: {await self.eval(STATUS)}\n{await self.eval(ROWS)}'
            await asyncio.sleep(0.1)

    async def see(self, text):
        await self.until(f'{ROWS}.includes({json.dumps(text)})')

    async def type(self, text):  # key by key, so that xterm makes the bytes (Backspace: DEL)
        for ch in text:
            key, code = {'\b': ('Backspace', 8), '\r': ('Enter', 13)}.get(ch, (ch, 0))
            down = dict(type='rawKeyDown') if ch == '\b' else dict(type='keyDown', text=ch)
            await self.call('Input.dispatchKeyEvent', key=key, windowsVirtualKeyCode=code, **down)
            await self.call('Input.dispatchKeyEvent', type='keyUp', key=key, windowsVirtualKeyCode=code)

    async def type_on_phone(self, word, erased):  # a word composed and committed; Backspaces edit xterm's field
        for end in range(1, len(word) + 1):
            await self.call('Input.imeSetComposition', text=word[:end], selectionStart=end, selectionEnd=end)
        await self.call('Input.insertText', text=word), await self.see(word)  # echoed
        for _ in range(erased):
            await self.call('Input.dispatchKeyEvent', type='rawKeyDown', key='Unidentified', windowsVirtualKeyCode=229,
                            commands=['deleteBackward'])


async def browse(tmp, station, cdp):
    sysop = Caller(station, '127.0.0.3')
    sysop.wait(rb'Press <ENTER> To Login\.'), sysop.say(b''), sysop.wait(b'-->'), sysop.say(b'000zarvo')
    sysop.wait(rb'Login\r\n #\d<C1>:SysOp\)')  # before the browser's login, to be told of it
    tabs = lambda: [t for t in json.load(urlopen(f'http://127.0.0.1:{cdp}/json/list')) if t['type'] == 'page']
    tab = until(tabs, 'a tab in the browser')[0]
    async with websockets.connect(tab['webSocketDebuggerUrl'], max_size=None) as ws:
        page = Page(ws)
        await page.until(f"document.querySelector('.xterm-rows') && /^Connect/.test({STATUS})")
        await page.eval("document.getElementById('connect').click()")  # or already calling: the page calls at once
        await page.until(f"{STATUS}.includes('Connected to Test Station')")
        await page.eval("document.querySelector('.xterm-helper-textarea').focus()")
        await page.see('Press <ENTER> To Login.'), await page.type('\r'), await page.see('-->'), await page.type('\r')
        line = sysop.wait(rb'Login\r\n #(\d)\(C1\]:\?\) ')[1]
        await page.type('helo\blo '), await page.type_on_phone('there!', 1), await page.type('\r')
        sysop.wait(rb'\r\n#' + line + rb'\(C1\]:\?\) hello there\r\n')
        sysop.say(b'hi from telnet'), await page.see(') hi from telnet')
        await page.type('/?\r')
        await page.until(f'/[\u2550\u2551\u2500\u2502]/.test({ROWS})')  # code page 437's 205 186 196 179
        sysop.say(b'/S#')  # the address list; the station's system log says the same
        sysop.wait(rb'\r\n#' + line + rb'\(C1\]:\?\) #N/A@127\.0\.0\.1 \(Telnet\)\r\n')
        tcp = {(r.split()[1], r.split()[2][:8]) for r in Path('/proc/net/tcp').read_text().splitlines()[1:]}
        assert (f'0100007F:{station:04X}', '0200007F') in tcp, 'the gateway did not call from 127.0.0.2'  # in LE hex
        log = Path(tmp, 'qvtalk.log').read_text(encoding='latin-1')
        assert f'Logged on from 127.0.0.1 on line #{line.decode()}.' in log and '127.0.0.2' not in log, log
        await page.type('/S\r'), await page.see(f'#{line.decode()}(C1]:?) #N/A:0')  # its row in the online list
        await page.type('/Q\r'), await page.see('Call again soon!')
        await page.until(f"{STATUS}.includes('The station closed the call')")
        Path(SHOT).write_bytes(base64.b64decode((await page.call('Page.captureScreenshot'))['data']))
        print('screenshot:', SHOT)
        await page.call('Emulation.setDeviceMetricsOverride', width=390, height=844, deviceScaleFactor=3, mobile=True)
        await page.until("document.querySelector('.xterm-screen').getBoundingClientRect().right <= 390")  # fits a phone


with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as tmp:
    station, line0, web, cdp = (free_port() for _ in range(4))
    subprocess.run([ADMIN, tmp, 'init', '--main-port', str(station), '--line0-port', str(line0)], check=True,
                   stdout=subprocess.DEVNULL)
    Path(tmp, 'limits.conf').write_text('proxy_from = 127.0.0.2\n')
    running = [subprocess.Popen([STATION], cwd=tmp, stdout=subprocess.DEVNULL)]
    try:
        running.append(subprocess.Popen([WEB, '--listen', '127.0.0.1', '--port', str(web), '--station-port',
                                         str(station), '--source', '127.0.0.2', '--title', 'Test Station']))
        until(lambda: socket.create_connection(('127.0.0.1', web)), 'the gateway').close()
        running.append(subprocess.Popen(['chromium', '--headless=new', '--no-sandbox', f'--user-data-dir={tmp}/browser',
                                         f'--remote-debugging-port={cdp}', f'http://127.0.0.1:{web}/'],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        asyncio.run(browse(tmp, station, cdp))
    finally:
        for p in reversed(running):
            p.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                p.wait(10)
            p.kill()
