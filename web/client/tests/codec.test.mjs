// The client's pure half: the PDUs it builds, what it refuses to send, and how it reads the
// replies that a real modbus-bridged gave (replies.json, made by capture-replies.mjs).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { describe, test } from 'node:test';

import {
  BridgeError, BridgeUnreachableError, ModbusBridge, clientTimeoutMs, decodeReply, formBody, pdu, pduMembers,
} from '../modbus-bridge.js';
import { simulatedRecord } from '../../tests/programs.mjs';

const captured = JSON.parse(fs.readFileSync(new URL('./replies.json', import.meta.url), 'utf8')).cases;
const replyOf = (name) => {
  const found = captured.find((c) => c.name === name);
  assert.ok(found, `no captured reply named "${name}"`);
  return structuredClone(found);
};

describe('PDU bytes', () => {
  const table = [
    ['read holding 0x1234 x10', () => pdu.readHoldingRegisters(0x1234, 10), [3, 0x12, 0x34, 0, 10]],
    ['read input 0xFF83 x125 (the last 125)', () => pdu.readInputRegisters(0xFF83, 125), [4, 0xFF, 0x83, 0, 125]],
    ['write single, negative value', () => pdu.writeSingleRegister(0x0105, -2), [6, 1, 5, 0xFF, 0xFE]],
    ['write single 0xABCD', () => pdu.writeSingleRegister(0, 0xABCD), [6, 0, 0, 0xAB, 0xCD]],
    ['write multiple', () => pdu.writeMultipleRegisters(0x20, [7, 0x1234, -1]),
      [16, 0, 0x20, 0, 3, 6, 0, 7, 0x12, 0x34, 0xFF, 0xFF]],
    ['event record 0x0109', () => pdu.readFileRecords(6, 0x0109), [20, 7, 6, 0, 6, 1, 9, 0, 16]],
    ['register file 5', () => pdu.readFileRecords(5, 0x7FFE, 2), [20, 7, 6, 0, 5, 0x7F, 0xFE, 0, 2]],
    ['two records in one PDU', () => pdu.readFileRecords([{ file: 1, record: 2, length: 3 }, { file: 6, record: 9 }]),
      [20, 14, 6, 0, 1, 0, 2, 0, 3, 6, 0, 6, 0, 9, 0, 16]],
    ['device section', () => pdu.readDeviceSection(), [69]],
    ['raw from a typed array', () => pdu.raw(Uint8Array.of(0x46, 0, 255)), [0x46, 0, 255]],
  ];
  for (const [name, build, bytes] of table) {
    test(name, () => assert.deepEqual([...build().bytes], bytes));
  }
});

describe('arguments refused before anything is sent', () => {
  const table = [
    ['count 126', () => pdu.readHoldingRegisters(0, 126), RangeError, /count must be an integer from 1 to 125/],
    ['count 0', () => pdu.readInputRegisters(0, 0), RangeError, /count/],
    ['range past 0xFFFF', () => pdu.readHoldingRegisters(0xFFFF, 2), RangeError, /run past address 65535/],
    ['address as text', () => pdu.readHoldingRegisters('5', 1), RangeError, /address must be an integer.*"5"/],
    ['fractional address', () => pdu.writeSingleRegister(1.5, 1), RangeError, /address/],
    ['value 65536', () => pdu.writeSingleRegister(0, 65536), RangeError, /value must be an integer from -32768 to 65535/],
    ['124 values', () => pdu.writeMultipleRegisters(0, new Array(124).fill(0)), RangeError, /count must be an integer from 1 to 123/],
    ['no values', () => pdu.writeMultipleRegisters(0, []), RangeError, /count/],
    ['values not an array', () => pdu.writeMultipleRegisters(0, 5), TypeError, /array/],
    ['a bad value among many', () => pdu.writeMultipleRegisters(0, [1, -40000]), RangeError, /values\[1\]/],
    ['file 3, which the bridge drops', () => pdu.readFileRecords(3, 0, 1), RangeError, /returns nothing of file 3/],
    ['event record of 8 registers', () => pdu.readFileRecords(6, 0, 8), RangeError, /16 registers long/],
    ['eight event records in one PDU', () => pdu.readFileRecords(Array.from({ length: 8 }, (_, record) => ({ file: 6, record }))),
      RangeError, /272 bytes, more than Modbus allows \(245\)/],
    ['raw byte 256', () => pdu.raw([3, 256]), RangeError, /byte 1/],
    ['raw of 254 bytes', () => pdu.raw(new Array(254).fill(0)), RangeError, /PDU length/],
    ['empty raw', () => pdu.raw([]), RangeError, /PDU length/],
  ];
  for (const [name, build, kind, message] of table) {
    test(name, () => assert.throws(build, (e) => e instanceof kind && message.test(e.message)));
  }

  const bridgeTable = [
    ['no COM port', {}, RangeError, /comPort/],
    ['COM 256', { comPort: 256, slave: 1 }, RangeError, /comPort must be an integer from 1 to 255/],
    ['slave 248', { comPort: 1, slave: 248 }, RangeError, /slave/],
    ['time-out above 60 s', { comPort: 1, slave: 1, timeoutMs: 60001 }, RangeError, /timeoutMs/],
    ['line flag as a number', { comPort: 1, slave: 1, line: { echo: 1 } }, TypeError, /line.echo/],
    ['key as a number', { comPort: 1, slave: 1, key: 5 }, TypeError, /key/],
    ['URL that is none', { comPort: 1, slave: 1, url: 'not a url' }, TypeError, /URL/i],
  ];
  for (const [name, options, kind, message] of bridgeTable) {
    test(`new ModbusBridge: ${name}`, () => assert.throws(() => new ModbusBridge(options),
      (e) => e instanceof kind && message.test(e.message)));
  }

  const batchTable = [
    ['device section and holding register 1', [pdu.readDeviceSection(), pdu.readHoldingRegisters(1, 1)], {},
      /PDUs 0 and 1 both answer with register 1/],
    ['the same event record twice', [pdu.readFileRecords(6, 3), pdu.raw([20, 7, 6, 0, 6, 0, 3, 0, 16])], {},
      /event record 3/],
    ['file 1 and the holding register it maps to', [pdu.readHoldingRegisters(0x1000, 1), pdu.readFileRecords(1, 0, 1)], {},
      /register 4096/],
    ['two PDUs awaiting no answer', [pdu.writeSingleRegister(0, 1), pdu.writeSingleRegister(1, 1)], { timeoutMs: 0 },
      /only the first PDU/],
    ['a read awaiting no answer', [pdu.readHoldingRegisters(0, 1)], { timeoutMs: 0 }, /a read has nothing/],
    ['nothing', [], {}, /at least one PDU/],
    ['something that is no PDU', [[3, 0, 0, 0, 1]], {}, /item 0 is not a PDU/],
  ];
  for (const [name, pdus, options, message] of batchTable) {
    test(`batch: ${name}`, async () => {
      const bridge = new ModbusBridge({ comPort: 1, slave: 1, url: 'http://127.0.0.1:9/', ...options });
      await assert.rejects(bridge.batch(pdus), message);
    });
  }
});

describe('request form', () => {
  test('PDU member names sort in the caller\'s order, as the bridge sends them', () => {
    for (const count of [1, 2, 10, 11, 100, 101, 1001]) {
      const pdus = Array.from({ length: count }, (_, i) => pdu.writeSingleRegister(i, i));
      const members = pduMembers(pdus);
      const byBridgeOrder = Object.keys(members).sort((a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b)));
      assert.deepEqual(byBridgeOrder.map((name) => members[name][1] * 256 + members[name][2]),
        pdus.map((_, i) => i), `${count} PDUs`);
    }
  });

  test('the body percent-encodes key and JSON, the key first, with no plus sign for a space', () => {
    const request = { rand_string: 'a b+c', pdu: { p00: [3, 0, 0, 0, 1] } };
    const body = formBody(request, 'ключ 1+2&json_data=x');
    assert.ok(!body.includes('+') && !body.includes(' '), body);
    const [keyField, jsonField, ...rest] = body.split('&');
    assert.deepEqual(rest, []);
    assert.equal(decodeURIComponent(keyField.slice('key='.length)), 'ключ 1+2&json_data=x');
    assert.deepEqual(JSON.parse(decodeURIComponent(jsonField.slice('json_data='.length))), request);
    assert.equal(formBody(request, undefined).split('&')[0].slice(0, 10), 'json_data=');
  });

  test('the client waits for every PDU\'s time-out, write and pause, plus a margin', () => {
    const five = pdu.readHoldingRegisters(0, 1);
    const table = [
      // timeoutMs, baudRate, PDUs, expected: margin + per PDU (frame time + wait + pause)
      [500, 19200, [five], 2000 + 5 + 500 + 50],
      [100, 19200, [five], 2000 + 5 + 250 + 50],
      [0, 9600, [pdu.writeSingleRegister(0, 1)], 2000 + 9],
      [1000, 1200, [five, five, five], 2000 + 3 * (67 + 1000 + 450)],
    ];
    for (const [timeoutMs, baudRate, pdus, expected] of table) {
      assert.equal(clientTimeoutMs(timeoutMs, baudRate, pdus), expected, `${timeoutMs} ms at ${baudRate} baud`);
    }
  });
});

describe('captured replies', () => {
  const ok = [
    ['holding registers 0..9', [pdu.readHoldingRegisters(0, 10)], [[0, 1, 2, 3, 4, 5, 6, 7, 8, 9]]],
    ['input registers 0x10, 0x11', [pdu.readInputRegisters(0x10, 2)], [[0x1010, 0x1011]]],
    ['device section', [pdu.readDeviceSection()], [{ deviceType: 0x0110,
      registers: [1, 0x0110, 256, 1, 8230, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0] }]],
    ['write 1234 to register 5', [pdu.writeSingleRegister(5, 1234)], [undefined]],
    ['register 5 after the write', [pdu.readHoldingRegisters(5, 1)], [[1234]]],
    ['write 7, 0x1234, -1 from 0x20', [pdu.writeMultipleRegisters(0x20, [7, 0x1234, -1])], [undefined]],
    ['registers 0x20..0x22 after the write', [pdu.readHoldingRegisters(0x20, 3)], [[7, 0x1234, 0xFFFF]]],
    ['event records 0..6', [pdu.readFileRecords([0, 1, 2, 3, 4, 5, 6].map((record) => ({ file: 6, record })))],
      [[0, 1, 2, 3, 4, 5, 6].map(simulatedRecord)]],
    ['file records of three kinds', [pdu.readFileRecords([{ file: 1, record: 2, length: 3 }, { file: 6, record: 9 },
      { file: 0, record: 0x30, length: 2 }])], [[[0x1002, 0x1003, 0x1004], simulatedRecord(9), [0x30, 0x31]]]],
    ['raw read of input registers', [pdu.raw([4, 0, 0x10, 0, 2])],
      [{ functionCode: 4, registers: new Map([[16, 0x1010], [17, 0x1011]]), events: new Map() }]],
    ['batch of four', [pdu.readHoldingRegisters(0x40, 2), pdu.writeSingleRegister(0x30, 5),
      pdu.readInputRegisters(0x10, 1), pdu.readDeviceSection()],
    [[0x40, 0x41], undefined, [0x1010], { deviceType: 0x0110, registers: [1, 0x0110, 256, 1, 8230, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0] }]],
  ];
  for (const [name, pdus, expected] of ok) {
    test(`${name} decodes`, () => {
      const { pdus: sentBytes, request, reply } = replyOf(name);
      assert.deepEqual(pdus.map((p) => [...p.bytes]), sentBytes, 'the captured request is this one');
      assert.deepEqual(decodeReply(pdus, request, reply), expected);
    });
  }

  const failures = [
    // name, PDUs, code, results proven done, failed PDU
    ['exception: holding register 0x9000', [pdu.readHoldingRegisters(0x9000, 1)], 2, [], 0],
    ['batch failing at its second read', [pdu.readHoldingRegisters(0, 2), pdu.readHoldingRegisters(0x9000, 1),
      pdu.readHoldingRegisters(4, 1)], 2, [[0, 1]], 1],
    // The first write failed, but a write leaves no trace: the reply cannot tell it from the second.
    ['batch failing at a write between writes', [pdu.readHoldingRegisters(0, 1), pdu.writeSingleRegister(0x9000, 1),
      pdu.writeSingleRegister(0x9001, 1), pdu.readHoldingRegisters(3, 1)], 2, [[0]], null],
    ['silent device', [pdu.readHoldingRegisters(0, 1)], 123, [], 0],
  ];
  for (const [name, pdus, code, results, pduIndex] of failures) {
    test(`${name} is a BridgeError ${code}`, () => {
      const { request, reply } = replyOf(name);
      assert.throws(() => decodeReply(pdus, request, reply), (e) => {
        assert.ok(e instanceof BridgeError);
        assert.deepEqual([e.code, e.text, e.results, e.pduIndex], [code, reply.error_text, results, pduIndex]);
        return true;
      });
    });
  }

  // Neither reply echoes rand_string, and neither failure concerns a PDU.
  const unechoed = [
    ['framing error without json_data', 106, 'Не найдены JSON данные', 'request'],
    ['refused: no access key', 125, 'Запрос отклонён настройками доступа моста', 'access'],
  ];
  for (const [name, code, text, kind] of unechoed) {
    test(`${name} is still the bridge's answer`, () => {
      const { reply } = replyOf(name);
      const request = replyOf('holding registers 0..9').request;
      assert.equal('rand_string' in reply, false);
      assert.throws(() => decodeReply([pdu.readHoldingRegisters(0, 10)], request, reply),
        (e) => e instanceof BridgeError && e.code === code && e.text === text && e.pduIndex === null &&
          e.kind === kind);
    });
  }

  const foreign = [
    ['an answer to another request', (r) => { r.rand_string = 'capture-99'; }, 'foreign-reply'],
    ['a success that echoes no rand_string', (r) => { delete r.rand_string; }, 'foreign-reply'],
    ['an error of another request', (r) => { r.status = 'error'; r.error_code = 123; r.rand_string = 'x'; }, 'foreign-reply'],
    ['a success that lacks a register', (r) => { delete r.data['7']; }, 'not-bridge'],
    ['a register that is no 16-bit value', (r) => { r.data['7'] = 70000; }, 'not-bridge'],
    ['no status', (r) => { delete r.status; }, 'not-bridge'],
  ];
  for (const [name, change, reason] of foreign) {
    test(`${name} is never taken for the answer`, () => {
      const { request, reply } = replyOf('holding registers 0..9');
      change(reply);
      assert.throws(() => decodeReply([pdu.readHoldingRegisters(0, 10)], request, reply),
        (e) => e instanceof BridgeUnreachableError && e.reason === reason);
    });
  }
});

describe('what a failure is about', () => {
  const UNKNOWN = 'Unknown ERROR';
  // code, text, whether the reply echoes the request, kind, the PDU that failed: the read that
  // failed (0) or none, for failures that end the request before it is sent
  const table = [
    [2, 'Указанный в запросе адрес данных не существует', true, 'device', 0],
    [9, UNKNOWN, true, 'device', 0],
    [-56, UNKNOWN, true, 'device', 0],
    [100, 'Ошибка длины принятого пакета', true, 'device', 0],
    [102, 'Ошибка CRC пакета', true, 'device', 0],
    [123, 'Истекло время ожидания ответа', true, 'device', 0],
    [103, 'Не найдена первая POST строка HTTP заголовка', false, 'request', null],
    [107, 'Ошибка парсинга JSON данных', false, 'request', null],
    [112, 'Отсутствие параметра COM_PORT', true, 'request', null],
    [121, 'Неизвестный тип параметра', true, 'request', null],
    [122, 'Ошибка открытия COM порта', true, 'port', null],
    [124, 'Ошибка операции с COM портом', true, 'port', 0],
    [126, 'Порт или функция запрещены настройками моста', true, 'port', null],
    [128, 'Линия занята: время ожидания в очереди моста истекло', true, 'port', null],
    [125, 'Запрос отклонён настройками доступа моста', false, 'access', null],
    [127, 'Страница ждёт разрешения оператора в окне моста', false, 'access', null],
    // A device's exception codes that are also the bridge's own: the request comes back with them.
    [125, UNKNOWN, true, 'device', 0],
    [126, UNKNOWN, true, 'device', 0],
    [127, UNKNOWN, true, 'device', 0],
  ];
  for (const [code, text, echoed, kind, pduIndex] of table) {
    test(`${code} ${echoed ? 'with' : 'without'} the request: ${kind}`, () => {
      const { request } = replyOf('holding registers 0..9');
      const status = { error_code: code, error_text: text, status: 'error' };
      const reply = echoed ? { ...request, ...status } : status;
      assert.throws(() => decodeReply([pdu.readHoldingRegisters(0, 10)], request, reply), (e) => {
        assert.ok(e instanceof BridgeError);
        assert.deepEqual([e.code, e.kind, e.pduIndex], [code, kind, pduIndex]);
        return true;
      });
    });
  }
});
