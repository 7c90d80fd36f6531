// A discussion: its first message, the replies in the order they came
// (older ones read as one scrolls up), a composer for replies, and read
// marks for what has been on screen.
import { h, fill } from './web/lib1/solvantique.lib1.js';
import { iconButton, spinner } from './web/ui1.lib/solvantique.ui1.lib.js';
import { icon } from './web/ui1.svg/solvantique.ui1.svg.js';
import { WindowedList } from './web/ui1.scrolling/solvantique.ui1.scrolling.js';
import { Editor } from './web/ui1.editor/solvantique.ui1.editor.js';
import { DiscussionFeed } from './solvantique.messages.feeds.js';
import { messageItem } from './solvantique.messages.item.js';
import { plainLine } from './solvantique.messages.text.js';
import { T, fmt } from './solvantique.messagesTexts.js';

// Marks messages read once they have been on screen for a moment, while
// the page is seen.
export class ReadWatcher {
  constructor(model, root) {
    this.model = model;
    this.timers = new Map();
    this.io = new IntersectionObserver((entries) => {
      for (const e of entries) {
        const msg = e.target.msg;
        if (!msg) continue;
        if (e.isIntersecting) {
          if (!this.timers.has(msg)) this.timers.set(msg, setTimeout(() => this.#seen(msg, e.target), 600));
        } else {
          clearTimeout(this.timers.get(msg));
          this.timers.delete(msg);
        }
      }
    }, { root, threshold: 0.5 });
    this.onVisible = () => {
      if (document.hidden) return;
      for (const node of root.querySelectorAll('.msg.unread')) this.#watch(node);
    };
    document.addEventListener('visibilitychange', this.onVisible);
    addEventListener('focus', this.onVisible);
  }

  watch(node, msg) {
    node.msg = msg;
    if (msg.read || msg.author === this.model.me || msg.pending) return;
    this.#watch(node);
  }

  #watch(node) {
    this.io.unobserve(node);
    this.io.observe(node);
  }

  #seen(msg, node) {
    this.timers.delete(msg);
    if (document.hidden || !node.isConnected) return;
    this.io.unobserve(node);
    this.model.markRead(msg);
  }

  dispose() {
    this.io.disconnect();
    this.timers.forEach((t) => clearTimeout(t));
    document.removeEventListener('visibilitychange', this.onVisible);
    removeEventListener('focus', this.onVisible);
  }
}

// A button over a conversation read back, when something new came below.
export class NewBelow {
  constructor(list, model) {
    this.list = list;
    this.model = model;
    this.last = null;
    this.el = h('button', { type: 'button', class: 'new-below', hidden: true, onclick: () => list.scrollToBottom() }, icon('down'), T.newBelow);
    list.el.addEventListener('scroll', () => list.atBottom() && (this.el.hidden = true), { passive: true });
  }

  // After the list's items changed: a new last item from somebody else, out of sight.
  check(feed) {
    const key = feed.keys[feed.keys.length - 1];
    const msg = key && feed.get(key);
    if (this.last && key !== this.last && msg && msg.author !== this.model.me && !this.list.atBottom()) this.el.hidden = false;
    this.last = key;
  }
}

export class DiscussionView {
  constructor(app, discussion, topic, time) {
    this.app = app;
    this.discussion = discussion;
    this.replyTo = null;
    this.feed = new DiscussionFeed(app.model, discussion, topic, time);
    this.list = new WindowedList({
      label: T.repliesOf, estimate: 96, bottom: true, className: 'replies',
      render: (key) => this.#render(key), onNearStart: () => this.feed.more(),
    });
    this.reads = new ReadWatcher(app.model, this.list.el);
    this.below = new NewBelow(this.list, app.model);
    this.rootBox = h('div', { class: 'root' });
    this.loader = h('div', { class: 'older' });
    this.list.header.append(this.rootBox, this.loader);
    this.title = h('h2', { text: app.model.topicName(topic) });
    this.replyNote = h('div', { class: 'reply-note', hidden: true });
    this.editor = app.readOnly ? null : new Editor({
      label: T.reply, placeholder: T.replyPlaceholder, texts: T, hint: T.enterHint, files: true, draftKey: 'disc:' + discussion,
      people: () => app.model.peopleList(), tags: (p) => app.model.tags(p),
      onEscape: () => (this.replyTo ? this.setReplyTo(null) : app.closeDiscussion()),
      onSend: ({ text, files }) => {
        const root = this.feed.root;
        if (!root) return false;
        app.model.post({ topic: root.topic, text, files, addsTo: this.discussion, repliesTo: this.replyTo?.id || root.id });
        this.setReplyTo(null);
        this.list.scrollToBottom();
        return true;
      },
    });
    this.el = h('section', { class: 'view discussion-view', 'aria-label': T.repliesOf },
      h('header', { class: 'view-head' },
        app.backButton('middle'),
        this.title,
        iconButton('close', T.closeDiscussion, () => app.closeDiscussion(), { class: 'icon-button close-discussion' })),
      h('div', { class: 'list-box' }, this.list.el, this.below.el),
      this.editor ? h('div', { class: 'reply-box' }, this.replyNote, this.editor.el) : null);
    this.offs = [
      app.model.on('message', (msg) => msg === this.feed.root && this.#root()),
      app.model.on('posted', (msg) => msg.addsTo === this.discussion && this.list.scrollToBottom()),
    ];
    this.feed.on('change', () => this.#sync());
    this.feed.on('item', (key) => this.list.refresh(key));
    this.feed.on('reset', () => this.list.refreshAll());
    this.feed.on('gone', () => app.closeDiscussion());
    this.#root();
    this.feed.load();
  }

  focus() {
    this.editor?.focus();
  }

  setReplyTo(msg) {
    this.replyTo = msg;
    this.replyNote.hidden = !msg;
    if (msg) {
      const name = msg.author === this.app.model.me ? this.app.model.dn : msg.dn || msg.author;
      fill(this.replyNote, h('span', { text: fmt(T.replyTo, { name }) + ': ' + plainLine(msg.text, 60) }),
        iconButton('close', T.cancelReply, () => this.setReplyTo(null)));
      this.editor?.focus();
    }
  }

  #root() {
    const root = this.feed.root;
    if (!root) {
      fill(this.rootBox, this.feed.missing ? h('p', { class: 'empty', text: T.notFound }) : spinner(T.loading));
      return;
    }
    this.title.textContent = this.app.model.topicName(root.topic);
    const node = messageItem(this.app, root, { onReply: () => this.setReplyTo(null) || this.editor?.focus() });
    node.tabIndex = -1;
    node.setAttribute('role', 'article');
    fill(this.rootBox, node);
    this.reads.watch(node, root);
  }

  #sync() {
    this.list.setKeys(this.feed.keys);
    this.below.check(this.feed);
    this.list.setBusy(this.feed.loading);
    fill(this.loader, this.feed.loading && this.feed.keys.length ? spinner(T.earlier) : null);
    this.#root();
    if (!this.feed.loading && this.feed.loaded && !this.feed.keys.length) fill(this.list.footer, h('p', { class: 'empty small', text: T.noReplies }));
    else fill(this.list.footer);
  }

  #render(key) {
    const msg = this.feed.get(key);
    const node = messageItem(this.app, msg, { onReply: (m) => this.setReplyTo(m) });
    this.reads.watch(node, msg);
    return node;
  }

  dispose() {
    this.feed.dispose();
    this.reads.dispose();
    this.offs.forEach((off) => off());
  }
}
