// What a person sees of logging in: the form, whose password goes only to
// the platform, once (afterwards its cookie logs the browser in again), and
// the notices shown while the page cannot show more.
import { h, fill } from './web/lib1/solvantique.lib1.js';
import { T } from './solvantique.messagesTexts.js';

// Shows the login form until the person sends it; resolves to {sip, password}.
export function loginForm(root, mode, error) {
  return new Promise((resolve) => {
    const name = h('input', { id: 'login-sip', name: 'username', autocomplete: 'username', required: true, autocapitalize: 'none', spellcheck: false });
    const password = mode === 'open' ? null : h('input', { id: 'login-password', name: 'password', type: 'password', autocomplete: 'current-password', required: true });
    const form = h('form', { class: 'login', 'aria-labelledby': 'login-title' },
      h('img', { class: 'login-logo', src: 'solvantique-messages.png', alt: '', width: 44, height: 44 }),
      h('h1', { id: 'login-title', text: T.loginTitle }),
      mode === 'open' ? h('p', { class: 'hint', text: T.loginOpenHint }) : null,
      h('div', { class: 'field' }, h('label', { for: 'login-sip', text: T.loginName }), name),
      password ? h('div', { class: 'field' }, h('label', { for: 'login-password', text: T.loginPassword }), password) : null,
      error ? h('p', { class: 'error', role: 'alert', text: error }) : null,
      h('button', { type: 'submit', class: 'button primary', text: T.loginButton }));
    form.addEventListener('submit', (e) => {
      e.preventDefault();
      const sip = name.value.trim();
      if (!sip) return;
      form.querySelector('button').disabled = true;
      resolve({ sip, password: password?.value || '' });
    });
    fill(root, h('div', { class: 'login-page' }, form));
    name.focus();
  });
}

export function notice(root, text, busy = false) {
  fill(root, h('div', { class: 'login-page' }, h('div', { class: 'login', role: busy ? 'status' : 'alert' }, h('img', { class: 'login-logo', src: 'solvantique-messages.png', alt: '', width: 44, height: 44 }), h('p', { text }))));
}
