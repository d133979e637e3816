'use strict';

// The demo page of the bridge: builds Modbus PDUs from the form, posts them to the bridge one
// request at a time and shows the answer. Plain script, no build step, no outside resources, so
// that it also works opened straight from disk (file://).
(() => {
  const BRIDGE_URL = 'http://localhost:19284/';
  // The bridge requires both ids in every request; one site and one device is all a demo needs.
  const COMPANY_ID = 1;
  const DEVICE_ID = 1;
  const STORAGE_KEY = 'modbus-bridge-demo';
  const CHART_POINTS = 120;
  // An answer holds at most 253 bytes of PDU; a record of 16 registers takes 34 of them, so seven
  // records fit in one FC 20 request and more are split over several PDUs.
  const RECORD_REGISTERS = 16;
  const RECORDS_PER_PDU = 7;
  const MAX_RECORDS = 64;
  // What the fetch waits beyond the bridge's own answer time-out before it gives up.
  const CLIENT_MARGIN_MS = 3000;
  const MIN_POLL_MS = 100;
  const COLORS = ['#1f5fa8', '#c0621a', '#1e7a3c', '#8e3ab5', '#b3261e', '#0e8a8a', '#7a6a12',
    '#d1457a'];

  const OPS = {
    'read-holding': { fc: 3, poll: true, hint: 'Чтение регистров хранения (FC 3).' },
    'read-input': { fc: 4, poll: true, hint: 'Чтение входных регистров (FC 4).' },
    'write-single': { fc: 6, poll: false, hint: 'Запись одного регистра хранения (FC 6).' },
    'write-multiple': { fc: 16, poll: false, hint: 'Запись нескольких регистров подряд (FC 16).' },
    'device': { fc: 69, poll: true,
      hint: 'Чтение раздела устройства (FC 69): 16 регистров, регистр 1 — код типа устройства.' },
    'events': { fc: 20, poll: true,
      hint: 'Чтение записей журнала событий: файл 6, по 16 регистров (32 байта) на запись (FC 20).' },
    'raw': { fc: null, poll: true,
      hint: 'Любой PDU: код функции и данные без адреса и CRC. Каждая строка — отдельный PDU.' },
  };

  const ERROR_KINDS = [
    [1, 8, 'Исключение Modbus'],
    [100, 102, 'Ошибка ответа устройства'],
    [103, 107, 'Ошибка HTTP-запроса или JSON'],
    [108, 121, 'Ошибка параметров запроса'],
    [122, 122, 'COM-порт не открыт'],
    [123, 123, 'Нет ответа'],
    [124, 124, 'Ошибка COM-порта'],
  ];
  const ERROR_ADVICE = {
    122: 'Проверьте номер COM-порта и раздел [Ports] файла настроек моста.',
    123: 'Проверьте адрес устройства, скорость, подключение линии и тайм-аут.',
  };

  const $ = (id) => document.getElementById(id);

  class InputError extends Error {
    constructor(message, field) {
      super(message);
      this.field = field;
    }
  }

  // ---------------------------------------------------------------- settings in localStorage

  const SAVED_FIELDS = ['com-port', 'slave-addr', 'baud-rate', 'timeout-ms', 'poll-ms', 'ctrl-echo',
    'ctrl-dtr', 'ctrl-rts', 'ctrl-invert', 'start-addr', 'reg-count', 'write-value', 'write-values',
    'event-records', 'raw-pdu'];

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

  const hi = (v) => (v >> 8) & 0xFF;
  const lo = (v) => v & 0xFF;

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
        return { source: OPS[op].fc, pdus: [[OPS[op].fc, hi(start), lo(start), hi(count), lo(count)]] };
      }
      case 'write-single': {
        const address = fieldInt('start-addr', 0, 65535, 'Адрес регистра');
        const value = registerValue($('write-value').value, 'Значение', 'write-value');
        return { source: 6, pdus: [[6, hi(address), lo(address), hi(value), lo(value)]], address, values: [value] };
      }
      case 'write-multiple': {
        const start = fieldInt('start-addr', 0, 65535, 'Начальный адрес');
        const parts = $('write-values').value.split(/[,;\s]+/).filter(Boolean);
        if (parts.length < 1 || parts.length > 123) {
          throw new InputError('Значения: от 1 до 123 чисел через запятую', 'write-values');
        }
        if (start + parts.length > 65536) throw new InputError('Диапазон выходит за адрес 0xFFFF', 'write-values');
        const values = parts.map((p) => registerValue(p, 'Значение', 'write-values'));
        const pdu = [16, hi(start), lo(start), hi(values.length), lo(values.length), 2 * values.length];
        for (const v of values) pdu.push(hi(v), lo(v));
        return { source: 16, pdus: [pdu], address: start, values };
      }
      case 'device':
        return { source: 69, pdus: [[69]] };
      case 'events': {
        const records = parseRecords($('event-records').value);
        const pdus = [];
        for (let i = 0; i < records.length; i += RECORDS_PER_PDU) {
          const part = records.slice(i, i + RECORDS_PER_PDU);
          const pdu = [20, 7 * part.length];
          // Reference type 6, file 6, record number, length in registers.
          for (const r of part) pdu.push(6, 0, 6, hi(r), lo(r), hi(RECORD_REGISTERS), lo(RECORD_REGISTERS));
          pdus.push(pdu);
        }
        return { source: 20, pdus, records };
      }
      case 'raw': {
        const pdus = parseRawPdus($('raw-pdu').value);
        return { source: pdus[0][0], pdus };
      }
      default:
        throw new InputError('Неизвестная команда');
    }
  }

  function randomTag() {
    return Math.random().toString(36).slice(2, 10) + Date.now().toString(36);
  }

  function connectionParameters() {
    return {
      company_id: COMPANY_ID,
      device_id: DEVICE_ID,
      slave_addr: fieldInt('slave-addr', 0, 247, 'Адрес устройства'),
      baud_rate: parseInt($('baud-rate').value, 10),
      com_port: fieldInt('com-port', 1, 255, 'COM-порт'),
      poll_ms: fieldInt('poll-ms', MIN_POLL_MS, 3600000, 'Период опроса'),
      timeout_ms: fieldInt('timeout-ms', 0, 60000, 'Тайм-аут'),
      ctrl_echo: $('ctrl-echo').checked,
      ctrl_dtr: $('ctrl-dtr').checked,
      ctrl_rts: $('ctrl-rts').checked,
      ctrl_invert: $('ctrl-invert').checked,
      rand_string: randomTag(),
    };
  }

  function buildRequest(command) {
    const request = connectionParameters();
    // The bridge sends the members in the byte order of their names, so the names carry the
    // order: "p00", "p01", ... (a plain "10" would sort before "9").
    request.pdu = {};
    command.pdus.forEach((bytes, i) => {
      request.pdu['p' + String(i).padStart(2, '0')] = bytes;
    });
    return request;
  }

  // The bridge waits up to its time-out for every PDU; the fetch allows that and a margin.
  function clientTimeoutMs(request) {
    const t = request.timeout_ms;
    const perPdu = t === 0 ? 0 : Math.min(Math.max(t, 250), 60000);
    return Object.keys(request.pdu).length * (perPdu + 100) + CLIENT_MARGIN_MS;
  }

  // ---------------------------------------------------------------- talking to the bridge

  // Every exchange goes through this chain: the bridge never answers a request that arrives
  // while it serves another, so a second one in flight would only be lost.
  let chain = Promise.resolve();
  let inFlight = 0;

  function exchange(request) {
    const run = chain.then(() => postRequest(request));
    chain = run.catch(() => {});
    return run;
  }

  async function postRequest(request) {
    const limit = clientTimeoutMs(request);
    const controller = new AbortController();
    // Aborting closes the connection, which also stops the bridge's work on this request.
    const timer = setTimeout(() => controller.abort(), limit);
    const started = performance.now();
    setBusy(+1);
    try {
      const response = await fetch(BRIDGE_URL, {
        method: 'POST',
        headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
        // The bridge decodes percent escapes but keeps '+' as a plus sign, so no form encoder.
        body: 'json_data=' + encodeURIComponent(JSON.stringify(request)),
        signal: controller.signal,
        cache: 'no-store',
      });
      const text = await response.text();
      const elapsed = performance.now() - started;
      let reply;
      try {
        reply = JSON.parse(text);
      } catch (e) {
        return { kind: 'bad-reply', text, elapsed };
      }
      if (!reply || typeof reply !== 'object') return { kind: 'bad-reply', text, elapsed };
      return { kind: 'reply', reply, text, elapsed };
    } catch (e) {
      const elapsed = performance.now() - started;
      if (controller.signal.aborted) return { kind: 'timeout', limit, elapsed };
      return { kind: 'network', message: String(e && e.message || e), elapsed };
    } finally {
      clearTimeout(timer);
      setBusy(-1);
    }
  }

  function setBusy(delta) {
    inFlight += delta;
    $('status').dataset.busy = inFlight > 0 ? '1' : '0';
    $('run-once').disabled = inFlight > 0;
  }

  // ---------------------------------------------------------------- running a command

  let currentOp = 'read-holding';
  let requestCount = 0;

  function clearInvalid() {
    for (const el of document.querySelectorAll('.invalid')) el.classList.remove('invalid');
  }

  // Runs the chosen command once; 'input' when the form is not valid and nothing was sent.
  async function runCurrent() {
    clearInvalid();
    const op = currentOp;
    let command;
    let request;
    try {
      command = buildCommand(op);
      request = buildRequest(command);
    } catch (e) {
      if (!(e instanceof InputError)) throw e;
      if (e.field) $(e.field).classList.add('invalid');
      showOutcome({
        banner: 'error', title: 'Запрос не отправлен', text: e.message,
        status: 'не отправлен', code: '—', errorText: e.message,
      });
      return 'input';
    }
    requestCount++;
    $('request-count').textContent = String(requestCount);
    $('request-json').textContent = JSON.stringify(request, null, 2);
    $('last-pdu').textContent = command.pdus.map(toHexLine).join(' | ');
    setBanner('busy', 'Запрос…', `${describeCommand(op, command)}: ждём ответ моста`);
    const result = await exchange(request);
    handleResult(op, command, request, result);
    return result.kind === 'reply' && result.reply.status === 'ok' ? 'ok' : 'error';
  }

  function handleResult(op, command, request, result) {
    const took = `${Math.round(result.elapsed)} мс, ${new Date().toLocaleTimeString('ru-RU')}`;
    if (result.kind === 'network') {
      $('reply-json').textContent = '—';
      showOutcome({
        banner: 'error', title: 'Мост не отвечает',
        text: `Нет соединения с ${BRIDGE_URL} — запустите modbus-bridged или modbus-bridge.`,
        status: 'нет связи', code: '—', errorText: `Мост не отвечает на ${BRIDGE_URL}`, took,
      });
      return;
    }
    if (result.kind === 'timeout') {
      $('reply-json').textContent = '—';
      showOutcome({
        banner: 'error', title: 'Мост не ответил',
        text: `Нет ответа за ${result.limit} мс, запрос прерван. Мост не отвечает на запрос, ` +
          'пришедший во время обработки другого: возможно, с ним работает ещё одна страница.',
        status: 'прерван', code: '—', errorText: `Нет ответа моста за ${result.limit} мс`, took,
      });
      return;
    }
    if (result.kind === 'bad-reply') {
      $('reply-json').textContent = result.text || '(пусто)';
      showOutcome({
        banner: 'error', title: 'Ответ моста не разобран', text: 'Ответ не является объектом JSON.',
        status: 'ошибка', code: '—', errorText: 'Ответ моста не разобран', took,
      });
      return;
    }

    const reply = result.reply;
    $('reply-json').textContent = JSON.stringify(reply, null, 2);
    if (reply.rand_string !== request.rand_string) {
      showOutcome({
        banner: 'error', title: 'Чужой ответ',
        text: 'Метка rand_string ответа не совпадает с меткой запроса.',
        status: 'ошибка', code: '—', errorText: 'Ответ относится к другому запросу', took,
      });
      return;
    }
    renderReplyData(op, command, reply);
    const code = Number(reply.error_code);
    if (reply.status === 'ok') {
      showOutcome({
        banner: 'ok', title: 'Выполнено', text: summarize(op, command, reply),
        status: 'ok', code: String(Number.isFinite(code) ? code : 0), errorText: '—', took,
      });
      return;
    }
    const kind = errorKind(code);
    const advice = ERROR_ADVICE[code] ? ' ' + ERROR_ADVICE[code] : '';
    showOutcome({
      banner: 'error',
      title: `Ошибка ${Number.isFinite(code) ? code : '?'}: ${kind}`,
      text: (reply.error_text || 'без описания') + advice,
      status: String(reply.status || 'error'),
      code: Number.isFinite(code) ? String(code) : '—',
      errorText: reply.error_text || '—',
      took,
    });
  }

  function errorKind(code) {
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
      case 'device': return 'Чтение раздела устройства';
      case 'events': return `Чтение ${command.records.length} записей журнала`;
      default: return `PDU ${toHexLine(command.pdus[0])}`;
    }
  }

  function summarize(op, command, reply) {
    const count = reply.data ? Object.keys(reply.data).length : 0;
    switch (op) {
      case 'read-holding':
      case 'read-input':
        return `${describeCommand(op, command)}: ${count} шт.`;
      case 'write-single':
        return `Регистр ${formatAddress(command.address)} = ${command.values[0]}`;
      case 'write-multiple':
        return `Записано ${command.values.length} регистров с адреса ${formatAddress(command.address)}`;
      case 'device':
        return reply.data && '1' in reply.data
          ? `Код типа устройства ${hex16(reply.data['1'])}` : 'Раздел прочитан';
      case 'events':
        return `Прочитано записей: ${reply.events_log ? Object.keys(reply.events_log).length : 0}`;
      default:
        return timeoutZero(reply) ? 'PDU отправлен без ожидания ответа' : 'PDU выполнен';
    }
  }

  const timeoutZero = (reply) => reply.timeout_ms === 0;

  function showOutcome(o) {
    setBanner(o.banner, o.title, o.text);
    const status = $('status-text');
    status.textContent = o.status;
    status.className = o.banner === 'ok' ? 'good' : 'bad';
    const code = $('error-code');
    code.textContent = o.code;
    code.className = o.code !== '0' && o.code !== '—' ? 'bad' : '';
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

  const hex16 = (v) => '0x' + (v & 0xFFFF).toString(16).toUpperCase().padStart(4, '0');
  const hex8 = (v) => (v & 0xFF).toString(16).toUpperCase().padStart(2, '0');
  const toHexLine = (bytes) => bytes.map(hex8).join(' ');
  const formatAddress = (a) => `${hex16(a)} (${a})`;
  const numericKeys = (obj) => Object.keys(obj).map(Number).filter(Number.isInteger).sort((a, b) => a - b);

  const SOURCE_NAMES = { 3: 'хранения', 4: 'входные', 20: 'файловые записи' };
  const SOURCE_SHORT = { 3: 'Хр.', 4: 'Вх.', 20: 'Файл' };

  function renderReplyData(op, command, reply) {
    const data = reply.data && typeof reply.data === 'object' ? reply.data : null;
    const source = command.source;
    if (source === 69) {
      renderDevice(data);
    } else if (source === 3 || source === 4 || (source === 20 && data)) {
      renderRegisters(source, data);
      addChartPoints(source, data);
    }
    if (source === 20 && (op === 'events' || reply.events_log)) {
      renderEvents(reply.events_log && typeof reply.events_log === 'object' ? reply.events_log : null);
    }
  }

  function renderRegisters(source, data) {
    const body = $('register-rows');
    body.textContent = '';
    const addresses = data ? numericKeys(data) : [];
    for (const a of addresses) {
      const v = Number(data[String(a)]);
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
      row.append(
        cell('pick', pick),
        cell('reg-addr', hex16(a) + ' ', span('dec-addr', `(${a})`)),
        cell('reg-dec', String(v)),
        cell('reg-hex', hex16(v)));
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

  function renderDevice(data) {
    const body = $('device-rows');
    body.textContent = '';
    const keys = data ? numericKeys(data) : [];
    for (const k of keys) {
      const v = Number(data[String(k)]);
      const row = document.createElement('tr');
      row.dataset.reg = String(k);
      if (k === 1) row.className = 'key';
      row.append(cell('', k === 1 ? '1 — тип' : String(k)), cell('', hex16(v)), cell('', String(v)));
      body.append(row);
    }
    $('device-type').textContent = data && '1' in data ? hex16(Number(data['1'])) : '—';
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
    const records = log ? numericKeys(log) : [];
    for (const r of records) {
      const bytes = Array.isArray(log[String(r)]) ? log[String(r)] : [];
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

  function cell(className, ...content) {
    const td = document.createElement('td');
    if (className) td.className = className;
    td.append(...content);
    return td;
  }

  function span(className, text) {
    const s = document.createElement('span');
    s.className = className;
    s.textContent = text;
    return s;
  }

  // ---------------------------------------------------------------- chart

  const chart = { series: new Map() };

  const seriesKey = (source, address) => `${source}:${address}`;

  function addSeries(key) {
    if (chart.series.has(key)) return;
    const used = new Set([...chart.series.values()].map((s) => s.color));
    const color = COLORS.find((c) => !used.has(c)) || COLORS[chart.series.size % COLORS.length];
    const [source, address] = key.split(':').map(Number);
    chart.series.set(key, { key, color, label: `${SOURCE_SHORT[source]} ${hex16(address)}`, points: [] });
    refreshChart();
  }

  function removeSeries(key) {
    chart.series.delete(key);
    refreshChart();
  }

  function addChartPoints(source, data) {
    if (!data) return;
    const t = Date.now();
    let added = false;
    for (const s of chart.series.values()) {
      const [src, address] = s.key.split(':').map(Number);
      if (src !== source || !(String(address) in data)) continue;
      s.points.push({ t, v: Number(data[String(address)]) });
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
      const last = s.points.length ? s.points[s.points.length - 1].v : null;
      li.append(swatch, span('name', s.label), span('last', last === null ? '—' : String(last)));
      legend.append(li);
    }
  }

  function niceStep(range, ticks) {
    const raw = range / ticks;
    const power = Math.pow(10, Math.floor(Math.log10(raw)));
    const unit = raw / power;
    const nice = unit <= 1 ? 1 : unit <= 2 ? 2 : unit <= 5 ? 5 : 10;
    return Math.max(1, nice * power);
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
    const step = niceStep(Math.max(vMax - vMin, 1), 5);
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
      ctx.fillText(String(Math.round(v)), left - 6, y(v));
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

  // ---------------------------------------------------------------- polling

  let polling = false;
  let pollTimer = 0;

  function setPolling(on) {
    polling = on;
    const toggle = $('poll-toggle');
    toggle.setAttribute('aria-pressed', on ? 'true' : 'false');
    toggle.textContent = on ? 'Остановить опрос' : 'Начать опрос';
    if (!on && pollTimer) {
      clearTimeout(pollTimer);
      pollTimer = 0;
    }
  }

  function startPolling() {
    if (!OPS[currentOp].poll) {
      setBanner('error', 'Опрос не начат', 'Опрос повторяет только чтение; запись выполняйте кнопкой «Выполнить».');
      return;
    }
    setPolling(true);
    pollTick();
  }

  // One request, then the next one a period after the previous one started (or at once when the
  // answer took longer): never two in flight.
  async function pollTick() {
    pollTimer = 0;
    if (!polling) return;
    const started = performance.now();
    const outcome = await runCurrent();
    if (!polling) return;
    if (outcome === 'input' || !OPS[currentOp].poll) {
      setPolling(false);
      return;
    }
    let period = MIN_POLL_MS;
    try {
      period = fieldInt('poll-ms', MIN_POLL_MS, 3600000, 'Период опроса');
    } catch (e) {
      // The field is being edited; poll at the shortest period until it is a number again.
    }
    pollTimer = setTimeout(pollTick, Math.max(0, period - (performance.now() - started)));
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
    // Polling repeats reads only; choosing a write ends it.
    if (polling && !OPS[op].poll) setPolling(false);
    $('poll-toggle').disabled = !OPS[op].poll;
    clearInvalid();
  }

  function init() {
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
    $('run-once').addEventListener('click', () => {
      runCurrent();
    });
    $('poll-toggle').addEventListener('click', () => {
      if (polling) setPolling(false);
      else startPolling();
    });
    $('chart-clear').addEventListener('click', () => {
      for (const s of chart.series.values()) s.points = [];
      refreshChart();
    });
    window.addEventListener('resize', drawChart);
    refreshChart();
  }

  init();
})();
