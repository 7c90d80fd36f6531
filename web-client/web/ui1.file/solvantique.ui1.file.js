// Files in and out: picking and dropping, uploads into the service's file
// buffers with progress, and the list of a message's files with image
// previews and download links.
import { h, formatSize } from '../lib1/solvantique.lib1.js';
import { icon } from '../ui1.svg/solvantique.ui1.svg.js';

export function pickFiles(multiple = true) {
  return new Promise((resolve) => {
    const input = h('input', { type: 'file', multiple, hidden: true });
    input.addEventListener('change', () => {
      resolve([...input.files]);
      input.remove();
    });
    document.body.append(input);
    input.click();
  });
}

// Files dragged over the element mark it with the class "dropping".
export function dropTarget(el, onFiles) {
  let depth = 0;
  const hasFiles = (e) => [...(e.dataTransfer?.types || [])].includes('Files');
  el.addEventListener('dragenter', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    depth++;
    el.classList.add('dropping');
  });
  el.addEventListener('dragover', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    e.dataTransfer.dropEffect = 'copy';
  });
  el.addEventListener('dragleave', () => {
    if (--depth <= 0) {
      depth = 0;
      el.classList.remove('dropping');
    }
  });
  el.addEventListener('drop', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    depth = 0;
    el.classList.remove('dropping');
    const files = [...e.dataTransfer.files];
    if (files.length) onFiles(files);
  });
}

// Sends a file into a buffer; createBuffer(name) resolves to the service's
// "CreateFileBufferResult". Resolves to the buffer's URL for "attach".
export async function upload(file, createBuffer, onProgress = () => {}) {
  const buffer = await createBuffer(file.name);
  if (!buffer || !buffer.url) throw new Error('no buffer');
  // The URL names the host the service saw; the page's own origin is the one to use.
  const path = new URL(buffer.url, location.href).pathname;
  await new Promise((resolve, reject) => {
    const xhr = new XMLHttpRequest();
    xhr.open('POST', path);
    xhr.setRequestHeader('Content-Type', 'application/octet-stream');
    xhr.upload.onprogress = (e) => onProgress(e.loaded, e.lengthComputable ? e.total : file.size);
    xhr.onload = () => (xhr.status >= 200 && xhr.status < 300 ? resolve() : reject(new Error('upload ' + xhr.status)));
    xhr.onerror = () => reject(new Error('upload failed'));
    xhr.send(file);
  });
  onProgress(file.size, file.size);
  return buffer.url;
}

export function isImage(name) {
  return /\.(png|jpe?g|gif|webp|avif|bmp|svg)$/i.test(name || '');
}

// One file being uploaded: name, size and a progress bar.
export function progressRow(file, label) {
  const bar = h('progress', { max: file.size || 1, value: 0, 'aria-label': label });
  const node = h('div', { class: 'file-row uploading' }, icon('file'), h('span', { class: 'file-name', text: file.name }), h('span', { class: 'file-size', text: formatSize(file.size) }), bar);
  node.progress = (loaded, total) => {
    bar.max = total || 1;
    bar.value = loaded;
  };
  return node;
}

// files: [{name, url}]; images show a preview that opens the file.
export function fileList(files, downloadLabel) {
  return h('div', { class: 'files' }, files.map((f) => {
    const label = downloadLabel(f.name);
    if (isImage(f.name)) {
      return h('a', { class: 'file-image', href: f.url, target: '_blank', rel: 'noopener', 'aria-label': label, title: f.name },
        h('img', { src: f.url, alt: f.name, loading: 'lazy', decoding: 'async' }));
    }
    return h('a', { class: 'file-row', href: f.url, download: f.name, 'aria-label': label }, icon('file'), h('span', { class: 'file-name', text: f.name }), icon('download'));
  }));
}
