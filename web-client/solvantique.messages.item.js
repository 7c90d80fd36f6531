// One message as the lists show it: author, time, text, files, likes and
// what its author or reader may do with it; and the short form of a
// discussion in a topic's list.
import { h, shortTime, longTime } from './web/lib1/solvantique.lib1.js';
import { icon } from './web/ui1.svg/solvantique.ui1.svg.js';
import { iconButton, badge, spinner } from './web/ui1.lib/solvantique.ui1.lib.js';
import { menu, popover, confirmDialog, toast } from './web/ui1.popup/solvantique.ui1.popup.js';
import { avatar } from './web/com.solvantique.avatar/com.solvantique.avatar.js';
import { fileList, progressRow } from './web/ui1.file/solvantique.ui1.file.js';
import { Editor } from './web/ui1.editor/solvantique.ui1.editor.js';
import { blocks, splitFiles, plainLine } from './solvantique.messages.text.js';
import { T, fmt, count } from './solvantique.messagesTexts.js';

export function textContext(app, marks) {
  return { me: app.model.me, people: app.model.people, marks, tagHref: (tag) => app.href({ view: 'tag', tag }) };
}

function nameOf(app, msg) {
  if (msg.author === app.model.me) return app.model.dn;
  return msg.dn || app.model.people.get(msg.author) || msg.author;
}

function timeNode(ms) {
  return h('time', { datetime: ms ? new Date(ms).toISOString() : null, title: longTime(ms), text: shortTime(ms) });
}

// The files of a message: named in its text, listed by the service.
function filesOf(app, msg, names) {
  if (msg.pending && msg.files?.length) {
    return h('div', { class: 'files' }, msg.files.map((f) => {
      const row = progressRow(f, fmt(T.uploading, { name: f.name }));
      row.progress(f.loaded, f.size);
      return row;
    }));
  }
  // Rows that list their files ("attached": [{url, name}]) need no question;
  // rows that only say they have some ("attached": true or a count) are asked.
  if (Array.isArray(msg.attached) && msg.attached.length) {
    const base = app.model.webPath + '/';
    return fileList(msg.attached.map((f) => ({ name: f.name, url: /^(https?:)?\//.test(f.url) ? f.url : base + f.url })), (name) => fmt(T.download, { name }));
  }
  if ((!names.length && !(msg.attached === true || msg.attached > 0)) || !msg.id) return null;
  if (msg.fileList) return fileList(msg.fileList, (name) => fmt(T.download, { name }));
  const box = h('div', { class: 'files' }, names.map((n) => h('span', { class: 'file-row', text: n })), names.length ? null : spinner());
  if (!msg.fileLoading) {
    msg.fileLoading = app.model.attachments(msg).then((list) => {
      // A new message's files are stored after it is confirmed: while fewer
      // than it announced are there, ask again a little later.
      const tries = (msg.fileTries || 0) + 1;
      if (typeof msg.attached === 'number' && list.length < msg.attached && tries < 30) {
        msg.fileTries = tries;
        setTimeout(() => {
          msg.fileLoading = null;
          app.model.emit('message', msg);
        }, Math.min(200 * tries, 2000));
        return;
      }
      msg.fileList = list;
      app.model.emit('message', msg);
    }, () => (msg.fileLoading = null));
  }
  return box;
}

function likeButtons(app, msg) {
  const mine = msg.author === app.model.me;
  const heart = h('button', {
    type: 'button', class: 'action like' + (msg.like ? ' on' : ''), 'aria-pressed': String(!!msg.like),
    'aria-label': msg.like ? T.unlike : T.like, title: msg.like ? T.unlike : T.like, disabled: mine || !msg.id || app.readOnly,
    onclick: () => app.model.toggleLike(msg).catch(() => toast(T.notAllowed)),
  }, icon(msg.like ? 'heartFull' : 'heart'));
  const counter = msg.likes ? h('button', {
    type: 'button', class: 'action likes', text: String(msg.likes), 'aria-label': count(msg.likes, T.oneLike, T.likes) + ', ' + T.likedBy,
    onclick: (e) => showLikers(app, msg, e.currentTarget),
  }) : null;
  return [heart, counter];
}

async function showLikers(app, msg, anchor) {
  const list = h('ul', { class: 'people' }, h('li', null, spinner(T.loading)));
  popover(anchor, [h('h3', { text: T.likedBy }), list], T.likedBy);
  const likers = await app.model.likers(msg).catch(() => []);
  list.replaceChildren(...(likers.length ? likers.map((l) => {
    const dn = l.sip === app.model.me ? app.model.dn : app.model.people.get(l.sip) || l.sip;
    return h('li', null, avatar(l.sip, dn, 24), h('span', { text: dn }), h('small', { text: shortTime(Number(l.time)) }));
  }) : [h('li', { text: T.noLikes })]));
}

function moreMenu(app, msg, node) {
  const own = msg.author === app.model.me && !app.readOnly;
  menu(node, [
    own && { label: T.edit, icon: 'edit', action: () => app.edit(msg) },
    own && { label: T.delete, icon: 'trash', danger: true, action: () => removeMessage(app, msg) },
    msg.addsTo && { label: T.copyLink, icon: 'link', action: () => copyLink(app, msg) },
  ], T.actions);
}

async function removeMessage(app, msg) {
  const ok = await confirmDialog({ title: T.deleteTitle, text: msg.repliesTo ? T.deleteText : T.deleteRootText, ok: T.delete, cancel: T.cancel, danger: true });
  if (!ok) return;
  if (await app.model.remove(msg).catch(() => false)) toast(T.deleted);
  else toast(T.notAllowed);
}

function copyLink(app, msg) {
  const root = app.model.rootOf(msg.addsTo);
  const url = new URL(app.href({ view: 'discussion', id: msg.addsTo, topic: msg.topic, time: root?.rtimestamp || msg.rtimestamp }), location.href).href;
  navigator.clipboard?.writeText(url).then(() => toast(T.copied), () => toast(url));
}

// opts: {marks, showTopic, onReply, chat}
export function messageItem(app, msg, opts = {}) {
  const mine = msg.author === app.model.me;
  const name = nameOf(app, msg);
  const { body, files } = splitFiles(msg.text);
  const state = msg.failed
    ? h('div', { class: 'msg-state failed', role: 'alert' }, T.failed, ' ',
      h('button', { type: 'button', class: 'link', text: T.retry, onclick: () => app.model.retry(msg) }), ' ',
      h('button', { type: 'button', class: 'link', text: T.discard, onclick: () => app.model.discard(msg) }))
    : msg.pending ? h('div', { class: 'msg-state', text: T.sending }) : null;
  const parent = msg.repliesTo && app.model.messages.get(msg.repliesTo);
  const quoting = parent && parent.repliesTo ? h('div', { class: 'msg-quote' }, icon('reply'), fmt(T.inReplyTo, { name: nameOf(app, parent) }), ': ', plainLine(parent.text, 80)) : null;
  const actions = msg.pending || opts.chat ? null : h('div', { class: 'msg-actions' },
    likeButtons(app, msg),
    opts.onReply && !app.readOnly ? iconButton('reply', T.reply, () => opts.onReply(msg), { class: 'action' }) : null,
    opts.showTopic ? h('a', { class: 'action open', href: app.href({ view: 'discussion', id: msg.addsTo, topic: msg.topic, time: msg.rtimestamp }), text: msg.tdn || app.model.topicName(msg.topic) }) : null,
    (mine && !app.readOnly) || msg.addsTo ? iconButton('more', T.actions, (e) => moreMenu(app, msg, e.currentTarget), { class: 'action', 'aria-haspopup': 'menu' }) : null);
  const unread = !mine && !msg.read && !msg.pending && !opts.chat;
  const text = h('div', { class: 'msg-text' }, blocks(body, textContext(app, opts.marks)));
  return h('div', { class: 'msg' + (mine ? ' mine' : '') + (unread ? ' unread' : '') + (msg.pending ? ' pending' : '') + (msg.failed ? ' failed' : ''), 'aria-label': name + ', ' + longTime(msg.timestamp) },
    avatar(msg.author, name, 36),
    h('div', { class: 'msg-main' },
      h('div', { class: 'msg-head' },
        h('span', { class: 'msg-author', text: mine ? name + ' (' + T.you + ')' : name }),
        timeNode(msg.timestamp),
        msg.edited ? h('span', { class: 'msg-edited', text: T.edited }) : null,
        unread ? h('span', { class: 'msg-new', text: T.unreadMark }) : null),
      quoting,
      app.editing === msg ? editBox(app, msg) : text,
      filesOf(app, msg, files),
      state,
      actions));
}

function editBox(app, msg) {
  const { body, files } = splitFiles(msg.text);
  const editor = new Editor({
    label: T.edit, texts: T, hint: T.enterHint, initial: body, sendIcon: 'check', people: () => app.model.peopleList(), tags: (p) => app.model.tags(p),
    onEscape: () => app.edit(null),
    onSend: ({ text }) => {
      const full = files.length ? text + '\n' + files.map((f) => '\u{1F4CE} ' + f).join('\n') : text;
      app.model.edit(msg, full).then((ok) => !ok && toast(T.notAllowed), () => toast(T.notAllowed));
      app.edit(null);
      return true;
    },
  });
  requestAnimationFrame(() => editor.focus());
  return h('div', { class: 'msg-edit' }, editor.el, h('small', { class: 'hint', text: T.enterHint }));
}

// A discussion in its topic's list: the first message, replies, unread.
export function discussionItem(app, root, selected) {
  const name = nameOf(app, root);
  const { body, files } = splitFiles(root.text);
  // A few lines are enough to recognise a discussion.
  const lines = body.split('\n');
  const preview = lines.length > 4 ? lines.slice(0, 4).join('\n') + ' \u2026' : body;
  const uploading = root.pending && root.files?.length ? root.files : null;
  const upload = uploading ? h('progress', {
    max: uploading.reduce((n, f) => n + (f.size || 0), 0) || 1, value: uploading.reduce((n, f) => n + f.loaded, 0),
    'aria-label': fmt(T.uploading, { name: uploading.map((f) => f.name).join(', ') }),
  }) : null;
  const replies = root.replies ? count(root.replies, T.oneReply, T.replies) : T.noReplies;
  return h('div', { class: 'disc' + (root.unread ? ' unread' : '') + (selected ? ' selected' : '') + (root.pending ? ' pending' : ''), 'aria-current': selected ? 'true' : null,
    'aria-label': name + ', ' + plainLine(root.text, 60) + ', ' + replies + (root.unread ? ', ' + fmt(T.unreadCount, { n: root.unread }) : '') },
  avatar(root.author, name, 36),
  h('div', { class: 'msg-main' },
    h('div', { class: 'msg-head' }, h('span', { class: 'msg-author', text: name }), timeNode(root.rtimestamp || root.timestamp)),
    h('div', { class: 'msg-text clamp' }, blocks(preview, textContext(app))),
    upload,
    h('div', { class: 'disc-foot' },
      h('span', { class: 'replies' }, icon('reply'), replies),
      root.likes ? h('span', { class: 'likes' }, icon('heart'), String(root.likes)) : null,
      files.length ? h('span', { class: 'has-files' }, icon('attach'), String(files.length)) : null,
      root.failed ? h('span', { class: 'msg-state failed', text: T.failed }) : root.pending ? h('span', { class: 'msg-state', text: T.sending }) : null,
      badge(root.unread, (n) => fmt(T.unreadCount, { n })))));
}
