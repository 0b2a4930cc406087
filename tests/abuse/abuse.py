# abuse.py TELLARIUM TELLARIUM-ADMIN [PROBE ...]: each probe abuses a fresh station while three honest callers chat.
import contextlib, os, random, re, resource, select, shutil, socket, subprocess, sys, tempfile, threading, types
from pathlib import Path
from time import monotonic as now, sleep

(SERVER, ADMIN), RSS_MB, DELAY_MS = map(os.path.abspath, sys.argv[1:3]), 64, 2000
VOLATILE = {'qvtalk.log', 'error.log', 'lastcalls.qvs', 'tellarium.lock', 'limits.conf'}  # written on every call
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
LOGIN = [(b'<ENTER>', b'\r\n'), (b'-->', None), (rb'port #(\d+)\D[\s\S]*\x07Login\r\n #\1\D', b'')]  # None: password
A = types.SimpleNamespace()  # the probe running: directory, port, stop, the abusers' calls and what they were told


def free_ports():  # two in a row, below 32768
    while True:
        with socket.socket() as first, socket.socket() as second, contextlib.suppress(OSError):
            first.bind(('', port := random.randint(20000, 32000)))
            second.bind(('', port + 1))
            return port


# Dials from `addr`; given a password, logs in with it within `limit` s. The socket, or None if refused or cut off.
def call(addr, password=None, limit=10, heard=None):
    said, end = bytearray(), now() + limit
    if heard is not None:  # an abuser's
        heard.append(said)
    with contextlib.suppress(OSError), socket.create_connection(('127.0.0.1', A.port), 2, (addr, 0)) as s:
        for awaited, typed in LOGIN if password is not None else []:
            while not re.search(awaited, said):
                s.settimeout(max(end - now(), 0.01))
                said += (data := s.recv(65536))
                if not data:
                    raise ConnectionResetError
            s.sendall(password + b'\r' if typed is None else typed)
        return s.dup()  # the with closes this one


def newcomer(addr, bound):  # the ms a guest from `addr` took to log in, trying till `bound` s; None if it never did
    start = now()
    while now() - start < bound:
        if s := call(addr, b'', bound - (now() - start)):
            s.close()
            return '%.1f' % ((now() - start) * 1000)
        sleep(1.5)  # slower than connects_per_address allows


def snapshot():  # config.qvs record 3 (bytes 2048 to 2089) holds the call counters; X.new is X being replaced
    files = {p.name: p.read_bytes() for p in Path(A.dir).iterdir() if p.name.removesuffix('.new') not in VOLATILE}
    return {**files, 'config.qvs': files['config.qvs'][:2048] + files['config.qvs'][2090:]}


def chat(socks, sent, delays):  # the honest callers take turns to say a line every 250 ms, all reading all the time
    with contextlib.suppress(OSError):  # one cut off loses the lines after
        while not A.stop.is_set():
            sent.append(tag := b'h%de' % len(sent))
            start, sender, tails = now(), socks[len(sent) % 3], dict.fromkeys(socks, b'')
            sender.sendall(tag + b' honest chat\r')
            while now() < start + (0.25 if sum(key[0] == tag for key in delays) == 2 else 10):  # late: up to 10 s
                for s in select.select(socks, [], [], 0.05)[0]:
                    tails[s] = tails[s][-8:] + s.recv(1 << 20)
                    if s is not sender and tag in tails[s]:
                        delays.setdefault((tag, s), (now() - start) * 1000)


# An abuser, a thread per connection: calls from `addr` (logging in with `password`), then sends chunk() every `pause`
# s and reads all (`deaf`: nothing) till cut off or for about `life` s; and calls again unless `once`.
def pester(addr='127.0.0.2', password=None, chunk=None, pause=0, limit=10, deaf=False, once=False, life=1e9):
    while not A.stop.is_set():
        A.calls.append(addr)
        if s := call(addr, password, limit, A.heard):
            with s, contextlib.suppress(OSError):
                until, poll = now() + random.uniform(0, 2 * life), select.poll()
                poll.register(s, select.POLLIN * (not deaf) | select.POLLOUT * bool(chunk))
                while now() < until and not A.stop.is_set():
                    for _, event in poll.poll(100):
                        if event & select.POLLOUT:
                            s.send(chunk())
                        if event & ~select.POLLOUT:  # to read, or cut off
                            A.heard.append(data := s.recv(1 << 20))
                            if not data:
                                raise ConnectionResetError
                    sleep(pause)
        A.stop.wait(None if once else 0.5)


def probe(number, title, rows, log=b'', says=b'', limits='', seconds=9):
    vars(A).update(dir=tempfile.mkdtemp(prefix='abuse-'), port=free_ports(), stop=threading.Event(), calls=[], heard=[])
    subprocess.check_call([ADMIN, A.dir, 'init', *f'--main-port {A.port} --line0-port {A.port + 1}'.split()], **QUIET)
    Path(A.dir, 'limits.conf').write_text(limits)
    station = subprocess.Popen([SERVER], cwd=A.dir, **QUIET)
    newcomer('127.0.0.250', 10)  # the station listens once it has loaded
    files, sent, delays, honest = snapshot(), [], {}, [call('127.0.0.%d' % (200 + i), b'') for i in range(3)]
    threads = [threading.Timer(seconds, A.stop.set), threading.Thread(target=chat, args=(honest, sent, delays))]
    [t.start() for t in threads + [threading.Thread(target=pester, kwargs=row) for row in rows]]
    sleep(3)
    during = newcomer('127.0.0.203', 5) if len({row.get('addr') for row in rows}) == 1 else '-'  # one address
    [t.join() for t in threading.enumerate() if t is not threading.current_thread()]
    after = newcomer('127.0.0.204', 15 if during == '-' else 5)
    sleep(1)  # the newcomer's logoff rewrites the system log whole
    alive, changed, delays = station.poll() is None, snapshot().items() ^ files.items(), sorted(delays.values()) or [0]
    peak = alive and int(re.search(rb'VmHWM:\s*(\d+)', Path(f'/proc/{station.pid}/status').read_bytes())[1]) / 1024
    fails = [text for text, ok in [
        ('honest logins', all(honest)), ('honest lines lost', len(delays) == 2 * len(sent) > 0),
        ('honest delay', delays[-1] <= DELAY_MS), ('newcomer during', during), ('newcomer after', after),
        ('station died', alive), ('peak RSS', peak <= RSS_MB), ('changed %s' % {n for n, _ in changed}, not changed),
        ('no log %s' % log, re.search(log, Path(A.dir, 'qvtalk.log').read_bytes())),
        ('never heard %s' % says, says in b''.join(A.heard))] if not ok]
    print(f'{number} {title}: abuse {len(A.calls)} connections made; honest {len(delays)}/{2 * len(sent)} lines, delay '
          f'p50 {delays[len(delays) // 2]:.1f} max {delays[-1]:.1f} ms (bound {DELAY_MS}); newcomer during '
          f'{during or "never"} after {after or "never"} ms; peak RSS {peak:.1f} MB (bound {RSS_MB})',
          *('\n  FAIL: ' + text for text in fails), sep='', flush=True)
    station.kill()
    station.wait()
    print('  kept ' + A.dir) if fails else shutil.rmtree(A.dir)
    return not fails


ADDRS = ['127.0.0.%d' % i for i in range(2, 52)]
REFUSAL = b'Too many %s from your address. Try again later.\r\n'
PROBES = [  # title, pester's arguments per abuser, log line expected, what an abuser must hear, limits.conf, seconds
    ('every free line held silent, one address', [dict(once=True)] * 20, rb'Refused 127\.0\.0\.2: 3 lines in use\.',
     REFUSAL % b'connections'),
    ('free lines held silent, 40 addresses', [dict(addr=addr) for addr in ADDRS[:40]],
     rb'Login time-out from 127\.0\.0\.', b'', 'login_timeout_s = 10\n', 13),
    ('1000 connections churned, 50 addresses', [dict(addr=addr, life=3) for addr in ADDRS for _ in range(20)],
     rb'Refused 127\.0\.0\.\d+: too many connections\.'),
    ('a guest that never reads, 4 KB lines flooding', [dict(password=b'', deaf=True, once=True),
     dict(password=b'', chunk=lambda: b'f' * 4095 + b'\r')], rb'Logged off line #\d+: \d+ KiB unsent\.'),
    ('a guest typing without end', [dict(password=b'', chunk=lambda: b'x' * 100_000, pause=0.1)]),
    ('password guessing, one address', [dict(password=b'000wrong', limit=5, life=0)],
     rb'Blocked 127\.0\.0\.2 for 15 minutes after 5 failed logins\.', REFUSAL % b'failed logins'),
    ('password guessing, 50 addresses', [dict(addr=addr, password=b'000wrong', limit=5, life=0) for addr in ADDRS],
     rb'Slowed logins to account #000 after \d+ failures\.'),
    ('telnet garbage', [dict(chunk=chunk, pause=0.01) for chunk in (lambda: b'\xff\xfa\x18' + b's' * 4093,
     lambda: bytes(b for cmd in (251, 252, 253, 254) for opt in range(256) for b in (255, cmd, opt)),
     lambda: os.urandom(4096).replace(b'/', b'.'))]),  # a "/" would start commands, honest use
]

resource.setrlimit(resource.RLIMIT_NOFILE, (resource.getrlimit(resource.RLIMIT_NOFILE)[1],) * 2)
failed = [n for n in [int(n) for n in sys.argv[3:]] or range(1, len(PROBES) + 1) if not probe(n, *PROBES[n - 1])]
sys.exit(f'failed: probes {failed}' if failed else 0)
