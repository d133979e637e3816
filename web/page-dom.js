// Small helpers the page's scripts share for building table rows and handing files to the user.
export const $ = (id) => document.getElementById(id);

export const hex16 = (v) => '0x' + (v & 0xFFFF).toString(16).toUpperCase().padStart(4, '0');

export function cell(className, ...content) {
  const td = document.createElement('td');
  if (className) td.className = className;
  td.append(...content);
  return td;
}

export function span(className, text) {
  const s = document.createElement('span');
  s.className = className;
  s.textContent = text;
  return s;
}

export function option(value, text = value) {
  const o = document.createElement('option');
  o.value = String(value);
  o.textContent = text;
  return o;
}

/** Offers the blob to the user as a file of this name, as a link with download does. */
export function download(blob, name) {
  const url = URL.createObjectURL(blob);
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  // Some browsers read the blob only after the click has been handled: freed a minute later.
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

/** A name for a file made now: prefix-20250301-140509.ext. */
export function fileName(prefix, extension, date = new Date()) {
  const p = (n) => String(n).padStart(2, '0');
  return `${prefix}-${date.getFullYear()}${p(date.getMonth() + 1)}${p(date.getDate())}-` +
    `${p(date.getHours())}${p(date.getMinutes())}${p(date.getSeconds())}.${extension}`;
}
