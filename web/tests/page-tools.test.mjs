// The demo page's tools without a browser: the bus scan over a scripted line, the register map's
// files, the CSV of values read, and typed values as the page reads and shows them.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import { describe, test } from 'node:test';

import { BridgeError, BridgeUnreachableError, decodeRegisters, encodeValue } from '../client/modbus-bridge.js';
import { formatDuration, probeOutcome, runScan, scanProbes, timeLeftMs } from '../bus-scan.js';
import { MapError, checkMap, loadMap, mapFileText, readMapFile } from '../register-map.js';
import { formatValue, parseValueText } from '../typed-values.js';
import { ValueLog, timeStamp } from '../value-log.js';

// Failures as the client library gives them for the bridge's replies.
const echoed = (code, text) => new BridgeError({ status: 'error', error_code: code, error_text: text, rand_string: 'r' }, [], 0);
const refused = (code, text) => new BridgeError({ status: 'error', error_code: code, error_text: text }, [], null);
const SILENT = echoed(123, 'Истекло время ожидания ответа');

// A line whose devices answer as the table says; every read it is asked for is recorded.
function scriptedLine(answers, { onAsk } = {}) {
  const asked = [];
  const ask = async (address, baud, fc) => {
    asked.push(`${baud}:${address}:${fc}`);
    if (onAsk) onAsk(asked.length);
    const answer = answers[`${baud}:${address}:${fc}`];
    if (answer === undefined) throw SILENT;
    if (answer instanceof Error) throw answer;
    return [answer];
  };
  return { ask, asked };
}

async function scan(answers, options = {}) {
  const line = scriptedLine(answers, options);
  const found = [];
  const end = await runScan({
    probes: scanProbes({ speeds: [9600, 19200], from: 1, to: 4 }),
    ask: line.ask,
    onProbe: ({ probe, outcome }) => { if (outcome.kind === 'found') found.push(`${probe.baud}:${probe.address} ${outcome.answer}`); },
    ...options,
  });
  return { end, found, asked: line.asked };
}

describe('bus scan', () => {
  const LINE = {
    '19200:1:3': 17,
    '19200:2:4': 5,
    '9600:3:3': echoed(2, 'Указанный в запросе адрес данных не существует'),
    '9600:4:3': echoed(100, 'Ошибка длины принятого пакета'),
  };

  // Faults: a device missed, one found that is not there, FC 4 not asked after silence or asked
  // after an answer, an exception or a broken answer taken for no device, a write on the line.
  test('finds every device that answers, asks FC 4 only after silence, and only reads', async () => {
    const { end, found, asked } = await scan(LINE);
    assert.deepEqual(end, { status: 'done', done: 8 });
    assert.deepEqual(found, [
      '9600:3 ФК 3: исключение 2 — Указанный в запросе адрес данных не существует',
      '9600:4 ФК 3: ответ с ошибкой 100 — Ошибка длины принятого пакета',
      '19200:1 ФК 3: регистр 0 = 17',
      '19200:2 ФК 4: регистр 0 = 5',
    ]);
    assert.deepEqual(asked, ['9600:1:3', '9600:1:4', '9600:2:3', '9600:2:4', '9600:3:3', '9600:4:3',
      '19200:1:3', '19200:2:3', '19200:2:4', '19200:3:3', '19200:3:4', '19200:4:3', '19200:4:4']);
  });

  test('without the FC 4 retry a device that answers only FC 4 stays unfound', async () => {
    const { found, asked } = await scan(LINE, { tryInput: false });
    assert.equal(found.length, 3);
    assert.ok(asked.every((call) => call.endsWith(':3')), asked.join(' '));
    assert.equal(asked.length, 8);
  });

  // Faults: a scan that goes on asking past a refusal the next request would meet as well.
  const stops = [
    ['the operator has yet to allow the page (127)', refused(127, 'Страница ждёт разрешения оператора в окне моста')],
    ['the access settings refuse it (125)', refused(125, 'Запрос отклонён настройками доступа моста')],
    ['the COM port does not open (122)', echoed(122, 'Ошибка открытия COM порта')],
    ['the port policy forbids it (126)', echoed(126, 'Порт или функция запрещены настройками моста')],
    ['a fault of the bridge (-1)', echoed(-1, 'Внутренняя ошибка моста')],
    ['the bridge is busy with another page', new BridgeUnreachableError('timeout', 'http://localhost:19284/', 'no answer', 2270)],
    ['the bridge is not running', new BridgeUnreachableError('network', 'http://localhost:19284/', 'nothing answers')],
  ];
  for (const [name, error] of stops) {
    test(`stops at once when ${name}`, async () => {
      const { end, asked } = await scan({ '9600:1:3': 1, '9600:2:3': error });
      assert.equal(end.status, 'stopped');
      assert.equal(end.done, 1);
      assert.equal(end.error, error);
      assert.deepEqual(asked, ['9600:1:3', '9600:2:3']);
    });
  }

  test('a fault of the page itself is no device answer: the scan rejects with it', async () => {
    await assert.rejects(scan({ '9600:2:3': new TypeError('page fault') }), /page fault/);
  });

  // Faults: requests sent after the cancel, FC 4 asked after a cancel during the FC 3 read.
  for (const cancelAt of [1, 2, 5]) {
    test(`a cancel during request ${cancelAt} sends no further request`, async () => {
      let cancelled = false;
      const { end, asked } = await scan({}, {
        onAsk: (n) => { if (n === cancelAt) cancelled = true; },
        cancelled: () => cancelled,
      });
      assert.equal(end.status, 'cancelled');
      assert.equal(asked.length, cancelAt);
    });
  }

  test('probes go speed by speed, addresses rising', () => {
    assert.deepEqual(scanProbes({ speeds: [19200, 9600], from: 246, to: 247 }),
      [{ baud: 19200, address: 246 }, { baud: 19200, address: 247 }, { baud: 9600, address: 246 }, { baud: 9600, address: 247 }]);
  });

  test('an answer of FC 3 is found without an exception', () => {
    assert.deepEqual(probeOutcome(3, [0x1234]), { kind: 'found', fc: 3, answer: 'ФК 3: регистр 0 = 4660' });
  });

  // Faults: an estimate that ignores the bridge's shortest wait, the FC 4 retry or what was measured.
  const estimates = [
    ['before any probe, 100 ms asked: the bridge waits 250', { done: 0, total: 10, elapsedMs: 0, timeoutMs: 100, tryInput: true }, 5400],
    ['before any probe, without FC 4', { done: 0, total: 10, elapsedMs: 0, timeoutMs: 100, tryInput: false }, 2700],
    ['before any probe, 1000 ms asked', { done: 0, total: 2, elapsedMs: 0, timeoutMs: 1000, tryInput: false }, 2040],
    ['after probes, their mean', { done: 4, total: 10, elapsedMs: 2000, timeoutMs: 100, tryInput: true }, 3000],
    ['at the end, nothing', { done: 10, total: 10, elapsedMs: 9000, timeoutMs: 100, tryInput: true }, 0],
  ];
  for (const [name, progress, expected] of estimates) {
    test(`time left ${name}`, () => assert.equal(timeLeftMs(progress), expected));
  }

  test('durations read as minutes and seconds', () => {
    assert.deepEqual([formatDuration(0), formatDuration(35200), formatDuration(245000)], ['≈ 0 с', '≈ 36 с', '≈ 4 мин 05 с']);
  });
});

describe('register map files', () => {
  const MAP = [
    { name: 'Температура', function: 4, address: 0x10, type: 'float32', order: 'CDAB', scale: 1, unit: '°C' },
    { name: 'Счётчик, "А"', function: 3, address: 0xFFFC, type: 'uint64', order: 'DCBA', scale: 0.001, unit: 'кВт·ч' },
    { name: '', function: 3, address: 0, type: 'int16', order: 'BADC', scale: -10, unit: '' },
  ];

  // Faults: a field lost or changed on its way through the file.
  test('a map comes back from its file unchanged', () => {
    assert.deepEqual(readMapFile(mapFileText(MAP)), MAP);
    assert.deepEqual(readMapFile(`\uFEFF${mapFileText(MAP)}`), MAP, 'with a byte order mark');
  });

  test('defaults fill what an entry leaves out, names and units are trimmed', () => {
    assert.deepEqual(checkMap([{ address: 5, name: ' Уставка ', unit: ' % ' }]),
      [{ name: 'Уставка', function: 3, address: 5, type: 'uint16', order: 'ABCD', scale: 1, unit: '%' }]);
  });

  const file = (registers, extra = {}) => JSON.stringify({ format: 'modbus-bridge-register-map', version: 1, registers, ...extra });
  const one = (entry) => file([{ ...MAP[0], ...entry }]);
  // Faults: a wrong file taken for a map, or refused without saying why.
  const wrongFiles = [
    ['not JSON', '{"format": ', /^Файл не в формате JSON: /],
    ['a JSON array', '[]', /Это не файл карты регистров: в нём нет "format": "modbus-bridge-register-map"/],
    ['another program\'s JSON', '{"registers": []}', /Это не файл карты регистров/],
    ['a later version', file([], { version: 2 }), /Версия карты 2 не читается: эта страница читает версию 1/],
    ['no register list', JSON.stringify({ format: 'modbus-bridge-register-map', version: 1 }), /нет списка регистров "registers"/],
    ['a register that is no object', file([5]), /Регистр 1: ожидается объект/],
    ['an address as text', one({ address: '16' }), /Регистр 1: адрес — целое от 0 до 65535, а не «16»/],
    ['address 65536', one({ address: 65536 }), /адрес — целое от 0 до 65535/],
    ['function 6', one({ function: 6 }), /функция — 3 \(хранения\) или 4 \(входные\), а не 6/],
    ['an unknown type', one({ type: 'float16' }), /тип — один из int16, uint16, .*, а не «float16»/],
    ['an unknown order', one({ order: 'abcd' }), /порядок байтов — один из ABCD, CDAB, BADC, DCBA, а не «abcd»/],
    ['scale 0', one({ scale: 0 }), /масштаб — число, не равное 0, а не 0/],
    ['scale as text', one({ scale: '0.1' }), /масштаб/],
    ['a name too long', one({ name: 'x'.repeat(65) }), /имя — строка не длиннее 64 знаков/],
    ['a unit that is no text', one({ unit: 5 }), /единица — строка/],
    ['a value past 65535', one({ address: 0xFFFE, type: 'float64' }), /float64 с адреса 65534 выходит за адрес 65535/],
    ['two entries of one register', file([MAP[0], { ...MAP[0], name: 'Другое' }]), /Регистры 1 и 2: оба — входные с адресом 16/],
  ];
  for (const [name, text, message] of wrongFiles) {
    test(`refused: ${name}`, () => assert.throws(() => readMapFile(text), (e) => e instanceof MapError && message.test(e.message)));
  }

  test('the user guide\'s map file is one', () => {
    const guide = fs.readFileSync(new URL('../../docs/user-guide.md', import.meta.url), 'utf8');
    const example = /```json\n(\{\n  "format": "modbus-bridge-register-map"[\s\S]*?)```/.exec(guide);
    assert.ok(example, 'no map file in the user guide');
    assert.equal(readMapFile(example[1]).length, 2);
  });

  test('a damaged map in storage is reported, not taken for an empty one', () => {
    const storage = { getItem: () => '{"broken' };
    assert.throws(() => loadMap(storage, 'k'), (e) => e instanceof MapError && /Сохранённая карта не читается/.test(e.message));
    assert.deepEqual(loadMap({ getItem: () => null }, 'k'), []);
  });
});

describe('CSV of values read', () => {
  const at = new Date(2025, 2, 1, 14, 5, 9, 120);

  // Faults: a field that splits the line, a name a spreadsheet runs as a formula, a file without
  // the mark spreadsheets need to read UTF-8.
  test('header, quoting, formulas kept from running, CRLF and the byte order mark', () => {
    const log = new ValueLog();
    log.add(at, 'Температура', '23.5', '°C');
    log.add(at, 'Ток, "фаза A"', '-1.25', '');
    log.add(at, '=HYPERLINK("x")', '7', '+В');
    log.add(at, ' пробел', 'NaN', '');
    assert.equal(log.csv(), '\uFEFFtime,name,value,unit\r\n' +
      '2025-03-01 14:05:09.120,Температура,23.5,°C\r\n' +
      '2025-03-01 14:05:09.120,"Ток, ""фаза A""",-1.25,\r\n' +
      '2025-03-01 14:05:09.120,"\'=HYPERLINK(""x"")",7,\'+В\r\n' +
      '2025-03-01 14:05:09.120," пробел",NaN,\r\n');
  });

  test('the oldest values go once the log is full', () => {
    const log = new ValueLog(3);
    for (let i = 0; i < 5; i++) log.add(at, 'n', String(i), '');
    assert.equal(log.size, 3);
    assert.deepEqual(log.csv().split('\r\n').slice(1, -1).map((line) => line.split(',')[2]), ['2', '3', '4']);
    log.clear();
    assert.equal(log.size, 0);
  });

  test('time stamps pad every field', () => {
    assert.equal(timeStamp(new Date(2025, 0, 2, 3, 4, 5, 6)), '2025-01-02 03:04:05.006');
  });
});

describe('typed values as typed and shown', () => {
  // Faults: a comma decimal refused, hexadecimal lost, a 64-bit whole number rounded through a
  // double, NaN taken for an integer type, garbage taken for a number.
  const parsed = [
    ['23,5', 'float32', 1, 23.5],
    ['-1.5e3', 'float64', 1, -1500],
    ['nan', 'float32', 1, NaN],
    ['-inf', 'float64', 1, -Infinity],
    ['Infinity', 'float32', 1, Infinity],
    ['0x7FFF', 'int16', 1, 0x7FFF],
    ['18446744073709551615', 'uint64', 1, 18446744073709551615n],
    ['0xFFFFFFFFFFFFFFFF', 'uint64', 1, 18446744073709551615n],
    ['-9007199254740993', 'int64', 1, -9007199254740993n],
    ['123.45', 'int64', 0.01, 123.45],
    ['  42 ', 'uint16', 1, 42],
  ];
  for (const [text, type, scale, value] of parsed) {
    test(`"${text}" as ${type}`, () => assert.ok(Object.is(parseValueText(text, type, scale), value)
      || parseValueText(text, type, scale) === value));
  }
  const refusedTexts = [['', 'int16', /введите значение/], ['nan', 'int32', /«nan» — не число/], ['12abc', 'float32', /не число/],
    ['1,2,3', 'float64', /не число/], ['0x1G', 'uint16', /не число/], ['5', 'int24', /type must be one of/]];
  for (const [text, type, message] of refusedTexts) {
    test(`"${text}" refused as ${type}`, () => assert.throws(() => parseValueText(text, type), message));
  }

  test('values show in their shortest text', () => {
    assert.deepEqual([
      formatValue(Math.fround(0.1), { type: 'float32' }), formatValue(Math.fround(3.14), { type: 'float32' }),
      formatValue(-0, { type: 'float64' }), formatValue(2n ** 64n - 1n, { type: 'uint64' }),
      formatValue(NaN, { type: 'float32' }), formatValue(-Infinity, { type: 'float64' }), formatValue(234.5, { type: 'int16', scale: 0.1 }),
    ], ['0.1', '3.14', '-0', '18446744073709551615', 'NaN', '-Infinity', '234.5']);
  });

  // Faults: a shown value that a user (or a CSV reader) cannot type back to the same registers.
  for (const type of ['float32', 'float64', 'int32', 'uint64']) {
    test(`${type}: the text shown writes back the same registers`, () => {
      const count = type === 'float64' || type === 'uint64' ? 4 : 2;
      for (let round = 0; round < 300; round++) {
        const registers = Array.from({ length: count }, () => randomBytes(2).readUInt16BE(0));
        const value = decodeRegisters(registers, { type });
        if (Number.isNaN(value)) continue;
        const text = formatValue(value, { type });
        assert.deepEqual(encodeValue(parseValueText(text, type), { type }), registers, `${type} ${text}`);
      }
    });
  }
});
