// The demo page of the bridge, written as a page author writes one: the client library
// (client/modbus-bridge.js) builds the PDUs, talks to the bridge one request at a time and
// decodes the replies; this page reads the form and shows the results. No build step and no
// outside resources; the bridge serves it at http://localhost:19284/demo/. Its tools have files
// of their own: the bus scan (scan-card.js), the register map (map-card.js), typed values
// (typed-values.js) and the log of values read for CSV (value-log.js).
import {
  BYTE_ORDERS, BridgeError, BridgeUnreachableError, DEFAULT_URL, ModbusBridge, VALUE_TYPES, decodeRegisters, encodeValue,
  pdu, registerCount,
} from './client/modbus-bridge.js';
import { setupMapCard } from './map-card.js';
import { $, cell, download, fileName, hex16, option, span } from './page-dom.js';
import { defaultLabel } from './register-map.js';
import { setupScanCard } from './scan-card.js';
import { formatValue, parseValueText } from './typed-values.js';
import { ValueLog } from './value-log.js';

// Served by a bridge (on its port), the page talks to the bridge it came from, by the name it
// was opened with; from anywhere else, to the bridge on this computer.
const BRIDGE_PORT = '19284';
const BRIDGE_URL = location.protocol === 'http:' && location.port === BRIDGE_PORT
  ? `${location.origin}/` : DEFAULT_URL;
// The bridge requires both ids in every request; one site and one device is all a demo needs.
const COMPANY_ID = 1;
const DEVICE_ID = 1;
const STORAGE_KEY = 'modbus-bridge-demo';
const CHART_POINTS = 120;
// Seven event records of 32 bytes fill a file-record answer; more go into further PDUs.
const RECORDS_PER_PDU = 7;
const MAX_RECORDS = 64;
const MIN_POLL_MS = 100;
const COLORS = ['#1f5fa8', '#c0621a', '#1e7a3c', '#8e3ab5', '#b3261e', '#0e8a8a', '#7a6a12',
  '#d1457a'];

const OPS = {
  'read-holding': { fc: 3, poll: true, hint: 'Чтение регистров хранения (FC 3).' },
  'read-input': { fc: 4, poll: true, hint: 'Чтение входных регистров (FC 4).' },
  'write-single': { fc: 6, poll: false, hint: 'Запись одного регистра хранения (FC 6).' },
  'write-multiple': { fc: 16, poll: false, hint: 'Запись нескольких регистров подряд (FC 16).' },
  'write-typed': { fc: 16, poll: false,
    hint: 'Запись значения выбранного типа: 16 бит — FC 6, 32 и 64 бита — FC 16 в 2 или 4 регистра.' },
  'device': { fc: 69, poll: true,
    hint: 'Чтение раздела устройства (FC 69): 16 регистров, регистр 1 — код типа устройства.' },
  'events': { fc: 20, poll: true,
    hint: 'Чтение записей журнала событий: файл 6, по 16 регистров (32 байта) на запись (FC 20).' },
  'raw': { fc: null, poll: true,
    hint: 'Любой PDU: код функции и данные без адреса и CRC. Каждая строка — отдельный PDU.' },
};

// The bridge's own codes; any other code of a failure of the device is its exception.
const ERROR_KINDS = [
  [100, 102, 'Ошибка ответа устройства'],
  [103, 107, 'Ошибка HTTP-запроса или JSON'],
  [108, 121, 'Ошибка параметров запроса'],
  [122, 122, 'COM-порт не открыт'],
  [123, 123, 'Нет ответа'],
  [124, 124, 'Ошибка COM-порта'],
  [126, 126, 'Запрещено настройками моста'],
];
const ERROR_ADVICE = {
  122: 'Проверьте номер COM-порта и раздел [Ports] файла настроек моста.',
  123: 'Проверьте адрес устройства, скорость, подключение линии и тайм-аут.',
};

class InputError extends Error {
  constructor(message, field) {
    super(message);
    this.field = field;
  }
}

// ---------------------------------------------------------------- settings in localStorage

const FORM_FIELDS = ['com-port', 'slave-addr', 'baud-rate', 'timeout-ms', 'poll-ms', 'ctrl-echo',
  'ctrl-dtr', 'ctrl-rts', 'ctrl-invert', 'start-addr', 'reg-count', 'write-value', 'write-values',
  'event-records', 'raw-pdu', 'typed-type', 'typed-order', 'typed-scale', 'typed-value'];
// The form's fields and the scan card's, once it is set up.
let SAVED_FIELDS = FORM_FIELDS;

function loadSettings() {
  let saved = null;
  try {
    saved = JSON.parse(localStorage.getItem(STORAGE_KEY) || 'null');
  } catch (e) {
    // Storage may be switched off for local files; the defaults of the form remain.
    return 'read-holding';
  }
  if (!saved || typeof saved !== 'object') return 'read-holding';
  for (const id of SAVED_FIELDS) {
    const el = $(id);
    if (!(id in saved)) continue;
    if (el.type === 'checkbox') el.checked = Boolean(saved[id]);
    else el.value = String(saved[id]);
  }
  return OPS[saved.op] ? saved.op : 'read-holding';
}

function saveSettings() {
  const saved = { op: currentOp };
  for (const id of SAVED_FIELDS) {
    const el = $(id);
    saved[id] = el.type === 'checkbox' ? el.checked : el.value;
  }
  try {
    localStorage.setItem(STORAGE_KEY, JSON.stringify(saved));
  } catch (e) {
    // Nothing to do: the page works without remembering.
  }
}

// ---------------------------------------------------------------- reading the form

function parseInteger(text, min, max, what, field) {
  const t = String(text).trim();
  let value;
  if (/^0x[0-9a-f]+$/i.test(t)) value = parseInt(t.slice(2), 16);
  else if (/^[+-]?\d+$/.test(t)) value = parseInt(t, 10);
  else throw new InputError(`${what}: «${t}» — не число`, field);
  if (value < min || value > max) {
    throw new InputError(`${what}: ожидается число от ${min} до ${max}`, field);
  }
  return value;
}

function fieldInt(id, min, max, what) {
  return parseInteger($(id).value, min, max, what, id);
}

// A register value; negative numbers are taken as signed 16-bit values.
function registerValue(text, what, field) {
  return parseInteger(text, -32768, 65535, what, field) & 0xFFFF;
}

function parseRecords(text) {
  const records = [];
  for (const part of text.split(/[,;\s]+/).filter(Boolean)) {
    const range = /^(\w+)-(\w+)$/.exec(part);
    const from = parseInteger(range ? range[1] : part, 0, 65535, 'Номер записи', 'event-records');
    const to = range ? parseInteger(range[2], 0, 65535, 'Номер записи', 'event-records') : from;
    if (to < from) throw new InputError(`Записи: диапазон ${part} задан наоборот`, 'event-records');
    for (let r = from; r <= to; r++) {
      if (!records.includes(r)) records.push(r);
      if (records.length > MAX_RECORDS) {
        throw new InputError(`Записи: не больше ${MAX_RECORDS} за один запрос`, 'event-records');
      }
    }
  }
  if (records.length === 0) throw new InputError('Записи: укажите хотя бы один номер', 'event-records');
  return records;
}

function parseRawPdus(text) {
  const pdus = [];
  for (const line of text.split('\n')) {
    const tokens = line.trim().split(/[\s,]+/).filter(Boolean);
    if (tokens.length === 0) continue;
    const bytes = tokens.map((token) => {
      if (!/^(0x)?[0-9a-f]{1,2}$/i.test(token)) {
        throw new InputError(`PDU: «${token}» — не байт в hex`, 'raw-pdu');
      }
      return parseInt(token.replace(/^0x/i, ''), 16);
    });
    if (bytes.length > 253) throw new InputError('PDU: не длиннее 253 байт', 'raw-pdu');
    pdus.push(bytes);
  }
  if (pdus.length === 0) throw new InputError('PDU: введите хотя бы код функции', 'raw-pdu');
  if (pdus.length > 100) throw new InputError('PDU: не больше 100 строк', 'raw-pdu');
  return pdus;
}

// The PDUs of the chosen command and what to call its result.
function buildCommand(op) {
  switch (op) {
    case 'read-holding':
    case 'read-input': {
      const start = fieldInt('start-addr', 0, 65535, 'Начальный адрес');
      const count = fieldInt('reg-count', 1, 125, 'Количество');
      if (start + count > 65536) throw new InputError('Диапазон выходит за адрес 0xFFFF', 'reg-count');
      const read = op === 'read-holding' ? pdu.readHoldingRegisters : pdu.readInputRegisters;
      return { source: OPS[op].fc, pdus: [read(start, count)], address: start };
    }
    case 'write-single': {
      const address = fieldInt('start-addr', 0, 65535, 'Адрес регистра');
      const value = registerValue($('write-value').value, 'Значение', 'write-value');
      return { source: 6, pdus: [pdu.writeSingleRegister(address, value)], address, values: [value] };
    }
    case 'write-multiple': {
      const start = fieldInt('start-addr', 0, 65535, 'Начальный адрес');
      const parts = $('write-values').value.split(/[,;\s]+/).filter(Boolean);
      if (parts.length < 1 || parts.length > 123) {
        throw new InputError('Значения: от 1 до 123 чисел через запятую', 'write-values');
      }
      if (start + parts.length > 65536) throw new InputError('Диапазон выходит за адрес 0xFFFF', 'write-values');
      const values = parts.map((p) => registerValue(p, 'Значение', 'write-values'));
      return { source: 16, pdus: [pdu.writeMultipleRegisters(start, values)], address: start, values };
    }
    case 'write-typed': {
      const address = fieldInt('start-addr', 0, 65535, 'Адрес регистра');
      const format = typedFormat();
      let value;
      let registers;
      try {
        value = parseValueText($('typed-value').value, format.type, format.scale);
        registers = encodeValue(value, format);
      } catch (e) {
        throw new InputError(`Значение: ${e.message.replace(/^encodeValue: /, '')}`, 'typed-value');
      }
      if (address + registers.length > 65536) throw new InputError('Значение выходит за адрес 0xFFFF', 'start-addr');
      const write = registers.length === 1
        ? pdu.writeSingleRegister(address, registers[0]) : pdu.writeMultipleRegisters(address, registers);
      return { source: registers.length === 1 ? 6 : 16, pdus: [write], address, values: registers,
        typed: formatValue(value, format), format };
    }
    case 'device':
      return { source: 69, pdus: [pdu.readDeviceSection()] };
    case 'events': {
      const records = parseRecords($('event-records').value);
      const pdus = [];
      for (let i = 0; i < records.length; i += RECORDS_PER_PDU) {
        pdus.push(pdu.readFileRecords(records.slice(i, i + RECORDS_PER_PDU).map((record) => ({ file: 6, record }))));
      }
      return { source: 20, pdus, records };
    }
    case 'raw': {
      const lines = parseRawPdus($('raw-pdu').value);
      return { source: lines[0][0], pdus: lines.map((bytes) => pdu.raw(bytes)) };
    }
    default:
      throw new InputError('Неизвестная команда');
  }
}

// Type, byte order and scale of the typed write.
function typedFormat() {
  const text = $('typed-scale').value.trim();
  const scale = Number(text.replace(',', '.'));
  if (text === '' || !Number.isFinite(scale) || scale === 0) {
    throw new InputError('Масштаб: ожидается число, не равное 0', 'typed-scale');
  }
  return { type: $('typed-type').value, order: $('typed-order').value, scale };
}

// The typed write takes type, order and scale of a holding register that the map names.
function typedFromMap() {
  let address;
  try {
    address = fieldInt('start-addr', 0, 65535, 'Адрес регистра');
  } catch {
    $('typed-hint').textContent = '';
    return;
  }
  const entry = registerMap.find(3, address);
  if (entry) {
    $('typed-type').value = entry.type;
    $('typed-order').value = entry.order;
    $('typed-scale').value = String(entry.scale);
  }
  $('typed-hint').textContent = entry
    ? `Из карты регистров: ${entry.name || defaultLabel(3, address)}${entry.unit ? `, ${entry.unit}` : ''}.`
    : 'Этого адреса нет в карте регистров: тип, порядок и масштаб — как выбраны здесь.';
}

// The bridge for the connection fields of the form; every one made on this page shares the
// library's queue for the bridge's URL, so requests never overlap.
function bridgeFromForm(pollMs) {
  return new ModbusBridge({
    url: BRIDGE_URL,
    companyId: COMPANY_ID,
    deviceId: DEVICE_ID,
    slave: fieldInt('slave-addr', 0, 247, 'Адрес устройства'),
    baudRate: parseInt($('baud-rate').value, 10),
    comPort: fieldInt('com-port', 1, 255, 'COM-порт'),
    pollMs,
    timeoutMs: fieldInt('timeout-ms', 0, 60000, 'Тайм-аут'),
    line: { echo: $('ctrl-echo').checked, dtr: $('ctrl-dtr').checked, rts: $('ctrl-rts').checked,
      invert: $('ctrl-invert').checked },
    onSend: showRequest,
    onExchange: showExchange,
  });
}

// ---------------------------------------------------------------- one exchange

let inFlight = 0;
let requestCount = 0;
let lastElapsedMs = 0;

function showRequest(request) {
  inFlight++;
  setBusy();
  requestCount++;
  $('request-count').textContent = String(requestCount);
  $('request-json').textContent = JSON.stringify(request, null, 2);
  $('last-pdu').textContent = Object.values(request.pdu).map(toHexLine).join(' | ');
}

function showExchange({ reply, elapsedMs }) {
  inFlight--;
  setBusy();
  lastElapsedMs = elapsedMs;
  $('reply-json').textContent = reply === undefined ? '—' : JSON.stringify(reply, null, 2);
}

function setBusy() {
  $('status').dataset.busy = inFlight > 0 ? '1' : '0';
  $('run-once').disabled = inFlight > 0;
}

// ---------------------------------------------------------------- running a command

let currentOp = 'read-holding';

function clearInvalid() {
  for (const el of document.querySelectorAll('.invalid')) el.classList.remove('invalid');
}

// The command and its bridge from the form, or null after showing why the form is not valid.
function prepare(op) {
  clearInvalid();
  try {
    const command = buildCommand(op);
    const pollMs = fieldInt('poll-ms', MIN_POLL_MS, 3600000, 'Период опроса');
    return { command, bridge: bridgeFromForm(pollMs), pollMs };
  } catch (e) {
    if (!(e instanceof InputError || e instanceof RangeError || e instanceof TypeError)) throw e;
    if (e.field) $(e.field).classList.add('invalid');
    showOutcome({
      banner: 'error', title: 'Запрос не отправлен', text: e.message,
      status: 'не отправлен', code: '—', errorText: e.message,
    });
    return null;
  }
}

// Runs the chosen command once; 'input' when the form is not valid and nothing was sent.
async function runCurrent() {
  const op = currentOp;
  const prepared = prepare(op);
  if (!prepared) return 'input';
  const { command, bridge } = prepared;
  setBanner('busy', 'Запрос…', `${describeCommand(op, command)}: ждём ответ моста`);
  try {
    showResults(op, command, await bridge.batch(command.pdus));
    return 'ok';
  } catch (e) {
    if (!(e instanceof BridgeError || e instanceof BridgeUnreachableError)) {
      // Refused by the library before sending, such as two raw PDUs that read one register.
      showOutcome({ banner: 'error', title: 'Запрос не отправлен', text: e.message,
        status: 'не отправлен', code: '—', errorText: e.message });
      return 'input';
    }
    showFailure(op, command, e);
    return 'error';
  }
}

const took = () => `${Math.round(lastElapsedMs)} мс, ${new Date().toLocaleTimeString('ru-RU')}`;

function showResults(op, command, results) {
  renderResults(op, command, results);
  showOutcome({
    banner: 'ok', title: 'Выполнено', text: summarize(op, command, results),
    status: 'ok', code: '0', errorText: '—', took: took(),
  });
}

function showFailure(op, command, error) {
  // Not a failure of the device: the operator has yet to let this page in.
  if (error instanceof BridgeError && error.kind === 'access') {
    renderResults(op, command, error.results);
    showOutcome({
      banner: 'advice', title: 'Разрешите эту страницу в окне моста',
      text: `${error.text}. Если мост работает без окна, разрешите страницу в разделе [Origins] ` +
        'его файла настроек; если в настройках задан ключ (Key), страница должна передавать его.',
      status: 'нет разрешения', code: String(error.code), errorText: error.text, took: took(),
    });
    return;
  }
  if (error instanceof BridgeError) {
    renderResults(op, command, error.results);
    const advice = ERROR_ADVICE[error.code] ? ' ' + ERROR_ADVICE[error.code] : '';
    showOutcome({
      banner: 'error', title: `Ошибка ${error.code}: ${errorKind(error)}`,
      text: (error.text || 'без описания') + advice,
      status: 'error', code: String(error.code), errorText: error.text || '—', took: took(),
    });
    return;
  }
  const texts = {
    network: ['Мост не отвечает', `Нет соединения с ${BRIDGE_URL} — запустите modbus-bridged или modbus-bridge.`,
      'нет связи', `Мост не отвечает на ${BRIDGE_URL}`],
    permission: ['Браузер не пускает страницу к мосту', 'Разрешите странице доступ к локальной сети в настройках сайта.',
      'нет доступа', `Браузер запретил доступ к ${BRIDGE_URL}`],
    'not-bridge': ['Ответ моста не разобран', `На ${BRIDGE_URL} отвечает не мост: возможно, порт занят другой программой.`,
      'ошибка', 'Ответ моста не разобран'],
    timeout: ['Мост не ответил', `Нет ответа за ${error.limitMs} мс, запрос прерван. Мост не отвечает на запрос, ` +
      'пришедший во время обработки другого: возможно, с ним работает ещё одна страница.',
    'прерван', `Нет ответа моста за ${error.limitMs} мс`],
    'foreign-reply': ['Чужой ответ', 'Метка rand_string ответа не совпадает с меткой запроса.',
      'ошибка', 'Ответ относится к другому запросу'],
  };
  const [title, text, status, errorText] = texts[error.reason];
  showOutcome({ banner: 'error', title, text, status, code: '—', errorText, took: took() });
}

function errorKind(error) {
  const { code, kind } = error;
  if (kind === 'device' && !(code >= 100 && code <= 102) && code !== 123) return 'Исключение Modbus';
  for (const [from, to, name] of ERROR_KINDS) {
    if (code >= from && code <= to) return name;
  }
  return 'Ошибка';
}

function describeCommand(op, command) {
  switch (op) {
    case 'read-holding': return 'Чтение регистров хранения';
    case 'read-input': return 'Чтение входных регистров';
    case 'write-single': return `Запись регистра ${formatAddress(command.address)}`;
    case 'write-multiple': return `Запись ${command.values.length} регистров`;
    case 'write-typed': return `Запись значения в ${formatAddress(command.address)}`;
    case 'device': return 'Чтение раздела устройства';
    case 'events': return `Чтение ${command.records.length} записей журнала`;
    default: return `PDU ${toHexLine(command.pdus[0].bytes)}`;
  }
}

function summarize(op, command, results) {
  switch (op) {
    case 'read-holding':
    case 'read-input':
      return `${describeCommand(op, command)}: ${results[0].length} шт.`;
    case 'write-single':
      return `Регистр ${formatAddress(command.address)} = ${command.values[0]}`;
    case 'write-multiple':
      return `Записано ${command.values.length} регистров с адреса ${formatAddress(command.address)}`;
    case 'write-typed':
      return `Регистр ${formatAddress(command.address)} = ${command.typed} (${command.format.type} ${command.format.order})`;
    case 'device':
      return `Код типа устройства ${hex16(results[0].deviceType)}`;
    case 'events':
      return `Прочитано записей: ${results.flat().length}`;
    default:
      return Number($('timeout-ms').value) === 0 ? 'PDU отправлен без ожидания ответа' : 'PDU выполнен';
  }
}

function showOutcome(o) {
  setBanner(o.banner, o.title, o.text);
  const status = $('status-text');
  status.textContent = o.status;
  status.className = { ok: 'good', advice: '' }[o.banner] ?? 'bad';
  const code = $('error-code');
  code.textContent = o.code;
  code.className = o.banner !== 'advice' && o.code !== '0' && o.code !== '—' ? 'bad' : '';
  $('error-text').textContent = o.errorText;
  $('reply-time').textContent = o.took || '—';
  const st = $('status');
  st.dataset.seq = String(Number(st.dataset.seq) + 1);
}

function setBanner(kind, title, text) {
  const banner = $('banner');
  banner.className = 'banner ' + kind;
  $('banner-title').textContent = title;
  $('banner-text').textContent = text;
}

// ---------------------------------------------------------------- showing the data

const hex8 = (v) => (v & 0xFF).toString(16).toUpperCase().padStart(2, '0');
const toHexLine = (bytes) => bytes.map(hex8).join(' ');
const formatAddress = (a) => `${hex16(a)} (${a})`;
const sortedKeys = (map) => [...map.keys()].sort((a, b) => a - b);

const SOURCE_NAMES = { 3: 'хранения', 4: 'входные', 20: 'файловые записи' };
const SOURCE_SHORT = { 3: 'Хр.', 4: 'Вх.', 20: 'Файл' };

// The results as the tables show them: registers by address, event records by number.
function tableData(op, command, results) {
  const registers = new Map();
  const events = new Map();
  results.forEach((result, i) => {
    if (op === 'read-holding' || op === 'read-input') {
      result.forEach((v, k) => registers.set(command.address + k, v));
    } else if (op === 'device') {
      result.registers.forEach((v, k) => registers.set(k, v));
    } else if (op === 'events') {
      result.forEach((bytes, k) => events.set(command.records[i * RECORDS_PER_PDU + k], bytes));
    } else if (op === 'raw') {
      result.registers.forEach((v, k) => registers.set(k, v));
      result.events.forEach((bytes, k) => events.set(k, bytes));
    }
  });
  return { registers, events };
}

function renderResults(op, command, results) {
  const { registers, events } = tableData(op, command, results);
  const source = command.source;
  if (source === 69) {
    renderDevice(registers);
  } else if (source === 3 || source === 4 || (source === 20 && registers.size > 0)) {
    const time = new Date();
    renderRegisters(source, registers);
    addChartPoints(source, registers, time);
    logValues(source, registers, time);
  }
  if (source === 20 && (op === 'events' || events.size > 0)) renderEvents(events);
}

// ---------------------------------------------------------------- typed registers

// The register map; its entries give registers of function 3 and 4 names, types and units.
let registerMap;
// The registers the table shows, kept so that a change of type shows at once.
let shownRegisters = null;

const mapped = (source) => source === 3 || source === 4;

function entryAt(source, address) {
  return mapped(source) ? registerMap.find(source, address) : undefined;
}

// The entry whose value spans this register from one of the three before it.
function coveringEntry(source, address) {
  for (let back = 1; back < 4 && back <= address; back++) {
    const entry = entryAt(source, address - back);
    if (entry && registerCount(entry.type) > back) return entry;
  }
  return undefined;
}

function labelOf(source, address) {
  const entry = entryAt(source, address);
  return entry && entry.name ? entry.name : defaultLabel(source, address);
}

/**
 * What the register at this address holds in the data: its typed value when the map gives it a
 * type, nothing when it is part of a value that starts before it, else its 16 bits. value is
 * the number (or bigint), text its text as the page shows and exports it.
 */
function registerReading(source, data, address) {
  const entry = entryAt(source, address);
  if (entry) {
    const count = registerCount(entry.type);
    const words = [];
    for (let i = 0; i < count; i++) {
      if (!data.has(address + i)) {
        return { missing: `нужны регистры ${hex16(address)}…${hex16(address + count - 1)}`, unit: entry.unit };
      }
      words.push(data.get(address + i));
    }
    const value = decodeRegisters(words, entry);
    return { value, text: formatValue(value, entry), unit: entry.unit };
  }
  const owner = coveringEntry(source, address);
  if (owner) return { partOf: owner.address, unit: '' };
  const value = data.get(address);
  return { value, text: String(value), unit: '' };
}

function renderRegisters(source, data) {
  shownRegisters = { source, data };
  drawRegisters();
}

function drawRegisters() {
  const { source, data } = shownRegisters;
  const body = $('register-rows');
  body.textContent = '';
  const addresses = sortedKeys(data);
  for (const a of addresses) {
    const v = data.get(a);
    const key = seriesKey(source, a);
    const row = document.createElement('tr');
    row.dataset.addr = String(a);
    row.dataset.source = String(source);
    const pick = document.createElement('input');
    pick.type = 'checkbox';
    pick.className = 'chart-pick';
    pick.title = 'Показывать на графике';
    pick.checked = chart.series.has(key);
    pick.addEventListener('change', () => {
      if (pick.checked) addSeries(key);
      else removeSeries(key);
    });
    const entry = entryAt(source, a);
    row.append(
      cell('pick', pick),
      cell('reg-addr', hex16(a) + ' ', span('dec-addr', `(${a})`)),
      cell('reg-name', entry ? entry.name : ''),
      cell('reg-hex', hex16(v)),
      cell('reg-format', ...formatChoice(source, a, entry)),
      valueCell(registerReading(source, data, a)));
    body.append(row);
  }
  const caption = addresses.length
    ? `${SOURCE_NAMES[source]}, ${hex16(addresses[0])}…${hex16(addresses[addresses.length - 1])}`
    : SOURCE_NAMES[source];
  $('registers-caption').textContent = `— ${caption}`;
  const empty = $('registers-empty');
  empty.hidden = addresses.length > 0;
  empty.textContent = 'В последнем ответе регистров нет.';
}

function valueCell(reading) {
  const td = cell('reg-value');
  if (reading.text !== undefined) {
    td.dataset.value = reading.text;
    td.append(reading.text);
    if (reading.unit) td.append(' ', span('unit', reading.unit));
  } else if (reading.partOf !== undefined) {
    td.classList.add('part');
    td.append(`↑ часть ${hex16(reading.partOf)}`);
  } else {
    td.classList.add('part');
    td.title = reading.missing;
    td.append('—');
  }
  return td;
}

// The type and byte order of the register, chosen here and kept in the register map.
function formatChoice(source, address, entry) {
  const type = document.createElement('select');
  type.className = 'reg-type';
  type.append(...VALUE_TYPES.map((t) => option(t)));
  type.value = entry ? entry.type : 'uint16';
  const order = document.createElement('select');
  order.className = 'reg-order';
  order.append(...BYTE_ORDERS.map((o) => option(o)));
  order.value = entry ? entry.order : 'ABCD';
  type.title = 'Тип значения';
  order.title = 'Порядок байтов';
  if (!mapped(source)) {
    type.disabled = true;
    order.disabled = true;
    return [type, order];
  }
  const chosen = () => {
    const current = entryAt(source, address);
    const next = { name: '', scale: 1, unit: '', ...current, function: source, address, type: type.value, order: order.value };
    try {
      if (!next.name && !next.unit && next.scale === 1 && next.type === 'uint16' && next.order === 'ABCD') {
        registerMap.remove(source, address);
      } else {
        registerMap.set(next);
      }
    } catch (e) {
      setBanner('error', 'Тип не выбран', e.message);
      drawRegisters();
    }
  };
  type.addEventListener('change', chosen);
  order.addEventListener('change', chosen);
  return [type, order];
}

// ---------------------------------------------------------------- values kept for CSV

const valueLog = new ValueLog();

function logValues(source, data, time) {
  if (!mapped(source)) return;
  for (const a of sortedKeys(data)) {
    const reading = registerReading(source, data, a);
    if (reading.text !== undefined) valueLog.add(time, labelOf(source, a), reading.text, reading.unit);
  }
  showLogSize();
}

function showLogSize() {
  $('log-caption').textContent = valueLog.size ? `— значений для CSV: ${valueLog.size}` : '';
  $('export-csv').disabled = valueLog.size === 0;
}

function exportCsv() {
  download(new Blob([valueLog.csv()], { type: 'text/csv;charset=utf-8' }), fileName('values', 'csv'));
}

function renderDevice(data) {
  const body = $('device-rows');
  body.textContent = '';
  const keys = sortedKeys(data);
  for (const k of keys) {
    const v = data.get(k);
    const row = document.createElement('tr');
    row.dataset.reg = String(k);
    if (k === 1) row.className = 'key';
    row.append(cell('', k === 1 ? '1 — тип' : String(k)), cell('', hex16(v)), cell('', String(v)));
    body.append(row);
  }
  $('device-type').textContent = data.has(1) ? hex16(data.get(1)) : '—';
  const empty = $('device-empty');
  empty.hidden = keys.length > 0;
  empty.textContent = 'В последнем ответе раздела нет.';
}

function renderEvents(log) {
  const head = $('events-head');
  if (!head.firstChild) {
    const row = document.createElement('tr');
    const first = document.createElement('th');
    first.className = 'ev-rec';
    first.textContent = 'Запись';
    row.append(first);
    for (let i = 0; i < 32; i++) {
      const th = document.createElement('th');
      th.textContent = hex8(i);
      row.append(th);
    }
    head.append(row);
  }
  const body = $('event-rows');
  body.textContent = '';
  const records = sortedKeys(log);
  for (const r of records) {
    const bytes = log.get(r);
    const row = document.createElement('tr');
    row.dataset.record = String(r);
    row.append(cell('ev-rec', String(r)));
    for (const b of bytes) {
      const td = cell('ev-byte', hex8(b));
      if (b === 0) td.classList.add('zero');
      td.title = `${b}`;
      row.append(td);
    }
    body.append(row);
  }
  $('events-caption').textContent = records.length ? `— файл 6, записей: ${records.length}` : '';
  const empty = $('events-empty');
  empty.hidden = records.length > 0;
  empty.textContent = 'В последнем ответе записей нет.';
}

// ---------------------------------------------------------------- chart

const chart = { series: new Map() };

const seriesKey = (source, address) => `${source}:${address}`;

function addSeries(key) {
  if (chart.series.has(key)) return;
  const used = new Set([...chart.series.values()].map((s) => s.color));
  const color = COLORS.find((c) => !used.has(c)) || COLORS[chart.series.size % COLORS.length];
  chart.series.set(key, { key, color, points: [] });
  refreshChart();
}

// The series' name, from the register map as it is now.
function seriesLabel(s) {
  const [source, address] = s.key.split(':').map(Number);
  if (!mapped(source)) return `${SOURCE_SHORT[source]} ${hex16(address)}`;
  const entry = entryAt(source, address);
  return `${labelOf(source, address)}${entry && entry.unit ? `, ${entry.unit}` : ''}`;
}

const seriesLast = (s) => (s.points.length ? s.points[s.points.length - 1].text : '—');

function removeSeries(key) {
  chart.series.delete(key);
  refreshChart();
}

function addChartPoints(source, data, time) {
  const t = time.getTime();
  let added = false;
  for (const s of chart.series.values()) {
    const [src, address] = s.key.split(':').map(Number);
    if (src !== source || !data.has(address)) continue;
    const reading = registerReading(source, data, address);
    const v = Number(reading.value);
    // A value a line cannot show (NaN, infinity, a part of another) leaves a gap.
    if (reading.text === undefined || !Number.isFinite(v)) continue;
    s.points.push({ t, v, text: reading.text });
    if (s.points.length > CHART_POINTS) s.points.splice(0, s.points.length - CHART_POINTS);
    added = true;
  }
  if (added) refreshChart();
}

function refreshChart() {
  renderLegend();
  drawChart();
}

function renderLegend() {
  const legend = $('chart-legend');
  legend.textContent = '';
  if (chart.series.size === 0) {
    const li = document.createElement('li');
    li.className = 'empty';
    li.textContent = 'Отметьте регистры в столбце «График» таблицы регистров и запустите опрос.';
    legend.append(li);
    return;
  }
  for (const s of chart.series.values()) {
    const li = document.createElement('li');
    li.dataset.series = s.key;
    li.dataset.points = String(s.points.length);
    const swatch = span('swatch', '');
    swatch.style.background = s.color;
    li.append(swatch, span('name', seriesLabel(s)), span('last', seriesLast(s)));
    legend.append(li);
  }
}

// A round step of about range / ticks, not below smallest.
function niceStep(range, ticks, smallest = 1) {
  const raw = range / ticks;
  const power = Math.pow(10, Math.floor(Math.log10(raw)));
  const unit = raw / power;
  const nice = unit <= 1 ? 1 : unit <= 2 ? 2 : unit <= 5 ? 5 : 10;
  return Math.max(smallest, nice * power);
}

function drawChart() {
  const canvas = $('chart');
  const ratio = window.devicePixelRatio || 1;
  const width = canvas.clientWidth;
  const height = canvas.clientHeight;
  if (width === 0 || height === 0) return;
  canvas.width = Math.round(width * ratio);
  canvas.height = Math.round(height * ratio);
  const ctx = canvas.getContext('2d');
  ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
  ctx.fillStyle = '#fff';
  ctx.fillRect(0, 0, width, height);

  const series = [...chart.series.values()];
  const all = series.flatMap((s) => s.points);
  canvas.dataset.points = String(Math.max(0, ...series.map((s) => s.points.length)));
  ctx.font = '12px system-ui, "DejaVu Sans", sans-serif';
  if (all.length === 0) {
    ctx.fillStyle = '#5f6b7a';
    ctx.textAlign = 'center';
    ctx.fillText(series.length ? 'Ждём данных опроса…' : 'Регистры для графика не выбраны',
      width / 2, height / 2);
    return;
  }

  const left = 62;
  const right = 14;
  const top = 12;
  const bottom = 26;
  const plotW = width - left - right;
  const plotH = height - top - bottom;
  let vMin = Math.min(...all.map((p) => p.v));
  let vMax = Math.max(...all.map((p) => p.v));
  // Scaled and float values need steps below 1; a flat line gets a spread around it.
  const spread = vMax - vMin || Math.max(Math.abs(vMax), 1);
  const integral = all.every((p) => Number.isInteger(p.v));
  const step = niceStep(spread, 5, integral ? 1 : Number.MIN_VALUE);
  const decimals = Math.min(10, Math.max(0, -Math.floor(Math.log10(step))));
  vMin = Math.floor(vMin / step) * step;
  vMax = Math.ceil(vMax / step) * step;
  if (vMax === vMin) vMax = vMin + step;
  const tMax = Math.max(...all.map((p) => p.t));
  const tMin = Math.min(tMax - 10000, Math.min(...all.map((p) => p.t)));
  const x = (t) => left + ((t - tMin) / (tMax - tMin)) * plotW;
  const y = (v) => top + plotH - ((v - vMin) / (vMax - vMin)) * plotH;

  ctx.lineWidth = 1;
  ctx.strokeStyle = '#e3e8ee';
  ctx.fillStyle = '#5f6b7a';
  ctx.textAlign = 'right';
  ctx.textBaseline = 'middle';
  for (let v = vMin; v <= vMax + step / 2; v += step) {
    ctx.beginPath();
    ctx.moveTo(left, Math.round(y(v)) + 0.5);
    ctx.lineTo(left + plotW, Math.round(y(v)) + 0.5);
    ctx.stroke();
    ctx.fillText(v.toFixed(decimals), left - 6, y(v));
  }
  const seconds = (tMax - tMin) / 1000;
  const tStep = niceStep(seconds, 6);
  ctx.textAlign = 'center';
  ctx.textBaseline = 'top';
  for (let s = 0; s <= seconds + 1e-9; s += tStep) {
    const xs = x(tMax - s * 1000);
    ctx.beginPath();
    ctx.moveTo(Math.round(xs) + 0.5, top);
    ctx.lineTo(Math.round(xs) + 0.5, top + plotH);
    ctx.stroke();
    // The newest label sits at the right edge, so it is aligned to end there.
    ctx.textAlign = s === 0 ? 'right' : 'center';
    ctx.fillText(s === 0 ? 'сейчас' : `−${Math.round(s)} с`, xs, top + plotH + 6);
  }
  ctx.strokeStyle = '#9aa6b3';
  ctx.strokeRect(left + 0.5, top + 0.5, plotW, plotH);

  for (const s of series) {
    if (s.points.length === 0) continue;
    ctx.strokeStyle = s.color;
    ctx.fillStyle = s.color;
    ctx.lineWidth = 2;
    ctx.beginPath();
    s.points.forEach((p, i) => (i === 0 ? ctx.moveTo(x(p.t), y(p.v)) : ctx.lineTo(x(p.t), y(p.v))));
    ctx.stroke();
    if (s.points.length <= 40) {
      for (const p of s.points) {
        ctx.beginPath();
        ctx.arc(x(p.t), y(p.v), 2.5, 0, 2 * Math.PI);
        ctx.fill();
      }
    }
  }
}

// The chart as a PNG file, its legend drawn below it: names, colours and last values.
function exportChart() {
  const canvas = $('chart');
  drawChart();
  const ratio = canvas.width / Math.max(1, canvas.clientWidth);
  const series = [...chart.series.values()];
  const line = 20 * ratio;
  const out = document.createElement('canvas');
  out.width = canvas.width;
  out.height = canvas.height + Math.round((series.length * 20 + 12) * ratio);
  const ctx = out.getContext('2d');
  ctx.fillStyle = '#fff';
  ctx.fillRect(0, 0, out.width, out.height);
  ctx.drawImage(canvas, 0, 0);
  ctx.font = `${12 * ratio}px system-ui, "DejaVu Sans", sans-serif`;
  ctx.textBaseline = 'middle';
  series.forEach((s, i) => {
    const y = canvas.height + 6 * ratio + (i + 0.5) * line;
    ctx.fillStyle = s.color;
    ctx.fillRect(10 * ratio, y - 2 * ratio, 16 * ratio, 4 * ratio);
    ctx.fillStyle = '#1d2733';
    ctx.fillText(`${seriesLabel(s)}: ${seriesLast(s)}`, 34 * ratio, y);
  });
  out.toBlob((blob) => download(blob, fileName('chart', 'png')), 'image/png');
}

// ---------------------------------------------------------------- polling

// The library's poll: a round starts only after the previous one has ended, however slow the
// device, so a page never reaches a busy bridge.
let polling = null;

function showPolling(on) {
  const toggle = $('poll-toggle');
  toggle.setAttribute('aria-pressed', on ? 'true' : 'false');
  toggle.textContent = on ? 'Остановить опрос' : 'Начать опрос';
}

function stopPolling() {
  if (polling) polling.stop();
  polling = null;
  showPolling(false);
}

function startPolling() {
  const op = currentOp;
  if (!OPS[op].poll) {
    setBanner('error', 'Опрос не начат', 'Опрос повторяет только чтение; запись выполняйте кнопкой «Выполнить».');
    return;
  }
  const prepared = prepare(op);
  if (!prepared) return;
  const { command, bridge, pollMs } = prepared;
  try {
    polling = bridge.poll(command.pdus, pollMs, (outcome) => {
      if (outcome.ok) showResults(op, command, outcome.results);
      else showFailure(op, command, outcome.error);
    });
  } catch (e) {
    showOutcome({ banner: 'error', title: 'Запрос не отправлен', text: e.message,
      status: 'не отправлен', code: '—', errorText: e.message });
    return;
  }
  showPolling(true);
}

// A change of the form while polling takes effect from the next round on.
function restartPolling() {
  if (!polling) return;
  stopPolling();
  startPolling();
}

// ---------------------------------------------------------------- wiring

function selectOp(op) {
  currentOp = op;
  for (const button of document.querySelectorAll('#ops button')) {
    button.setAttribute('aria-selected', button.dataset.op === op ? 'true' : 'false');
    button.tabIndex = button.dataset.op === op ? 0 : -1;
  }
  for (const el of document.querySelectorAll('#command [data-ops]')) {
    el.hidden = !el.dataset.ops.split(' ').includes(op);
  }
  $('op-hint').textContent = OPS[op].hint;
  if (op === 'write-typed') typedFromMap();
  // Polling repeats reads only; choosing a write ends it, another read polls that instead.
  if (polling && !OPS[op].poll) stopPolling();
  else restartPolling();
  $('poll-toggle').disabled = !OPS[op].poll;
  clearInvalid();
}

// A device the scan found becomes the connection's.
function useFound({ comPort, address, baud }) {
  $('com-port').value = String(comPort);
  $('slave-addr').value = String(address);
  $('baud-rate').value = String(baud);
  saveSettings();
  restartPolling();
  clearInvalid();
  setBanner('ok', 'Устройство взято в параметры связи', `COM${comPort}, адрес ${address}, ${baud} бод`);
}

function init() {
  $('bridge-url').textContent = BRIDGE_URL;
  setBanner('idle', 'Готово к работе', 'Выберите команду и нажмите «Выполнить».');
  $('typed-type').append(...VALUE_TYPES.map((t) => option(t)));
  $('typed-order').append(...BYTE_ORDERS.map((o) => option(o)));
  $('typed-type').value = 'float32';
  registerMap = setupMapCard({
    onChange: () => {
      if (shownRegisters) drawRegisters();
      refreshChart();
      if (currentOp === 'write-typed') typedFromMap();
    },
  });
  const speeds = [...$('baud-rate').options].map((o) => Number(o.value || o.textContent));
  const scanFields = setupScanCard({
    speeds,
    defaultSpeed: Number($('baud-rate').value),
    connection: () => ({
      url: BRIDGE_URL, companyId: COMPANY_ID, deviceId: DEVICE_ID,
      line: { echo: $('ctrl-echo').checked, dtr: $('ctrl-dtr').checked, rts: $('ctrl-rts').checked,
        invert: $('ctrl-invert').checked },
    }),
    onUse: useFound,
    report: setBanner,
  });
  SAVED_FIELDS = [...FORM_FIELDS, ...scanFields];
  selectOp(loadSettings());
  for (const button of document.querySelectorAll('#ops button')) {
    button.addEventListener('click', () => {
      selectOp(button.dataset.op);
      saveSettings();
    });
  }
  for (const id of SAVED_FIELDS) {
    $(id).addEventListener('input', saveSettings);
    $(id).addEventListener('change', saveSettings);
  }
  for (const id of FORM_FIELDS) $(id).addEventListener('change', restartPolling);
  $('start-addr').addEventListener('input', () => {
    if (currentOp === 'write-typed') typedFromMap();
  });
  $('run-once').addEventListener('click', () => {
    runCurrent();
  });
  $('poll-toggle').addEventListener('click', () => {
    if (polling) stopPolling();
    else startPolling();
  });
  $('chart-clear').addEventListener('click', () => {
    for (const s of chart.series.values()) s.points = [];
    valueLog.clear();
    showLogSize();
    refreshChart();
  });
  $('export-csv').addEventListener('click', exportCsv);
  $('export-png').addEventListener('click', exportChart);
  window.addEventListener('resize', drawChart);
  showLogSize();
  refreshChart();
}

init();
