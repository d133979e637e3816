// The typed codecs: values against bytes that Node's Buffer writes and reads (a second source,
// which knows nothing of registers or byte orders), random round trips, scales and refusals.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { BYTE_ORDERS, VALUE_TYPES, decodeRegisters, encodeValue, registerCount } from '../modbus-bridge.js';

// Buffer's reader and writer of each type, big-endian, and its byte count.
const BUFFER_CALLS = {
  int16: ['readInt16BE', 'writeInt16BE', 2],
  uint16: ['readUInt16BE', 'writeUInt16BE', 2],
  int32: ['readInt32BE', 'writeInt32BE', 4],
  uint32: ['readUInt32BE', 'writeUInt32BE', 4],
  float32: ['readFloatBE', 'writeFloatBE', 4],
  int64: ['readBigInt64BE', 'writeBigInt64BE', 8],
  uint64: ['readBigUInt64BE', 'writeBigUInt64BE', 8],
  float64: ['readDoubleBE', 'writeDoubleBE', 8],
};

// The bytes on the bus in each order, made by Buffer's own swaps of the big-endian bytes.
function wireBytes(bigEndian, order) {
  const bytes = Buffer.from(bigEndian);
  const reverse = (b) => (b.length === 2 ? b.swap16() : b.length === 4 ? b.swap32() : b.swap64());
  switch (order) {
    case 'ABCD': return bytes;
    case 'BADC': return bytes.swap16();
    case 'DCBA': return reverse(bytes);
    case 'CDAB': return bytes.length === 2 ? bytes : reverse(bytes).swap16();
    default: throw new Error(order);
  }
}

const registersOf = (bytes) => Array.from({ length: bytes.length / 2 }, (_, i) => bytes.readUInt16BE(2 * i));
const same = (a, b) => Object.is(a, b) || (typeof a === 'bigint' && a === b);

describe('known encodings in every byte order', () => {
  // Value and its bytes, most significant first, written out by hand.
  const table = [
    ['int16', -2, 'FFFE'],
    ['int16', -32768, '8000'],
    ['uint16', 0xABCD, 'ABCD'],
    ['int32', -123456789, 'F8A432EB'],
    ['int32', 2147483647, '7FFFFFFF'],
    ['uint32', 0xDEADBEEF, 'DEADBEEF'],
    ['float32', 1.5, '3FC00000'],
    ['float32', Math.fround(3.14), '4048F5C3'],
    ['float32', -0, '80000000'],
    ['float32', Infinity, '7F800000'],
    ['float32', -Infinity, 'FF800000'],
    ['float32', NaN, '7FC00000'],
    ['float32', 1.401298464324817e-45, '00000001'],
    ['int64', -2n, 'FFFFFFFFFFFFFFFE'],
    ['int64', 0x0102030405060708n, '0102030405060708'],
    ['int64', -(2n ** 63n), '8000000000000000'],
    ['uint64', 2n ** 64n - 1n, 'FFFFFFFFFFFFFFFF'],
    ['uint64', 2n ** 53n + 1n, '0020000000000001'],
    ['float64', Math.PI, '400921FB54442D18'],
    ['float64', -0, '8000000000000000'],
    ['float64', -Infinity, 'FFF0000000000000'],
    ['float64', NaN, '7FF8000000000000'],
    ['float64', Number.MAX_VALUE, '7FEFFFFFFFFFFFFF'],
  ];
  for (const [type, value, hex] of table) {
    const [read, write, size] = BUFFER_CALLS[type];
    const bigEndian = Buffer.from(hex, 'hex');
    test(`${type} ${String(value)}: the table agrees with Buffer`, () => {
      assert.equal(registerCount(type) * 2, size);
      assert.ok(same(bigEndian[read](0), value), `Buffer reads ${bigEndian[read](0)}`);
      const written = Buffer.alloc(size);
      written[write](value);
      assert.equal(written.toString('hex').toUpperCase(), hex);
    });
    for (const order of BYTE_ORDERS) {
      test(`${type} ${String(value)} ${order}`, () => {
        const registers = registersOf(wireBytes(bigEndian, order));
        assert.deepEqual(encodeValue(value, { type, order }), registers);
        const decoded = decodeRegisters(registers, { type, order });
        assert.ok(same(decoded, value), `decoded ${decoded}`);
      });
    }
  }

  test('ABCD is the default order and 1 the default scale', () => {
    assert.deepEqual(encodeValue(0x01020304, { type: 'uint32' }), [0x0102, 0x0304]);
    assert.equal(decodeRegisters([0x0102, 0x0304], { type: 'uint32' }), 0x01020304);
  });
});

describe('round trips of random values', () => {
  const ROUNDS = 300;
  const isNaNPattern = (type, bytes) => (type === 'float32' ? Number.isNaN(bytes.readFloatBE(0))
    : type === 'float64' ? Number.isNaN(bytes.readDoubleBE(0)) : false);

  for (const type of VALUE_TYPES) {
    const [read, , size] = BUFFER_CALLS[type];
    test(`${type}: registers to value and back, value to registers and back, in every order`, () => {
      let checked = 0;
      for (let round = 0; round < ROUNDS; round++) {
        const bigEndian = randomBytes(size);
        // Which NaN a number keeps is the engine's choice: NaNs are checked on their own.
        if (isNaNPattern(type, bigEndian)) continue;
        const value = bigEndian[read](0);
        for (const order of BYTE_ORDERS) {
          const registers = registersOf(wireBytes(bigEndian, order));
          const decoded = decodeRegisters(registers, { type, order });
          assert.ok(same(decoded, value), `${type} ${order} ${bigEndian.toString('hex')}: ${decoded} is not ${value}`);
          assert.deepEqual(encodeValue(decoded, { type, order }), registers);
        }
        checked++;
      }
      assert.ok(checked > ROUNDS / 2, `only ${checked} values checked`);
    });
  }

  test('every NaN pattern reads as NaN', () => {
    for (const registers of [[0x7F80, 0x0001], [0xFFC0, 0x1234], [0x7FFF, 0xFFFF]]) {
      assert.ok(Number.isNaN(decodeRegisters(registers, { type: 'float32' })), registers.join(' '));
    }
    assert.ok(Number.isNaN(decodeRegisters([0xFFF0, 0, 0, 1], { type: 'float64' })));
  });
});

describe('scales', () => {
  // Type, scale, registers, value: both ways.
  const table = [
    ['int16', 0.1, [2345], 234.5],
    ['int16', 0.1, [3], 0.3],
    ['int16', 0.1, [0xFFFD], -0.3],
    ['uint32', 0.001, [0x0001, 0xE240], 123.456],
    ['uint16', 10, [12], 120],
    ['int16', -1, [5], -5],
    ['uint16', 0.25, [7], 1.75],
    ['float32', 2, [0x3FC0, 0], 3],
    ['int64', 0.01, [0, 0, 0, 12345], 123.45],
  ];
  for (const [type, scale, registers, value] of table) {
    test(`${type} with scale ${scale}: ${registers} is ${value}`, () => {
      assert.equal(decodeRegisters(registers, { type, scale }), value);
      assert.deepEqual(encodeValue(value, { type, scale }), registers);
    });
  }

  test('a 64-bit integer is a bigint with scale 1 and a number with another', () => {
    assert.equal(decodeRegisters([0, 0, 0, 5], { type: 'uint64', scale: 1 }), 5n);
    assert.equal(decodeRegisters([0, 0, 0, 5], { type: 'uint64', scale: 0.5 }), 2.5);
  });
});

describe('refusals name the cause', () => {
  const table = [
    ['unknown type', () => decodeRegisters([1], { type: 'int8' }), RangeError, /type must be one of int16, uint16.*"int8"/],
    ['unknown order', () => encodeValue(1, { type: 'int32', order: 'DABC' }), RangeError, /order must be one of ABCD, CDAB, BADC, DCBA, not "DABC"/],
    ['no format', () => encodeValue(1), TypeError, /give the format/],
    ['scale 0', () => encodeValue(1, { type: 'int16', scale: 0 }), RangeError, /scale must be a finite number other than 0/],
    ['scale NaN', () => decodeRegisters([1], { type: 'int16', scale: NaN }), RangeError, /scale/],
    ['scale as text', () => decodeRegisters([1], { type: 'int16', scale: '0.1' }), RangeError, /scale/],
    ['too few registers', () => decodeRegisters([1], { type: 'float32' }), RangeError, /float32 takes 2 registers, not 1/],
    ['too many registers', () => decodeRegisters([1, 2, 3], { type: 'int32' }), RangeError, /takes 2 registers, not 3/],
    ['a register above 65535', () => decodeRegisters([0, 65536], { type: 'uint32' }), RangeError, /register 1 must be an integer from 0 to 65535/],
    ['registers not an array', () => decodeRegisters(5, { type: 'int16' }), TypeError, /registers must be an array/],
    ['int16 32768', () => encodeValue(32768, { type: 'int16' }), RangeError, /32768 is out of the range of int16, -32768 to 32767/],
    ['uint16 -1', () => encodeValue(-1, { type: 'uint16' }), RangeError, /out of the range of uint16/],
    ['uint32 2^32', () => encodeValue(2 ** 32, { type: 'uint32' }), RangeError, /out of the range of uint32, 0 to 4294967295/],
    ['int64 2^63', () => encodeValue(2n ** 63n, { type: 'int64' }), RangeError, /out of the range of int64/],
    ['uint64 -1', () => encodeValue(-1n, { type: 'uint64' }), RangeError, /out of the range of uint64/],
    ['scaled beyond int16', () => encodeValue(3276.8, { type: 'int16', scale: 0.1 }), RangeError, /32768 register steps with the scale 0.1\) is out of the range of int16/],
    ['a fraction for int32', () => encodeValue(1.5, { type: 'int32' }), RangeError, /int32 holds whole numbers only, not 1.5/],
    ['no whole multiple of the scale', () => encodeValue(0.35, { type: 'uint16', scale: 0.1 }), RangeError, /0.35 is no whole multiple of the scale 0.1/],
    ['NaN for an integer', () => encodeValue(NaN, { type: 'int32' }), RangeError, /int32 holds no NaN/],
    ['infinity for an integer', () => encodeValue(Infinity, { type: 'uint64' }), RangeError, /uint64 holds no Infinity/],
    ['a value as text', () => encodeValue('5', { type: 'int16' }), TypeError, /must be a number, not "5"/],
    ['a bigint for a float', () => encodeValue(5n, { type: 'float64' }), TypeError, /float64 value must be a number/],
    ['a bigint with a scale', () => encodeValue(5n, { type: 'int64', scale: 0.1 }), RangeError, /bigint value takes scale 1 only/],
    ['float32 beyond its range', () => encodeValue(1e39, { type: 'float32' }), RangeError, /1e\+39 is out of the range of float32/],
    ['float64 beyond its range once scaled', () => encodeValue(1e308, { type: 'float64', scale: 0.001 }), RangeError, /with the scale 0.001 is out of the range of float64/],
    ['registerCount of no type', () => registerCount('word'), RangeError, /not "word"/],
  ];
  for (const [name, call, kind, message] of table) {
    test(name, () => assert.throws(call, (e) => e instanceof kind && message.test(e.message)));
  }

  test('float32 takes the largest value that rounds to a finite float32', () => {
    assert.deepEqual(encodeValue(3.4028235e38, { type: 'float32' }), [0x7F7F, 0xFFFF]);
  });
});

// The user guide's example of typed values, run beside the module: each line it prints is the
// "// → " comment that follows the call.
test('the user guide\'s example of typed values prints what it says', async () => {
  const here = path.dirname(fileURLToPath(import.meta.url));
  const guide = fs.readFileSync(path.resolve(here, '..', '..', '..', 'docs', 'user-guide.md'), 'utf8');
  const section = guide.slice(guide.indexOf('### Typed values'));
  const example = /```js\n([\s\S]*?)```/.exec(section);
  assert.ok(example, 'no js example under "Typed values"');
  const expected = [...example[1].matchAll(/^\/\/ → (.*)$/gm)].map((m) => m[1]);
  assert.ok(expected.length >= 4, 'the example says what it prints');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'typed-example-'));
  try {
    fs.copyFileSync(path.resolve(here, '..', 'modbus-bridge.js'), path.join(dir, 'modbus-bridge.js'));
    fs.writeFileSync(path.join(dir, 'typed.mjs'), example[1]);
    const output = await new Promise((resolve, reject) => {
      execFile(process.execPath, ['typed.mjs'], { cwd: dir }, (error, stdout, stderr) => (error
        ? reject(new Error(`${error.message}\n${stderr}`)) : resolve(stdout)));
    });
    assert.deepEqual(output.trimEnd().split('\n'), expected);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
