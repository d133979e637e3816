// The card "Карта регистров": the map's entries as editable rows, kept in the page's storage,
// saved to a file and read from one. Every change is checked before it is kept; a wrong value
// or file is shown with its reason and changes nothing.
import { BYTE_ORDERS, VALUE_TYPES } from './client/modbus-bridge.js';
import { $, cell, download, hex16, option } from './page-dom.js';
import {
  MAP_FUNCTIONS, MapError, checkEntry, checkMap, findEntry, loadMap, mapFileText, readMapFile, saveMap,
} from './register-map.js';

const STORAGE_KEY = 'modbus-bridge-demo-map';
const FILE_NAME = 'register-map.json';

function input(field, value, className = '') {
  const el = document.createElement('input');
  el.dataset.field = field;
  el.value = value;
  el.className = className;
  el.autocomplete = 'off';
  el.spellcheck = false;
  return el;
}

function select(field, values, chosen, text = String) {
  const el = document.createElement('select');
  el.dataset.field = field;
  el.append(...values.map((v) => option(v, text(v))));
  el.value = String(chosen);
  return el;
}

// A number as typed: decimal with a point or a comma, or 0x hexadecimal; NaN when it is neither.
function typedNumber(text) {
  const t = text.trim();
  if (/^0x[0-9a-f]+$/i.test(t)) return parseInt(t.slice(2), 16);
  return t === '' ? NaN : Number(t.replace(',', '.'));
}

/**
 * Sets the card up; onChange(entries) follows every change of the map. Returns the map's
 * entries (read only), find(fc, address), and set(entry) and remove(fc, address) for the
 * register table's type choices.
 */
export function setupMapCard({ onChange }) {
  let entries = [];
  let storageError = '';
  try {
    entries = loadMap(localStorage, STORAGE_KEY);
  } catch (e) {
    storageError = e.message;
  }

  function showError(text) {
    const box = $('map-error');
    box.hidden = text === '';
    box.textContent = text;
  }

  // The rows are drawn again unless they already show the change, which keeps the focus of a
  // user who tabs from field to field.
  function keep(next, redraw = true) {
    entries = checkMap(next);
    if (!saveMap(localStorage, STORAGE_KEY, entries)) showError('Браузер не сохраняет карту: хранилище страницы недоступно.');
    if (redraw) render();
    onChange(entries);
  }

  function rowEntry(row) {
    const value = (field) => row.querySelector(`[data-field="${field}"]`).value;
    return {
      name: value('name'),
      function: Number(value('function')),
      address: typedNumber(value('address')),
      type: value('type'),
      order: value('order'),
      scale: typedNumber(value('scale')),
      unit: value('unit'),
    };
  }

  function edited(row, index) {
    for (const el of row.querySelectorAll('.invalid')) el.classList.remove('invalid');
    try {
      const next = [...entries];
      next[index] = checkEntry(rowEntry(row), `Строка ${index + 1}`);
      keep(next, false);
      showError('');
    } catch (e) {
      if (!(e instanceof MapError)) throw e;
      const field = row.querySelector(`[data-field="${e.field}"]`);
      if (field) field.classList.add('invalid');
      showError(e.message);
    }
  }

  function render() {
    const body = $('map-rows');
    body.textContent = '';
    entries.forEach((entry, index) => {
      const row = document.createElement('tr');
      row.dataset.function = String(entry.function);
      row.dataset.address = String(entry.address);
      const remove = document.createElement('button');
      remove.type = 'button';
      remove.className = 'small map-remove';
      remove.textContent = '×';
      remove.title = 'Удалить из карты';
      remove.addEventListener('click', () => keep(entries.filter((_, i) => i !== index)));
      row.append(
        cell('', input('name', entry.name, 'map-name')),
        cell('', select('function', MAP_FUNCTIONS, entry.function, (fc) => (fc === 3 ? '3 хр.' : '4 вх.'))),
        cell('', input('address', hex16(entry.address), 'map-address')),
        cell('', select('type', VALUE_TYPES, entry.type)),
        cell('', select('order', BYTE_ORDERS, entry.order)),
        cell('', input('scale', String(entry.scale), 'map-scale')),
        cell('', input('unit', entry.unit, 'map-unit')),
        cell('', remove));
      row.addEventListener('change', () => edited(row, index));
      body.append(row);
    });
    $('map-empty').hidden = entries.length > 0;
    $('map-caption').textContent = entries.length ? `— ${entries.length}` : '';
  }

  function add() {
    // The first holding address after the entries there are.
    let address = 0;
    for (const e of entries) if (e.function === 3) address = Math.max(address, e.address + 1);
    if (address > 0xFFFF) address = 0;
    while (findEntry(entries, 3, address)) address++;
    keep([...entries, checkEntry({ function: 3, address })]);
    $('map-rows').lastElementChild.querySelector('[data-field="name"]').focus();
  }

  async function importFile(file) {
    try {
      const read = readMapFile(await file.text());
      keep(read);
      showError('');
      $('map-status').textContent = `Из файла ${file.name} загружено регистров: ${read.length}.`;
    } catch (e) {
      if (!(e instanceof MapError)) throw e;
      showError(`Файл ${file.name} не загружен. ${e.message}`);
    }
  }

  $('map-add').addEventListener('click', add);
  $('map-export').addEventListener('click', () => {
    download(new Blob([mapFileText(entries)], { type: 'application/json' }), FILE_NAME);
  });
  $('map-import').addEventListener('change', () => {
    const file = $('map-import').files[0];
    $('map-import').value = '';
    if (file) importFile(file);
  });
  render();
  showError(storageError);

  return {
    get entries() { return entries; },
    find: (fc, address) => findEntry(entries, fc, address),
    set(entry) {
      const others = entries.filter((e) => !(e.function === entry.function && e.address === entry.address));
      keep([...others, checkEntry(entry)].sort((a, b) => a.function - b.function || a.address - b.address));
    },
    remove: (fc, address) => keep(entries.filter((e) => !(e.function === fc && e.address === address))),
  };
}
