// The values the page has read, kept for the CSV export: one row per value shown, with the time
// of the reply. UTF-8 with a byte order mark, which spreadsheets take for UTF-8, and a header.
export const VALUE_LOG_LIMIT = 100000;
const HEADER = ['time', 'name', 'value', 'unit'];
// A text a spreadsheet would take for a formula; such a name or unit is written with a leading
// apostrophe, so that an imported map file cannot run formulas.
const FORMULA_START = /^[=+\-@\t\r]/;

const pad = (n, width = 2) => String(n).padStart(width, '0');

/** Local time, to the millisecond, as spreadsheets read it: 2025-03-01 14:05:09.120. */
export function timeStamp(date) {
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())} ` +
    `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}.${pad(date.getMilliseconds(), 3)}`;
}

function field(text) {
  return /[",\r\n]|^\s|\s$/.test(text) ? `"${text.replace(/"/g, '""')}"` : text;
}

const safeText = (text) => (FORMULA_START.test(text) ? `'${text}` : text);

export class ValueLog {
  #rows = [];
  #limit;

  constructor(limit = VALUE_LOG_LIMIT) {
    this.#limit = limit;
  }

  get size() { return this.#rows.length; }

  /** One value: its time, name, the value's text and unit; the oldest go beyond the limit. */
  add(time, name, value, unit) {
    this.#rows.push([timeStamp(time), safeText(name), value, safeText(unit)]);
    if (this.#rows.length > this.#limit) this.#rows.splice(0, this.#rows.length - this.#limit);
  }

  clear() { this.#rows = []; }

  /** The CSV file's text: byte order mark, header, one line per value, CRLF line ends. */
  csv() {
    const lines = [HEADER, ...this.#rows].map((row) => row.map(field).join(','));
    return `\uFEFF${lines.join('\r\n')}\r\n`;
  }
}
