// The pages' entry: log in, open the connection, and put the model and
// the views in place. The page says which view it is in <body data-view>.
import { h, fill, param } from './web/lib1/solvantique.lib1.js';
import { Connection } from './web/appwebsocket/solvantique.appwebsocket.Connection.js';
import { popupTexts } from './web/ui1.popup/solvantique.ui1.popup.js';
import { spinner } from './web/ui1.lib/solvantique.ui1.lib.js';
import { Model } from './solvantique.messages.model.js';
import { Controller } from './solvantique.messages.controller.js';
import { loginForm, notice } from './solvantique.messages.login.js';
import { T } from './solvantique.messagesTexts.js';

// What the page's classic script solvantique.messages.early.js started.
const early = window.messagesEarly;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// The page's layout and the route it is fixed to, if any.
function pageMode() {
  const view = document.body.dataset.view || 'messages';
  if (view === 'discussion') return { mode: 'discussion', fixed: { view: 'discussion', id: Number(param('id')) || 0, topic: param('topic') || undefined, time: Number(param('t')) || 0 } };
  if (view.startsWith('topic')) return { mode: 'topic', readOnly: view === 'topic-readonly', fixed: { view: 'topic', topic: param('topic') || undefined } };
  return { mode: 'full' };
}

// The administration view is read only when it is opened.
function manager(app) {
  const box = h('div', { class: 'view manage-view' }, spinner(T.loading));
  let view = null;
  if (!document.querySelector('link[href="solvantique.ManagerMessages.css"]')) document.head.append(h('link', { rel: 'stylesheet', href: 'solvantique.ManagerMessages.css' }));
  import('./solvantique.ManagerMessages.js').then((m) => {
    if (!box.isConnected) return;
    view = new m.ManagerView(app);
    box.replaceWith(view.el);
  });
  return { el: box, dispose: () => view?.dispose() };
}

export async function start() {
  popupTexts.close = T.close;
  popupTexts.cancel = T.cancel;
  const root = document.getElementById('messages');
  const path = early.path;
  const page = pageMode();
  notice(root, T.loading, true);
  let how;
  for (let asked = early.mode; ; asked = early.loginMode(path)) {
    try {
      how = await asked;
      break;
    } catch (err) {
      if (err.status === 404) return notice(root, T.loginNoApp);
      notice(root, T.loginTrouble, true);
      await sleep(3000);
    }
  }
  let creds = how.sip ? null : await loginForm(root, how.mode);
  let model = null;
  let typed = false;
  const conn = new Connection({
    url: early.socketUrl(path),
    early,
    login: async (challenge) => {
      typed = !!creds;
      const answer = await early.answerFor(challenge, creds);
      creds = null;
      if (model && answer.sip !== model.me) {
        // Somebody else logged in: nothing of the first person may stay.
        location.reload();
        throw new Error('another person');
      }
      if (!model) {
        model = new Model(conn, answer, path);
        // The views are built while the service checks the login, not before it is sent.
        setTimeout(() => new Controller(root, model, {
          ...page,
          manager,
          logout: async () => {
            conn.stop();
            await early.logout();
            location.reload();
          },
        }));
      }
      return answer;
    },
  });
  conn.on('loginFailed', async (err) => {
    // Mid-session the form covers the page; what was typed stays below it.
    const place = model ? document.body.appendChild(h('div', { class: 'login-overlay' })) : root;
    const error = !typed ? null : err?.status === 400 ? T.loginUnusable : T.loginWrong;
    creds = await loginForm(place, how.mode, error);
    if (place !== root) place.remove();
    else fill(root, h('div', { class: 'login-page' }, spinner(T.stateLogin)));
    conn.start();
  });
  conn.start();
}

start();
