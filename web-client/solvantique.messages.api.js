// A page for developers: the JSON API of the service, tried live with the
// same login and connection as the app.
import { h, fill } from './web/lib1/solvantique.lib1.js';
import { Connection } from './web/appwebsocket/solvantique.appwebsocket.Connection.js';
import { loginForm, notice } from './solvantique.messages.login.js';
import { T } from './solvantique.messagesTexts.js';

// What the page's classic script solvantique.messages.early.js started.
const early = window.messagesEarly;

const EXAMPLES = [
  { mt: 'ReadTopics' },
  { mt: 'SetFilter', discussion: true, read: true, count: 10, filter: { topics: [] } },
  { mt: 'GetMore', discussion: true, read: true, count: 10, timestamp: 0, id: 0 },
  { mt: 'Discussion', discussion: 1, count: 20 },
  { mt: 'Post', topic: '', text: 'Hello from the API page' },
  { mt: 'SetUnreadFilter', filter: {} },
  { mt: 'SetRead', id: 1 },
  { mt: 'Like', id: 1 },
  { mt: 'Likes', id: 1 },
  { mt: 'Search', text: 'hello', count: 10 },
  { mt: 'ReadFilters' },
  { mt: 'ReadTags', like: '%', count: 20 },
  { mt: 'ReadChats', unread: true },
  { mt: 'ReadGroups' },
  { mt: 'CreateFileBuffer', name: 'example.txt' },
];

function pretty(value) {
  return JSON.stringify(value, null, 2);
}

function consoleView(conn, me) {
  const input = h('textarea', { id: 'api-request', rows: 8, spellcheck: false, class: 'api-input' });
  const log = h('ol', { class: 'api-log', 'aria-live': 'polite', 'aria-label': T.apiLog });
  const note = h('p', { class: 'error', role: 'alert' });
  const entry = (kind, msg) => {
    log.prepend(h('li', { class: 'api-' + kind }, h('span', { class: 'api-kind', text: kind === 'out' ? T.apiSent : T.apiReceived }), h('pre', { text: pretty(msg) })));
  };
  conn.on('push', (msg) => entry('in', msg));
  const send = () => {
    let msg;
    try {
      msg = JSON.parse(input.value);
    } catch {
      msg = null;
    }
    if (!msg || typeof msg !== 'object' || typeof msg.mt !== 'string') {
      note.textContent = T.apiBadJson;
      return;
    }
    note.textContent = '';
    entry('out', msg);
    // Some messages are never answered; the page says so rather than waiting silently.
    let answered = false;
    const quiet = setTimeout(() => !answered && (note.textContent = T.apiNoAnswer), 15000);
    conn.request(msg, { onRow: (row) => entry('in', row) }).then((r) => {
      answered = true;
      clearTimeout(quiet);
      entry('in', r);
    }, () => (note.textContent = T.apiNoAnswer));
  };
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) {
      e.preventDefault();
      send();
    }
  });
  const example = (x) => {
    const msg = { ...x };
    if (msg.mt === 'Post') msg.topic = me;
    if (msg.mt === 'ReadGroups') msg.user = me;
    return h('li', null, h('button', { type: 'button', class: 'link', text: x.mt, onclick: () => {
      input.value = pretty(msg);
      input.focus();
    } }));
  };
  input.value = pretty(EXAMPLES[0]);
  return h('main', { class: 'api-page' },
    h('h1', { text: T.apiTitle }),
    h('p', { class: 'hint', text: T.apiIntro }),
    h('div', { class: 'api-grid' },
      h('nav', { 'aria-labelledby': 'api-examples' }, h('h2', { id: 'api-examples', text: T.apiExamples }), h('ul', { class: 'api-examples' }, EXAMPLES.map(example))),
      h('section', { class: 'api-work' },
        h('label', { for: 'api-request', text: T.apiRequest }), input, note,
        h('div', { class: 'api-actions' },
          h('button', { type: 'button', class: 'button primary', text: T.apiSend, onclick: send }),
          h('button', { type: 'button', class: 'button', text: T.apiClear, onclick: () => fill(log) })),
        h('h2', { text: T.apiLog }), log)));
}

async function start() {
  const root = document.getElementById('messages');
  notice(root, T.loading, true);
  let how;
  try {
    how = await early.mode;
  } catch {
    return notice(root, T.loginNoApp);
  }
  let creds = how.sip ? null : await loginForm(root, how.mode);
  let me = how.sip;
  const conn = new Connection({
    url: early.socketUrl(early.path),
    early,
    login: async (challenge) => {
      const answer = await early.answerFor(challenge, creds);
      creds = null;
      me = answer.sip;
      return answer;
    },
  });
  let shown = false;
  conn.on('online', () => {
    if (!shown) fill(root, consoleView(conn, me));
    shown = true;
  });
  conn.on('loginFailed', async () => {
    creds = await loginForm(root, how.mode, T.loginWrong);
    shown = false;
    conn.start();
  });
  conn.start();
}

start();
