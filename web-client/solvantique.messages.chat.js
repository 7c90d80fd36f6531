// A chat with one person or a group: the messages oldest first, earlier
// ones read as one scrolls up, and a composer.
import { h, fill } from './web/lib1/solvantique.lib1.js';
import { spinner } from './web/ui1.lib/solvantique.ui1.lib.js';
import { WindowedList } from './web/ui1.scrolling/solvantique.ui1.scrolling.js';
import { Editor } from './web/ui1.editor/solvantique.ui1.editor.js';
import { avatar } from './web/com.solvantique.avatar/com.solvantique.avatar.js';
import { icon } from './web/ui1.svg/solvantique.ui1.svg.js';
import { ChatFeed } from './solvantique.messages.feeds.js';
import { messageItem } from './solvantique.messages.item.js';
import { NewBelow } from './solvantique.messages.discussion.js';
import { T, fmt } from './solvantique.messagesTexts.js';

export class ChatView {
  constructor(app, sip) {
    this.app = app;
    const chat = app.model.chats.get(sip) || app.model.openChat(sip);
    const name = chat.dn || sip;
    this.feed = new ChatFeed(app.model, sip);
    this.list = new WindowedList({
      label: fmt(T.chatWith, { name }), estimate: 80, bottom: true, className: 'chat',
      render: (key) => messageItem(app, this.feed.get(key), { chat: true }), onNearStart: () => this.feed.more(),
    });
    this.below = new NewBelow(this.list, app.model);
    this.editor = new Editor({
      label: fmt(T.chatPlaceholder, { name }), placeholder: fmt(T.chatPlaceholder, { name }), texts: T, hint: T.enterHint, files: true,
      draftKey: 'chat:' + sip, people: () => app.model.peopleList(), tags: (p) => app.model.tags(p),
      onSend: ({ text, files }) => {
        app.model.post({ topic: app.model.me, type: 1, notify: [sip], text, files });
        this.list.scrollToBottom();
        return true;
      },
    });
    this.title = h('h2', { text: name });
    this.el = h('section', { class: 'view chat-view', 'aria-label': fmt(T.chatWith, { name }) },
      h('header', { class: 'view-head' }, app.backButton('nav'), chat.grp ? icon('users') : avatar(sip, name, 28), this.title,
        chat.grp ? h('span', { class: 'chip', text: T.group }) : null),
      h('div', { class: 'list-box' }, this.list.el, this.below.el),
      h('div', { class: 'reply-box' }, this.editor.el));
    this.feed.on('change', () => {
      this.list.setKeys(this.feed.keys);
      this.below.check(this.feed);
      this.list.setBusy(this.feed.loading);
      fill(this.list.header, this.feed.loading ? spinner(T.earlier) : null);
      fill(this.list.footer, this.feed.loaded && !this.feed.keys.length ? h('p', { class: 'empty', text: T.noChatMessages }) : null);
    });
    this.feed.on('item', (key) => this.list.refresh(key));
    this.feed.on('reset', () => this.list.refreshAll());
    // The name may be learnt after the chat was opened.
    this.off = app.model.on('chats', () => {
      const dn = app.model.chats.get(sip)?.dn;
      if (dn) this.title.textContent = dn;
    });
    this.feed.load();
  }

  focus() {
    this.editor.focus();
  }

  dispose() {
    this.feed.dispose();
    this.off();
  }
}
