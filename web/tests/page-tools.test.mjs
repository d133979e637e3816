// The demo page's tools without a browser: the bus scan over a scripted line, the register map's
// files, the CSV of values read, and typed values as the page reads and shows them.
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import { test } from 'node:test';

import { BridgeError, BridgeUnreachableError, decodeRegisters, encodeValue } from '../client/modbus-bridge.js';
import { runScan, scanProbes, timeLeftMs } from '../bus-scan.js';
import { MapError, checkMap, loadMap, mapFileText, readMapFile } from '../register-map.js';
import { formatValue, parseValueText } from '../typed-values.js';
import { ValueLog } from '../value-log.js';

// Failures as the client library gives them for the bridge's replies.
const echoed = (code, text) => new BridgeError({ status: 'error', error_code: code, error_text: text, rand_string: 'r' }, [], 0);
const refused = (code, text) => new BridgeError({ status: 'error', error_code: code, error_text: text }, [], null);

// A scan of addresses 1 to 4 at 9600 and 19200 over a line that answers as the table says (no
// entry: silence); every read asked for is recorded as baud:address:fc.
async function scan(answers, options = {}) {
  const asked = [];
  const found = [];
  const end = await runScan({
    probes: scanProbes({ speeds: [9600, 19200], from: 1, to: 4 }),
    ask: async (address, baud, fc) => {
      asked.push(`${baud}:${address}:${fc}`);
      if (options.onAsk) options.onAsk(asked.length);
      const answer = answers[`${baud}:${address}:${fc}`] ?? echoed(123, 'Истекло время ожидания ответа');
      if (answer instanceof Error) throw answer;
      return [answer];
    },
    onProbe: ({ probe, outcome }) => { if (outcome.kind === 'found') found.push(`${probe.baud}:${probe.address} ${outcome.answer}`); },
    ...options,
  });
  return { end, found, asked };
}

const LINE = {
  '19200:1:3': 17,
  '19200:2:4': 5,
  '9600:3:3': echoed(2, 'Указанный в запросе адрес данных не существует'),
  '9600:4:3': echoed(100, 'Ошибка длины принятого пакета'),
};

// Faults: a device missed or one found that is not there, FC 4 not asked after silence or asked
// after an answer, an exception or a broken answer taken for no device, probes out of order.
test('the scan finds every device that answers and asks FC 4 only after silence', async () => {
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
  // The estimate before the first probe: the bridge waits 250 ms for the 100 asked, twice with FC 4.
  assert.deepEqual([timeLeftMs({ done: 0, total: 10, timeoutMs: 100, tryInput: true }),
    timeLeftMs({ done: 4, total: 10, elapsedMs: 2000, timeoutMs: 100, tryInput: true })], [5200, 3000]);
  const withoutRetry = await scan(LINE, { tryInput: false });
  assert.equal(withoutRetry.found.length, 3);
  assert.equal(withoutRetry.asked.filter((a) => a.endsWith(':3')).length, 8);
  assert.equal(withoutRetry.asked.length, 8);
});

// Faults: a scan that asks on past a refusal every further request would meet too, or that
// sends anything after a cancel (also the FC 4 retry after a cancel during the FC 3 read).
test('the scan stops at once on the bridge\'s refusals and sends nothing after a cancel', async () => {
  const stops = [refused(127, 'Страница ждёт разрешения оператора в окне моста'), echoed(122, 'Ошибка открытия COM порта'),
    echoed(-1, 'Внутренняя ошибка моста'), new BridgeUnreachableError('timeout', 'http://localhost:19284/', 'no answer', 2270)];
  for (const error of stops) {
    const { end, asked } = await scan({ '9600:1:3': 1, '9600:2:3': error });
    assert.deepEqual([end.status, end.done, end.error, asked], ['stopped', 1, error, ['9600:1:3', '9600:2:3']], error.message);
  }
  await assert.rejects(scan({ '9600:2:3': new TypeError('page fault') }), /page fault/);
  for (const cancelAt of [1, 2, 5]) {
    let cancelled = false;
    const { end, asked } = await scan({}, { onAsk: (n) => { cancelled = n === cancelAt; }, cancelled: () => cancelled });
    assert.deepEqual([end.status, asked.length], ['cancelled', cancelAt]);
  }
});

// Faults: a field lost on its way through the file, a wrong file taken for a map or refused
// without saying why.
test('the map file: a map comes back unchanged, a wrong file is refused with its reason', () => {
  const map = [
    { name: 'Температура', function: 4, address: 0x10, type: 'float32', order: 'CDAB', scale: 1, unit: '°C' },
    { name: 'Счётчик, "А"', function: 3, address: 0xFFFC, type: 'uint64', order: 'DCBA', scale: 0.001, unit: 'кВт·ч' },
  ];
  assert.deepEqual(readMapFile(`\uFEFF${mapFileText(map)}`), map);
  assert.deepEqual(checkMap([{ address: 5, name: ' Уставка ' }]),
    [{ name: 'Уставка', function: 3, address: 5, type: 'uint16', order: 'ABCD', scale: 1, unit: '' }], 'defaults');
  const file = (registers, extra = {}) => JSON.stringify({ format: 'modbus-bridge-register-map', version: 1, registers, ...extra });
  const one = (entry) => file([{ ...map[0], ...entry }]);
  const wrong = [
    ['{"format": ', /^Файл не в формате JSON: /],
    ['{"registers": []}', /Это не файл карты регистров: в нём нет "format": "modbus-bridge-register-map"/],
    [file([], { version: 2 }), /Версия карты 2 не читается: эта страница читает версию 1/],
    [one({ address: '16' }), /Регистр 1: адрес — целое от 0 до 65535, а не «16»/],
    [one({ type: 'float16' }), /тип — один из int16, uint16, .*, а не «float16»/],
    [one({ order: 'abcd' }), /порядок байтов — один из ABCD, CDAB, BADC, DCBA, а не «abcd»/],
    [one({ scale: '0.1' }), /масштаб — число, не равное 0, а не «0.1»/],
    [one({ address: 0xFFFE, type: 'float64' }), /float64 с адреса 65534 выходит за адрес 65535/],
    [file([map[0], { ...map[0], name: 'Другое' }]), /Регистры 1 и 2: оба — входные с адресом 16/],
  ];
  for (const [text, message] of wrong) {
    assert.throws(() => readMapFile(text), (e) => e instanceof MapError && message.test(e.message), String(message));
  }
  assert.throws(() => loadMap({ getItem: () => '{"broken' }, 'k'), /Сохранённая карта не читается/);
  const guide = fs.readFileSync(new URL('../../docs/user-guide.md', import.meta.url), 'utf8');
  const example = /```json\n(\{\n {2}"format": "modbus-bridge-register-map"[\s\S]*?)```/.exec(guide);
  assert.equal(readMapFile(example[1]).length, 2, 'the user guide\'s map file');
});

// Faults: a field that splits the line, a name a spreadsheet runs as a formula, a file without
// the mark spreadsheets need to read UTF-8, a log that grows without end.
test('the CSV: header, quoting, formulas kept from running, CRLF, byte order mark, a limit', () => {
  const at = new Date(2025, 2, 1, 14, 5, 9, 120);
  const log = new ValueLog(3);
  log.add(at, 'old', '1', '');
  log.add(at, 'Температура', '23.5', '°C');
  log.add(at, 'Ток, "фаза A"', '-1.25', '');
  log.add(at, '=HYPERLINK("x")', '7', '+В');
  assert.equal(log.size, 3);
  assert.equal(log.csv(), '\uFEFFtime,name,value,unit\r\n2025-03-01 14:05:09.120,Температура,23.5,°C\r\n' +
    '2025-03-01 14:05:09.120,"Ток, ""фаза A""",-1.25,\r\n2025-03-01 14:05:09.120,"\'=HYPERLINK(""x"")",7,\'+В\r\n');
});

// Faults: a comma decimal refused, a 64-bit whole number rounded through a double, NaN taken
// for an integer type, garbage taken for a number; a shown value that does not type back to the
// same registers (the CSV's values are these texts).
test('typed values as typed and shown', () => {
  const parsed = [['23,5', 'float32', 1, 23.5], ['-inf', 'float64', 1, -Infinity], ['0x7FFF', 'int16', 1, 0x7FFF],
    ['0xFFFFFFFFFFFFFFFF', 'uint64', 1, 2n ** 64n - 1n], ['-9007199254740993', 'int64', 1, -9007199254740993n],
    ['123.45', 'int64', 0.01, 123.45]];
  for (const [text, type, scale, value] of parsed) assert.equal(parseValueText(text, type, scale), value, text);
  assert.ok(Number.isNaN(parseValueText('nan', 'float32')));
  for (const [text, type] of [['', 'int16'], ['nan', 'int32'], ['12abc', 'float32'], ['1,2,3', 'float64']]) {
    assert.throws(() => parseValueText(text, type), /введите значение|не число/, text);
  }
  assert.deepEqual([Math.fround(0.1), Math.fround(3.14), -0].map((v) => formatValue(v, { type: 'float32' })), ['0.1', '3.14', '-0']);
  for (const type of ['float32', 'float64', 'int32', 'uint64']) {
    const count = type === 'float64' || type === 'uint64' ? 4 : 2;
    for (let round = 0; round < 300; round++) {
      const registers = Array.from({ length: count }, () => randomBytes(2).readUInt16BE(0));
      const value = decodeRegisters(registers, { type });
      if (Number.isNaN(value)) continue;
      const text = formatValue(value, { type });
      assert.deepEqual(encodeValue(parseValueText(text, type), { type }), registers, `${type} ${text}`);
    }
  }
});
