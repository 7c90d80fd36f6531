// A topic: its discussions, latest activity first, older ones read as the
// list is scrolled, and a composer that starts a new discussion.
import { h, fill } from './web/lib1/solvantique.lib1.js';
import { iconButton, spinner } from './web/ui1.lib/solvantique.ui1.lib.js';
import { WindowedList } from './web/ui1.scrolling/solvantique.ui1.scrolling.js';
import { Editor } from './web/ui1.editor/solvantique.ui1.editor.js';
import { TopicFeed } from './solvantique.messages.feeds.js';
import { discussionItem } from './solvantique.messages.item.js';
import { T, fmt } from './solvantique.messagesTexts.js';

// Puts the loading, end and empty notes below a feed's list.
export function feedFooter(list, feed, empty) {
  const node = feed.loading ? spinner(feed.keys.length ? T.more : T.loading)
    : !feed.keys.length && feed.loaded ? h('p', { class: 'empty', text: empty })
      : feed.done && feed.keys.length > 8 ? h('p', { class: 'end', text: T.end }) : null;
  fill(list.footer, node);
  list.setBusy(feed.loading);
}

export class TopicView {
  constructor(app, topic) {
    this.app = app;
    this.topic = topic;
    this.selected = null;
    const name = app.model.topicName(topic);
    // The read goes out before the view is built: the service works on it meanwhile.
    this.feed = new TopicFeed(app.model, topic);
    this.feed.load();
    this.list = new WindowedList({
      label: fmt(T.discussionsOf, { topic: name }), estimate: 118, className: 'discussions',
      render: (key) => this.#render(key), onNearEnd: () => this.feed.more(),
    });
    const composer = app.readOnly ? h('p', { class: 'note', text: T.readOnly }) : new Editor({
      label: fmt(T.newDiscussionIn, { topic: name }), placeholder: fmt(T.newDiscussionIn, { topic: name }), texts: T, hint: T.enterHint, files: true,
      draftKey: 'topic:' + topic, people: () => app.model.peopleList(), tags: (p) => app.model.tags(p),
      onSend: ({ text, files }) => {
        app.model.post({ topic, text, files });
        this.list.el.scrollTop = 0;
        return true;
      },
    }).el;
    this.title = h('h2', { text: name });
    this.el = h('section', { class: 'view topic-view', 'aria-label': name },
      h('header', { class: 'view-head' },
        app.backButton('nav'),
        this.title,
        iconButton('search', fmt(T.searchIn, { topic: name }), () => app.searchIn(topic))),
      h('div', { class: 'new-discussion' }, composer),
      this.list.el);
    this.off = app.model.on('topics', () => (this.title.textContent = app.model.topicName(topic)));
    this.feed.on('change', () => this.#sync());
    // Rows as they come change the keys only: the footer stays until the page is read.
    this.feed.on('grow', () => this.list.setKeys(this.feed.keys));
    this.feed.on('item', (key) => this.list.refresh(key));
    this.feed.on('reset', () => this.list.refreshAll());
    this.#sync();
  }

  #sync() {
    this.list.setKeys(this.feed.keys);
    feedFooter(this.list, this.feed, T.noDiscussions);
  }

  #render(key) {
    const root = this.feed.get(key);
    const node = discussionItem(this.app, root, root.addsTo === this.selected);
    const open = () => root.addsTo && !root.pending && this.app.go({ view: 'discussion', id: root.addsTo, topic: this.topic });
    node.addEventListener('click', (e) => !e.target.closest('a, button') && open());
    node.addEventListener('keydown', (e) => e.key === 'Enter' && e.target === node && open());
    return node;
  }

  select(discussion) {
    const old = this.selected;
    this.selected = discussion;
    for (const root of [old, discussion].map((d) => d && this.app.model.rootOf(d))) if (root) this.list.refresh(root.key);
  }

  dispose() {
    this.feed.dispose();
    this.off();
  }
}
