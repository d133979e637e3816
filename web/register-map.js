// The register map: a name, function, address, type, byte order, scale and unit for each
// register or value of the devices. Kept in the page's storage, saved to and read from a JSON
// file, which is checked whole before it replaces the map.
import { BYTE_ORDERS, VALUE_TYPES, registerCount } from './client/modbus-bridge.js';

export const MAP_FILE_FORMAT = 'modbus-bridge-register-map';
export const MAP_FILE_VERSION = 1;
export const MAP_FUNCTIONS = Object.freeze([3, 4]);
const LONGEST_NAME = 64;
const LONGEST_UNIT = 16;
const MOST_ENTRIES = 10000;
const FUNCTION_NAMES = { 3: 'хранения', 4: 'входные' };

/** What is wrong with a map or a map file, in words for the user. */
export class MapError extends Error {
  constructor(message, field) {
    super(message);
    this.name = 'MapError';
    this.field = field;
  }
}

const shown = (value) => (typeof value === 'string' ? `«${value}»` : JSON.stringify(value) ?? String(value));

/** The label of a register without a name: "Хр. 0x0010", "Вх. 0x0002". */
export function defaultLabel(fc, address) {
  return `${fc === 4 ? 'Вх.' : 'Хр.'} 0x${address.toString(16).toUpperCase().padStart(4, '0')}`;
}

/** A clean copy of one entry, or a MapError naming the field; where says which entry it is. */
export function checkEntry(entry, where = 'Регистр') {
  if (entry === null || typeof entry !== 'object' || Array.isArray(entry)) {
    throw new MapError(`${where}: ожидается объект с полями name, function, address, type, order, scale, unit`);
  }
  const { name = '', function: fc = 3, address, type = 'uint16', order = 'ABCD', scale = 1, unit = '' } = entry;
  const fail = (field, text) => { throw new MapError(`${where}: ${text}`, field); };
  if (typeof name !== 'string' || name.length > LONGEST_NAME) fail('name', `имя — строка не длиннее ${LONGEST_NAME} знаков, а не ${shown(name)}`);
  if (!MAP_FUNCTIONS.includes(fc)) fail('function', `функция — 3 (хранения) или 4 (входные), а не ${shown(fc)}`);
  if (!Number.isInteger(address) || address < 0 || address > 0xFFFF) fail('address', `адрес — целое от 0 до 65535, а не ${shown(address)}`);
  if (!VALUE_TYPES.includes(type)) fail('type', `тип — один из ${VALUE_TYPES.join(', ')}, а не ${shown(type)}`);
  if (!BYTE_ORDERS.includes(order)) fail('order', `порядок байтов — один из ${BYTE_ORDERS.join(', ')}, а не ${shown(order)}`);
  if (typeof scale !== 'number' || !Number.isFinite(scale) || scale === 0) fail('scale', `масштаб — число, не равное 0, а не ${shown(scale)}`);
  if (typeof unit !== 'string' || unit.length > LONGEST_UNIT) fail('unit', `единица — строка не длиннее ${LONGEST_UNIT} знаков, а не ${shown(unit)}`);
  const last = address + registerCount(type) - 1;
  if (last > 0xFFFF) fail('address', `${type} с адреса ${address} выходит за адрес 65535`);
  return { name: name.trim(), function: fc, address, type, order, scale, unit: unit.trim() };
}

/** The entries checked one by one, and no two for the same function and address. */
export function checkMap(entries) {
  if (!Array.isArray(entries)) throw new MapError('В карте нет списка регистров "registers"');
  if (entries.length > MOST_ENTRIES) throw new MapError(`В карте больше ${MOST_ENTRIES} регистров`);
  const seen = new Map();
  return entries.map((entry, i) => {
    const clean = checkEntry(entry, `Регистр ${i + 1}`);
    const key = `${clean.function}:${clean.address}`;
    if (seen.has(key)) {
      throw new MapError(`Регистры ${seen.get(key) + 1} и ${i + 1}: оба — ${FUNCTION_NAMES[clean.function]} с адресом ${clean.address}`, 'address');
    }
    seen.set(key, i);
    return clean;
  });
}

/** The map file's text. */
export function mapFileText(entries) {
  return `${JSON.stringify({ format: MAP_FILE_FORMAT, version: MAP_FILE_VERSION, registers: checkMap(entries) }, null, 2)}\n`;
}

/** The entries of a map file, or a MapError that says why the file is not one. */
export function readMapFile(text) {
  let file;
  try {
    file = JSON.parse(String(text).replace(/^\uFEFF/, ''));
  } catch (e) {
    throw new MapError(`Файл не в формате JSON: ${e.message}`);
  }
  if (file === null || typeof file !== 'object' || Array.isArray(file) || file.format !== MAP_FILE_FORMAT) {
    throw new MapError(`Это не файл карты регистров: в нём нет "format": "${MAP_FILE_FORMAT}"`);
  }
  if (file.version !== MAP_FILE_VERSION) {
    throw new MapError(`Версия карты ${shown(file.version)} не читается: эта страница читает версию ${MAP_FILE_VERSION}`);
  }
  return checkMap(file.registers);
}

/** The entry of a register, if the map has one. */
export function findEntry(entries, fc, address) {
  return entries.find((e) => e.function === fc && e.address === address);
}

/** The map kept in storage, empty when there is none; a MapError when what is kept is damaged. */
export function loadMap(storage, key) {
  let kept;
  try {
    kept = JSON.parse(storage.getItem(key) || '[]');
  } catch (e) {
    throw new MapError(`Сохранённая карта не читается: ${e.message}`);
  }
  return checkMap(kept);
}

/** Keeps the map; false when the storage refuses (switched off, full). */
export function saveMap(storage, key, entries) {
  try {
    storage.setItem(key, JSON.stringify(entries));
    return true;
  } catch {
    return false;
  }
}
