// The caller's terminal: the station's screen in 80 columns by 25 rows, over
// a WebSocket to the gateway, each key sent as it is typed.
'use strict';

// A phone shows all 80 columns in a smaller font; a wide window gets the largest.
const kLargestFont = 16;
const kSmallestFont = 5;

const terminal = new XTerm.Terminal({
  cols: 80,
  rows: 25,
  rendererType: 'dom',  // rows as text in the page
  fontFamily: '"DejaVu Sans Mono", monospace',
  fontSize: kLargestFont,
  // The colours of the PC screens the station's were drawn for.
  theme: {
    background: '#000000', foreground: '#aaaaaa', cursor: '#aaaaaa',
    black: '#000000', red: '#aa0000', green: '#00aa00', yellow: '#aa5500',
    blue: '#0000aa', magenta: '#aa00aa', cyan: '#00aaaa', white: '#aaaaaa',
    brightBlack: '#555555', brightRed: '#ff5555', brightGreen: '#55ff55', brightYellow: '#ffff55',
    brightBlue: '#5555ff', brightMagenta: '#ff55ff', brightCyan: '#55ffff', brightWhite: '#ffffff',
  },
});
const frame = document.getElementById('terminal');
terminal.open(frame);
const screen = frame.querySelector('.xterm-screen');

function fitToWindow() {
  const room = document.documentElement.clientWidth - 2 * frame.offsetLeft;
  const framing = frame.offsetWidth - screen.offsetWidth;
  const size = terminal.getOption('fontSize');
  const fitting = Math.floor(size * (room - framing) / screen.offsetWidth);
  const wanted = Math.max(kSmallestFont, Math.min(kLargestFont, fitting));
  if (wanted !== size) terminal.setOption('fontSize', wanted);
}
fitToWindow();
window.addEventListener('resize', fitToWindow);

const statusLine = document.getElementById('status');
let call = null;  // the call in progress: its WebSocket, and whether the caller is leaving

function show(status) {
  statusLine.textContent = status;
}

function connect() {
  if (call) return;
  const url = new URL('call', location.href);
  url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
  const thisCall = call = {socket: new WebSocket(url), leaving: false};
  let answered = false;
  terminal.reset();
  show('Connecting');
  thisCall.socket.onopen = () => {
    answered = true;
    show('Connected to ' + document.title);
    terminal.focus();
  };
  thisCall.socket.onmessage = (message) => terminal.write(message.data);
  thisCall.socket.onclose = () => {
    call = null;
    if (thisCall.leaving) show('Disconnected');
    else show(answered ? 'The station closed the call' : 'The station cannot be reached');
  };
}

function disconnect() {
  if (!call) return;
  call.leaving = true;
  call.socket.close();
}

function send(keys) {
  if (call && call.socket.readyState === WebSocket.OPEN) call.socket.send(keys);
}

terminal.on('data', send);

// A phone's keyboard sends Backspace as an edit of the terminal's hidden text
// field, not as a key: it reaches the station as the Backspace key's DEL, and
// the field is emptied so the edit is not taken for typed text.
terminal.textarea.addEventListener('input', (edit) => {
  if (edit.inputType !== 'deleteContentBackward' || edit.isComposing) return;
  terminal.textarea.value = '';
  send('\x7f');
});

document.getElementById('connect').onclick = connect;
document.getElementById('disconnect').onclick = disconnect;
connect();
