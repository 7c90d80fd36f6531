// Browser notifications for mentions and chat messages while the page is
// not seen, and the unread count on the tab's title and icon.
import { store } from './web/lib1/solvantique.lib1.js';
import { toast } from './web/ui1.popup/solvantique.ui1.popup.js';
import { plainLine } from './solvantique.messages.text.js';
import { badge } from './solvantique.messagesColors.js';
import { T, fmt } from './solvantique.messagesTexts.js';

export class Notifier {
  constructor(app) {
    this.app = app;
    this.supported = 'Notification' in window;
    this.icon = new URL('solvantique-messages.png', location.href).href;
    app.model.on('notify', (n) => this.#show(n));
  }

  get on() {
    return this.supported && Notification.permission === 'granted' && store.get('notify', true);
  }

  // The main menu's entry; the browser asks for permission only on this click.
  item() {
    if (!this.supported) return null;
    if (Notification.permission === 'denied') return { label: T.notifyBlocked, icon: 'bellOff', action: () => toast(T.notifyBlocked) };
    if (this.on) return { label: T.notifyOff, icon: 'bell', action: () => store.set('notify', false) };
    return {
      label: T.notifyOn, icon: 'bellOff',
      action: async () => {
        store.set('notify', true);
        if (Notification.permission === 'default') await Notification.requestPermission();
        if (Notification.permission === 'denied') toast(T.notifyBlocked);
      },
    };
  }

  #show({ kind, msg }) {
    if (!this.on || !document.hidden) return;
    const name = msg.dn || this.app.model.people.get(msg.author) || msg.author;
    const n = new Notification(fmt(kind === 'chat' ? T.notifyChat : T.notifyMention, { name }), {
      body: plainLine(msg.text, 160), tag: 'm' + msg.id, icon: this.icon,
    });
    n.onclick = () => {
      focus();
      const partner = msg.author;
      this.app.go(kind === 'chat' ? { view: 'chat', sip: partner } : { view: 'discussion', id: msg.addsTo, topic: msg.topic });
      n.close();
    };
  }
}

// "(3) Messages" and a badge on the tab's icon.
export class TabBadge {
  constructor(title) {
    this.title = title;
    this.count = -1;
    this.link = document.querySelector('link[rel="icon"]') || Object.assign(document.createElement('link'), { rel: 'icon' });
    document.head.append(this.link);
    this.base = this.link.href || new URL('solvantique-messages.png', location.href).href;
    this.image = null;
  }

  set(n) {
    if (n === this.count) return;
    this.count = n;
    document.title = (n ? `(${n > 99 ? '99+' : n}) ` : '') + this.title;
    // A canvas costs milliseconds that an opening with nothing unread need not pay.
    if (!n) {
      if (this.image) this.image.onload = null;
      if (this.link.href !== this.base) this.link.href = this.base;
      return;
    }
    this.image ||= Object.assign(new Image(), { src: this.base });
    const draw = () => {
      const c = document.createElement('canvas');
      c.width = c.height = 32;
      const g = c.getContext('2d');
      if (this.image.complete && this.image.naturalWidth) g.drawImage(this.image, 0, 0, 32, 32);
      g.fillStyle = badge.background;
      g.beginPath();
      g.arc(23, 9, 9, 0, Math.PI * 2);
      g.fill();
      g.fillStyle = badge.text;
      g.font = 'bold 13px sans-serif';
      g.textAlign = 'center';
      g.textBaseline = 'middle';
      g.fillText(n > 9 ? '9+' : String(n), 23, 10);
      this.link.href = c.toDataURL('image/png');
    };
    if (this.image.complete) draw();
    else this.image.onload = draw;
  }
}
