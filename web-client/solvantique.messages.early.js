// The platform's login and what a page starts with it before the rest of the
// client has arrived: the platform is asked how people log in here, and the
// app websocket is opened and asks for its challenge, which the platform
// answers at once on the browser's login cookie. The page runs this as a
// classic script at the top of its head, where the parser runs it as soon as
// it has it; a module, even an async one, ran only once the whole page was
// parsed. On the cookie it also sends "AppLogin" itself, so that the service
// checks the login while the client's files load. It leaves
// window.messagesEarly for the modules; the client then takes over the socket
// with what it received, and the answer for its challenge.
'use strict';

window.messagesEarly = (() => {
  const LOGIN = '/platform/login';
  // The login's requests: never from a cache, and ahead of the client's files
  // that a first opening is still loading.
  const ASKING = { credentials: 'same-origin', cache: 'no-store', priority: 'high' };

  // The app's web path: the page's path without its file and build segment
  // (/messages/1/page.htm -> /messages).
  function webPath() {
    const parts = location.pathname.split('/').filter(Boolean);
    if (parts.length && parts[parts.length - 1].includes('.')) parts.pop();
    if (parts.length > 1 && /^\d/.test(parts[parts.length - 1])) parts.pop();
    return '/' + parts.join('/');
  }

  // {mode: 'users'|'open', sip?}; status 404 when no app is here.
  async function loginMode(path) {
    const r = await fetch(`${LOGIN}?path=${encodeURIComponent(path)}`, ASKING);
    if (!r.ok) throw Object.assign(new Error('login mode'), { status: r.status });
    return r.json();
  }

  // creds: {sip, password} for a first login, null to use the cookie.
  async function platformLogin(path, challenge, creds) {
    const body = new URLSearchParams({ path, challenge });
    if (creds) {
      body.set('sip', creds.sip);
      if (creds.password) body.set('password', creds.password);
    }
    const r = await fetch(LOGIN, { method: 'POST', body, ...ASKING });
    if (!r.ok) throw Object.assign(new Error('login'), { status: r.status });
    return r.json();
  }

  // The discussion list that the app page shows first, as its topic view
  // asks for it (the same text, or the client asks again): the topic of the
  // address, or else the app's own on a window wide enough to show it beside
  // the side bar. The service answers in order, so it comes right after the
  // login, while the client's files are still loading.
  function firstList(members) {
    if (!location.pathname.endsWith('/solvantique-messages.htm')) return null;
    const route = /^#\/?t\/([^/?]+)$/.exec(location.hash);
    let topic = String(members?.info?.appobj || '').replace(/~.*$/, '');
    if (route) {
      try {
        topic = decodeURIComponent(route[1]);
      } catch {
        return null;
      }
    } else if (location.hash.length > 1 || !matchMedia('(min-width: 760px)').matches) {
      return null;
    }
    if (!topic || topic === members.sip) return null;
    return JSON.stringify({ mt: 'SetFilter', src: 'view:topic', discussion: true, read: true, count: 40, filter: { topics: [topic] } });
  }

  const socketUrl = (path) => (location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + path;

  const path = webPath();
  const mode = loginMode(path);
  const socket = new WebSocket(socketUrl(path));
  const received = [];
  const answers = new Map();
  let sip = null;
  let challenge = null;
  // The challenge whose "AppLogin" went out from here, and whether the client
  // has the socket now (from then on only the client sends on it).
  let sent = null;
  let taken = false;
  // Requests sent here after the login, as texts, for the client to adopt.
  const requested = [];
  const login = () => {
    if (!sip || !challenge || answers.has(challenge)) return;
    const asked = challenge;
    const answer = platformLogin(path, asked, null);
    answers.set(asked, answer);
    // Whoever takes the answer hears of a refusal; nobody else need.
    answer.then((members) => {
      if (taken || socket.readyState !== WebSocket.OPEN) return;
      socket.send(JSON.stringify({ mt: 'AppLogin', ...members }));
      sent = asked;
      const first = firstList(members);
      if (!first) return;
      socket.send(first);
      requested.push(first);
    }, () => {});
  };
  // The first date format loads the locale's data (about 20 ms), which the
  // first list needs: done now, while the page waits for the client's files.
  setTimeout(() => new Intl.DateTimeFormat(undefined, { hour: 'numeric' }).format(0));
  mode.then((how) => (sip = how.sip || null) && login(), () => {});
  socket.onopen = () => socket.send(JSON.stringify({ mt: 'AppChallenge' }));
  socket.onmessage = (e) => {
    received.push(e.data);
    try {
      const msg = JSON.parse(e.data);
      if (msg.mt === 'AppChallengeResult') challenge = msg.challenge;
    } catch {
      return;
    }
    login();
  };

  // {path, mode (the promise of loginMode), socket (sends "AppChallenge" as it
  // opens), received (its messages' texts until the client takes it over),
  // requested (the texts of the requests it sent after its login), answers
  // (challenge -> the promise of the platform's answer on the cookie)} and the
  // platform's calls.
  return {
    path, mode, socket, received, requested, answers, loginMode, socketUrl,
    // The texts of the requests to send right after an "AppLogin" with these
    // members, for the client when it sends the login itself.
    firstRequests: (members) => [firstList(members)].filter(Boolean),
    // The client takes the socket over: the challenge for which "AppLogin" was
    // sent from here, if any.
    take() {
      taken = true;
      return sent;
    },
    // The platform's answer for a websocket's challenge: the one already
    // asked for on the cookie, or else asked for now.
    answerFor(challenge, creds) {
      const asked = answers.get(challenge);
      answers.delete(challenge);
      return asked && !creds ? asked : platformLogin(path, challenge, creds);
    },
    logout: () => fetch('/platform/logout', { method: 'POST', credentials: 'same-origin' }).catch(() => {}),
  };
})();
