// The typed codecs: values against bytes that Node's Buffer writes and reads (a second source,
// which knows nothing of registers or byte orders), random round trips, scales and refusals.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { BYTE_ORDERS, VALUE_TYPES, decodeRegisters, encodeValue, registerCount } from '../modbus-bridge.js';

// Buffer's big-endian reader and writer of each type.
const BUFFER_CALLS = {
  int16: ['readInt16BE', 'writeInt16BE'], uint16: ['readUInt16BE', 'writeUInt16BE'],
  int32: ['readInt32BE', 'writeInt32BE'], uint32: ['readUInt32BE', 'writeUInt32BE'], float32: ['readFloatBE', 'writeFloatBE'],
  int64: ['readBigInt64BE', 'writeBigInt64BE'], uint64: ['readBigUInt64BE', 'writeBigUInt64BE'], float64: ['readDoubleBE', 'writeDoubleBE'],
};

// The registers on the bus in each order, made by Buffer's own swaps of the big-endian bytes.
function wireRegisters(bigEndian, order) {
  const bytes = Buffer.from(bigEndian);
  // The swaps work in place, on a copy.
  const reverse = (b) => (b.length === 2 ? b.swap16() : b.length === 4 ? b.swap32() : b.swap64());
  const swaps = { ABCD: (b) => b, BADC: (b) => b.swap16(), DCBA: reverse,
    CDAB: (b) => (b.length === 2 ? b : reverse(b).swap16()) };
  const wire = swaps[order](bytes);
  return Array.from({ length: wire.length / 2 }, (_, i) => wire.readUInt16BE(2 * i));
}

const same = (a, b) => Object.is(a, b) || (typeof a === 'bigint' && a === b);

// Faults: a wrong byte or word order, a sign lost, -0, infinities or NaN mangled, 64-bit values
// rounded through a double. Each value with its bytes written out by hand, most significant first.
test('known encodings agree with Buffer and come out and back in every byte order', () => {
  const table = [
    ['int16', -2, 'FFFE'], ['int16', -32768, '8000'], ['uint16', 0xABCD, 'ABCD'],
    ['int32', -123456789, 'F8A432EB'], ['uint32', 0xDEADBEEF, 'DEADBEEF'],
    ['float32', 1.5, '3FC00000'], ['float32', Math.fround(3.14), '4048F5C3'], ['float32', -0, '80000000'],
    ['float32', -Infinity, 'FF800000'], ['float32', NaN, '7FC00000'], ['float32', 1.401298464324817e-45, '00000001'],
    ['int64', -2n, 'FFFFFFFFFFFFFFFE'], ['int64', 0x0102030405060708n, '0102030405060708'],
    ['uint64', 2n ** 64n - 1n, 'FFFFFFFFFFFFFFFF'], ['uint64', 2n ** 53n + 1n, '0020000000000001'],
    ['float64', Math.PI, '400921FB54442D18'], ['float64', -0, '8000000000000000'], ['float64', NaN, '7FF8000000000000'],
    ['float64', Number.MAX_VALUE, '7FEFFFFFFFFFFFFF'],
  ];
  for (const [type, value, hex] of table) {
    const [read, write] = BUFFER_CALLS[type];
    const bigEndian = Buffer.from(hex, 'hex');
    const what = `${type} ${String(value)}`;
    assert.equal(registerCount(type) * 2, bigEndian.length, what);
    assert.ok(same(bigEndian[read](0), value), `${what}: Buffer reads ${bigEndian[read](0)}`);
    const written = Buffer.alloc(bigEndian.length);
    written[write](value);
    assert.equal(written.toString('hex').toUpperCase(), hex, what);
    for (const order of BYTE_ORDERS) {
      const registers = wireRegisters(bigEndian, order);
      assert.deepEqual(encodeValue(value, { type, order }), registers, `${what} ${order}`);
      assert.ok(same(decodeRegisters(registers, { type, order }), value), `${what} ${order}`);
    }
  }
  assert.deepEqual(encodeValue(0x01020304, { type: 'uint32' }), [0x0102, 0x0304], 'ABCD is the default');
});

// Faults: any pattern that does not survive the way out and back in some order.
test('random registers round trip through their value in every type and order', () => {
  for (const type of VALUE_TYPES) {
    const [read] = BUFFER_CALLS[type];
    for (let round = 0; round < 300; round++) {
      const bigEndian = randomBytes(registerCount(type) * 2);
      const value = bigEndian[read](0);
      for (const order of BYTE_ORDERS) {
        const registers = wireRegisters(bigEndian, order);
        const decoded = decodeRegisters(registers, { type, order });
        // Which NaN a number keeps is the engine's choice: any NaN pattern reads as NaN.
        if (Number.isNaN(value)) {
          assert.ok(Number.isNaN(decoded));
          continue;
        }
        assert.ok(same(decoded, value), `${type} ${order} ${bigEndian.toString('hex')}: ${decoded}`);
        assert.deepEqual(encodeValue(decoded, { type, order }), registers);
      }
    }
  }
});

// Faults: a scale applied the wrong way, 0.3 read as 0.30000000000000004, a bigint with a scale.
test('scales, both ways', () => {
  const table = [
    ['int16', 0.1, [2345], 234.5], ['int16', 0.1, [3], 0.3], ['int16', 0.1, [0xFFFD], -0.3],
    ['uint32', 0.001, [0x0001, 0xE240], 123.456], ['uint16', 10, [12], 120], ['uint16', 0.25, [7], 1.75],
    ['float32', 2, [0x3FC0, 0], 3], ['int64', 0.01, [0, 0, 0, 12345], 123.45], ['uint64', 1, [0, 0, 0, 5], 5n],
  ];
  for (const [type, scale, registers, value] of table) {
    assert.equal(decodeRegisters(registers, { type, scale }), value, `${type} ${scale} ${registers}`);
    assert.deepEqual(encodeValue(value, { type, scale }), registers, `${type} ${scale} ${value}`);
  }
});

// Faults: a value the type cannot hold written as another, a bad format taken, no word of why.
test('refusals name the cause', () => {
  const table = [
    [() => decodeRegisters([1], { type: 'int8' }), RangeError, /type must be one of int16, uint16.*"int8"/],
    [() => encodeValue(1, { type: 'int32', order: 'DABC' }), RangeError, /order must be one of ABCD, CDAB, BADC, DCBA, not "DABC"/],
    [() => decodeRegisters([1], { type: 'float32' }), RangeError, /float32 takes 2 registers, not 1/],
    [() => decodeRegisters([0, 65536], { type: 'uint32' }), RangeError, /register 1 must be an integer from 0 to 65535/],
    [() => encodeValue(32768, { type: 'int16' }), RangeError, /32768 is out of the range of int16, -32768 to 32767/],
    [() => encodeValue(3276.8, { type: 'int16', scale: 0.1 }), RangeError, /\(32768 register steps with the scale 0.1\)/],
    [() => encodeValue(1.5, { type: 'int32' }), RangeError, /int32 holds whole numbers only, not 1.5/],
    [() => encodeValue(0.35, { type: 'uint16', scale: 0.1 }), RangeError, /0.35 is no whole multiple of the scale 0.1/],
    [() => encodeValue(5n, { type: 'int64', scale: 0.1 }), RangeError, /bigint value takes scale 1 only/],
    [() => encodeValue(1e39, { type: 'float32' }), RangeError, /1e\+39 is out of the range of float32/],
    [() => encodeValue(1e308, { type: 'float64', scale: 0.001 }), RangeError, /with the scale 0.001 is out of the range of float64/],
  ];
  for (const [call, kind, message] of table) {
    assert.throws(call, (e) => e instanceof kind && message.test(e.message), String(message));
  }
  assert.deepEqual(encodeValue(3.4028235e38, { type: 'float32' }), [0x7F7F, 0xFFFF], 'the largest float32 is no overflow');
});

test('the user guide\'s example of typed values prints what its comments say', () => {
  const guide = fs.readFileSync(new URL('../../../docs/user-guide.md', import.meta.url), 'utf8');
  const example = /```js\n([\s\S]*?)```/.exec(guide.slice(guide.indexOf('### Typed values')));
  assert.ok(example, 'no js example under "Typed values"');
  const expected = [...example[1].matchAll(/^\/\/ → (.*)$/gm)].map((m) => m[1]);
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'typed-example-'));
  try {
    fs.copyFileSync(new URL('../modbus-bridge.js', import.meta.url), path.join(dir, 'modbus-bridge.js'));
    fs.writeFileSync(path.join(dir, 'typed.mjs'), example[1]);
    const output = execFileSync(process.execPath, ['typed.mjs'], { cwd: dir, encoding: 'utf8' });
    assert.deepEqual(output.trimEnd().split('\n'), expected);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
