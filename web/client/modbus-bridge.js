// A promise-based client for modbus-bridge: builds the Modbus PDUs, posts them as the form field
// json_data, checks that the reply belongs to the request and turns it into plain values.
// No dependencies; runs in browsers and in Node 18 or later.

export const DEFAULT_URL = 'http://localhost:19284/';

// The bridge raises 1 to 249 ms to 250 and caps the wait at 60 s.
const SHORTEST_TIMEOUT_MS = 250;
const LONGEST_TIMEOUT_MS = 60000;
// Beyond the bridge's own waits: the port's opening, HTTP on loopback, a loaded machine.
const MARGIN_MS = 2000;
// The bridge sends a PDU behind the slave address and before the CRC in a 256-byte frame.
const LONGEST_PDU = 253;
const FRAME_OVERHEAD = 3;
const BITS_PER_BYTE = 10;
const MAX_READ_REGISTERS = 125;
const MAX_WRITE_REGISTERS = 123;
// Modbus caps a file-record answer's data at 245 bytes: 2 + 2 x length per record read.
const MAX_FILE_ANSWER_BYTES = 245;
const EVENT_FILE = 6;
const EVENT_RECORD_REGISTERS = 16;
const EVENT_RECORD_BYTES = 32;
// The register files that the bridge turns into data, by the low byte of the file number.
const FILE_BASES = new Map([[0, 0x0000], [1, 0x1000], [2, 0x2000], [4, 0x4000], [5, 0x8000]]);
const DEVICE_SECTION_REGISTERS = 16;
const INT32_MAX = 0x7FFFFFFF;
// Error codes that end a request before its first PDU is sent.
const REQUEST_LEVEL_CODES = new Set([103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114,
  115, 116, 117, 118, 119, 120, 121, 122, 125, 126, 127, 128]);
// Refused by the access settings (125), or waiting for the operator's answer in the window (127).
const ACCESS_CODES = new Set([125, 127]);
// A device's exception code that is also one of the bridge's own codes reads with this text.
const UNKNOWN_CODE_TEXT = 'Unknown ERROR';

/**
 * What a failure is about: 'access' (the bridge does not serve this page yet: allow it in the
 * bridge's window or settings), 'request' (103 to 121: the request is malformed), 'port' (the
 * COM port cannot be opened or used, the bridge's settings forbid it, or the line stayed busy
 * with other clients' requests: 128), 'device' (an exception from the device, a broken answer or
 * none).
 */
function errorKind(reply) {
  const code = reply.error_code;
  // A refusal echoes nothing of the request, which tells it from a device's exception 125 or 127.
  if (ACCESS_CODES.has(code) && !('rand_string' in reply)) return 'access';
  if (code >= 103 && code <= 121) return 'request';
  if (code === 122 || code === 124 || code === 128 ||
      (code === 126 && reply.error_text !== UNKNOWN_CODE_TEXT)) return 'port';
  return 'device';
}

/** The bridge answered with status "error": `code` and `text` are its error_code and error_text. */
export class BridgeError extends Error {
  constructor(reply, results, pduIndex) {
    super(`modbus-bridge error ${reply.error_code}: ${reply.error_text}`);
    this.name = 'BridgeError';
    this.code = reply.error_code;
    this.text = reply.error_text;
    this.kind = errorKind(reply);
    this.reply = reply;
    // The results of the PDUs that the reply proves done, in the caller's order.
    this.results = results;
    // The PDU that failed, or null when the request failed before sending any or the reply
    // cannot tell which of several writes it was.
    this.pduIndex = pduIndex;
  }
}

/** No usable answer came from the bridge; `reason` says why. */
export class BridgeUnreachableError extends Error {
  constructor(reason, url, message, limitMs) {
    super(message);
    this.name = 'BridgeUnreachableError';
    this.reason = reason;
    this.url = url;
    if (limitMs !== undefined) this.limitMs = limitMs;
  }
}

// ------------------------------------------------------------------ checking arguments

function describe(value) {
  return typeof value === 'string' ? JSON.stringify(value) : String(value);
}

function integer(value, min, max, what) {
  if (!Number.isInteger(value) || value < min || value > max) {
    throw new RangeError(`${what} must be an integer from ${min} to ${max}, not ${describe(value)}`);
  }
  return value;
}

function flag(value, what) {
  if (typeof value !== 'boolean') throw new TypeError(`${what} must be true or false, not ${describe(value)}`);
  return value;
}

function registerRange(address, count, max, what) {
  integer(address, 0, 0xFFFF, `${what}: address`);
  integer(count, 1, max, `${what}: count`);
  if (address + count > 0x10000) {
    throw new RangeError(`${what}: ${count} registers from ${address} run past address 65535`);
  }
}

// A register value; negative numbers are taken as signed 16-bit values.
function registerValue(value, what) {
  return integer(value, -0x8000, 0xFFFF, what) & 0xFFFF;
}

const hi = (v) => (v >> 8) & 0xFF;
const lo = (v) => v & 0xFF;
const word = (bytes, i) => (bytes[i] << 8) | bytes[i + 1];
const range = (from, count) => Array.from({ length: count }, (_, k) => (from + k) & 0xFFFF);

// ------------------------------------------------------------------ what the bridge answers

/**
 * The members of the reply's `data` and `events_log` that the bridge fills from the answer to
 * these PDU bytes, as it decodes them: registers of function codes 3 and 4, the 16 registers of
 * a device section (69), and for file records (20) registers of files 0, 1, 2, 4 and 5 and the
 * event records of file 6.
 */
function answerKeys(bytes) {
  const keys = { data: [], events: [], files: [] };
  const fc = bytes[0];
  if ((fc === 3 || fc === 4) && bytes.length >= 5) {
    keys.data = range(word(bytes, 1), word(bytes, 3));
  } else if (fc === 69) {
    keys.data = range(0, DEVICE_SECTION_REGISTERS);
  } else if (fc === 20 && bytes.length >= 2) {
    for (let n = bytes[1], q = 2; n >= 7 && q + 6 < bytes.length; n -= 7, q += 7) {
      const fileSelector = bytes[q + 2];
      const record = word(bytes, q + 3);
      const length = word(bytes, q + 5);
      if (fileSelector === EVENT_FILE) {
        keys.events.push(record);
        keys.files.push({ events: [record] });
      } else if (FILE_BASES.has(fileSelector)) {
        const registers = range(FILE_BASES.get(fileSelector) + record, length);
        keys.data.push(...registers);
        keys.files.push({ data: registers });
      } else {
        keys.files.push({});
      }
    }
  }
  return keys;
}

function badReply(url, what) {
  return new BridgeUnreachableError('not-bridge', url,
    `the reply from ${url} ${what}: it is not the bridge's answer to this request`);
}

function dataValue(reply, key, url) {
  const value = reply.data && typeof reply.data === 'object' ? reply.data[String(key)] : undefined;
  if (!Number.isInteger(value) || value < 0 || value > 0xFFFF) throw badReply(url, `lacks register ${key}`);
  return value;
}

function eventRecord(reply, record, url) {
  const log = reply.events_log && typeof reply.events_log === 'object' ? reply.events_log : {};
  const bytes = log[String(record)];
  if (!Array.isArray(bytes) || bytes.length !== EVENT_RECORD_BYTES ||
      !bytes.every((b) => Number.isInteger(b) && b >= 0 && b <= 0xFF)) {
    throw badReply(url, `lacks event record ${record}`);
  }
  return bytes;
}

function makePdu(bytes, decode) {
  return Object.freeze({ bytes: Object.freeze(bytes), keys: answerKeys(bytes), decode });
}

function decodeFiles(keys, reply, url) {
  return keys.files.map((file) => (file.events
    ? eventRecord(reply, file.events[0], url)
    : (file.data || []).map((key) => dataValue(reply, key, url))));
}

// ------------------------------------------------------------------ building PDUs

function readRegisters(fc, what) {
  return (address, count) => {
    registerRange(address, count, MAX_READ_REGISTERS, what);
    return makePdu([fc, hi(address), lo(address), hi(count), lo(count)],
      (keys, reply, url) => keys.data.map((key) => dataValue(reply, key, url)));
  };
}

function fileSubRequest({ file, record, length = file === EVENT_FILE ? EVENT_RECORD_REGISTERS : undefined }) {
  integer(file, 0, EVENT_FILE, 'readFileRecords: file');
  if (file !== EVENT_FILE && !FILE_BASES.has(file)) {
    throw new RangeError(`readFileRecords: the bridge returns nothing of file ${file}; files 0, 1, 2, 4, 5 hold registers, 6 event records`);
  }
  integer(record, 0, 0xFFFF, 'readFileRecords: record');
  if (file === EVENT_FILE) {
    if (length !== EVENT_RECORD_REGISTERS) {
      throw new RangeError(`readFileRecords: an event record (file 6) is ${EVENT_RECORD_REGISTERS} registers long, not ${describe(length)}`);
    }
  } else {
    integer(length, 1, (MAX_FILE_ANSWER_BYTES - 2) >> 1, 'readFileRecords: length');
    if (record + length > 0x10000) throw new RangeError(`readFileRecords: record ${record} + ${length} runs past 65535`);
  }
  return { file, record, length };
}

/** Builders of the PDUs that `batch` and `poll` take; each call of a ModbusBridge uses one. */
export const pdu = Object.freeze({
  readHoldingRegisters: readRegisters(3, 'readHoldingRegisters'),
  readInputRegisters: readRegisters(4, 'readInputRegisters'),

  writeSingleRegister(address, value) {
    integer(address, 0, 0xFFFF, 'writeSingleRegister: address');
    const v = registerValue(value, 'writeSingleRegister: value');
    return makePdu([6, hi(address), lo(address), hi(v), lo(v)], () => undefined);
  },

  writeMultipleRegisters(address, values) {
    if (!Array.isArray(values)) throw new TypeError('writeMultipleRegisters: values must be an array');
    registerRange(address, values.length, MAX_WRITE_REGISTERS, 'writeMultipleRegisters');
    const words = values.map((v, i) => registerValue(v, `writeMultipleRegisters: values[${i}]`));
    const bytes = [16, hi(address), lo(address), hi(words.length), lo(words.length), 2 * words.length];
    for (const v of words) bytes.push(hi(v), lo(v));
    return makePdu(bytes, () => undefined);
  },

  // One record (file, record, length) gives its registers, or an event record's 32 bytes; an
  // array of { file, record, length } reads them all in one PDU and gives one result each.
  readFileRecords(file, record, length) {
    const many = Array.isArray(file);
    const subRequests = (many ? file : [{ file, record, length }]).map(fileSubRequest);
    if (subRequests.length === 0) throw new RangeError('readFileRecords: no record to read');
    const answerBytes = subRequests.reduce((sum, s) => sum + 2 + 2 * s.length, 0);
    if (answerBytes > MAX_FILE_ANSWER_BYTES) {
      throw new RangeError(`readFileRecords: the answer would carry ${answerBytes} bytes, more than Modbus allows (${MAX_FILE_ANSWER_BYTES}); split the records over several PDUs`);
    }
    const bytes = [20, 7 * subRequests.length];
    for (const s of subRequests) {
      bytes.push(6, hi(s.file), lo(s.file), hi(s.record), lo(s.record), hi(s.length), lo(s.length));
    }
    return makePdu(bytes, (keys, reply, url) => {
      const records = decodeFiles(keys, reply, url);
      return many ? records : records[0];
    });
  },

  readDeviceSection() {
    return makePdu([69], (keys, reply, url) => {
      const registers = keys.data.map((key) => dataValue(reply, key, url));
      return { deviceType: registers[1], registers };
    });
  },

  // Any PDU: function code and data. Its result holds what the bridge decoded of the answer.
  raw(bytes) {
    if (bytes === null || typeof bytes !== 'object' || typeof bytes.length !== 'number') {
      throw new TypeError('raw: the PDU must be an array of bytes');
    }
    const copy = Array.from(bytes);
    integer(copy.length, 1, LONGEST_PDU, 'raw: PDU length');
    copy.forEach((b, i) => integer(b, 0, 0xFF, `raw: byte ${i}`));
    return makePdu(copy, (keys, reply, url) => ({
      functionCode: copy[0],
      registers: new Map(keys.data.map((key) => [key, dataValue(reply, key, url)])),
      events: new Map(keys.events.map((record) => [record, eventRecord(reply, record, url)])),
    }));
  },
});

function isPdu(value) {
  return value !== null && typeof value === 'object' && Array.isArray(value.bytes) &&
    typeof value.decode === 'function' && value.keys !== undefined;
}

// The bridge keeps one value per member of data and events_log, so two PDUs of one request that
// answer in the same member would lose the first PDU's values.
function checkBatch(pdus, timeoutMs) {
  if (!Array.isArray(pdus) || pdus.length === 0) throw new RangeError('batch: give at least one PDU');
  pdus.forEach((p, i) => {
    if (!isPdu(p)) throw new TypeError(`batch: item ${i} is not a PDU made by pdu.*()`);
  });
  if (timeoutMs === 0) {
    if (pdus.length > 1) throw new RangeError('with timeoutMs 0 the bridge sends only the first PDU of a request');
    if (pdus[0].keys.data.length || pdus[0].keys.events.length) {
      throw new RangeError('with timeoutMs 0 the bridge awaits no answer, so a read has nothing to return');
    }
  }
  const owners = new Map();
  pdus.forEach((p, i) => {
    for (const [kind, keys] of [['register', p.keys.data], ['event record', p.keys.events]]) {
      for (const key of new Set(keys)) {
        const id = `${kind} ${key}`;
        if (owners.has(id)) {
          throw new RangeError(`batch: PDUs ${owners.get(id)} and ${i} both answer with ${id}; the bridge's reply keeps only one of them, so send them in separate requests`);
        }
        owners.set(id, i);
      }
    }
  });
}

// ------------------------------------------------------------------ typed values

// Registers per value type.
const TYPE_REGISTERS = Object.freeze({
  int16: 1, uint16: 1, int32: 2, uint32: 2, float32: 2, int64: 4, uint64: 4, float64: 4,
});
const INTEGER_RANGES = {
  int16: [-(2n ** 15n), 2n ** 15n - 1n],
  uint16: [0n, 2n ** 16n - 1n],
  int32: [-(2n ** 31n), 2n ** 31n - 1n],
  uint32: [0n, 2n ** 32n - 1n],
  int64: [-(2n ** 63n), 2n ** 63n - 1n],
  uint64: [0n, 2n ** 64n - 1n],
};
const VIEW_WRITERS = {
  int16: 'setInt16', uint16: 'setUint16', int32: 'setInt32', uint32: 'setUint32', float32: 'setFloat32',
  int64: 'setBigInt64', uint64: 'setBigUint64', float64: 'setFloat64',
};
const VIEW_READERS = {
  int16: 'getInt16', uint16: 'getUint16', int32: 'getInt32', uint32: 'getUint32', float32: 'getFloat32',
  int64: 'getBigInt64', uint64: 'getBigUint64', float64: 'getFloat64',
};
// A scale that makes a whole number of register steps out of a value must match it this closely,
// which lets 0.3 with scale 0.1 through while 0.35 is refused.
const WHOLE_STEP_TOLERANCE = 1e-9;

/** The value types, in the order a page lists them. */
export const VALUE_TYPES = Object.freeze(Object.keys(TYPE_REGISTERS));
/** The byte orders: how the bytes A B C D ... of a value, most significant first, lie in the registers. */
export const BYTE_ORDERS = Object.freeze(['ABCD', 'CDAB', 'BADC', 'DCBA']);

/** How many registers a value of this type takes: 1, 2 or 4. */
export function registerCount(type) {
  if (!Object.hasOwn(TYPE_REGISTERS, type)) {
    throw new RangeError(`type must be one of ${VALUE_TYPES.join(', ')}, not ${describe(type)}`);
  }
  return TYPE_REGISTERS[type];
}

function valueFormat(format, what) {
  if (format === null || typeof format !== 'object') {
    throw new TypeError(`${what}: give the format as { type, order, scale }`);
  }
  const { type, order = 'ABCD', scale = 1 } = format;
  if (!Object.hasOwn(TYPE_REGISTERS, type)) {
    throw new RangeError(`${what}: type must be one of ${VALUE_TYPES.join(', ')}, not ${describe(type)}`);
  }
  if (!BYTE_ORDERS.includes(order)) {
    throw new RangeError(`${what}: order must be one of ${BYTE_ORDERS.join(', ')}, not ${describe(order)}`);
  }
  if (typeof scale !== 'number' || !Number.isFinite(scale) || scale === 0) {
    throw new RangeError(`${what}: scale must be a finite number other than 0, not ${describe(scale)}`);
  }
  // A scale such as 0.1 divides by its whole reciprocal: 2345 / 10 is exactly the double nearest
  // 234.5, where 2345 * 0.1 would not always be.
  const reciprocal = Math.round(1 / scale);
  const divisor = Math.abs(scale) < 1 && Math.abs(1 / scale - reciprocal) <= WHOLE_STEP_TOLERANCE * Math.abs(reciprocal)
    ? reciprocal : 0;
  return { type, order, scale, divisor, count: TYPE_REGISTERS[type] };
}

const scaled = (raw, f) => (f.scale === 1 ? raw : f.divisor ? raw / f.divisor : raw * f.scale);
const unscaled = (value, f) => (f.scale === 1 ? value : f.divisor ? value * f.divisor : value / f.scale);

// The registers in the bus's order from the value's bytes, most significant first, and back
// (the same steps undo themselves): CDAB and DCBA reverse the registers, BADC and DCBA swap the
// two bytes of each.
function reorder(words, order) {
  const swapWords = order === 'CDAB' || order === 'DCBA';
  const swapBytes = order === 'BADC' || order === 'DCBA';
  const ordered = swapWords ? [...words].reverse() : [...words];
  return swapBytes ? ordered.map((w) => ((w & 0xFF) << 8) | (w >> 8)) : ordered;
}

/**
 * The value that the registers hold, in the format's type and byte order, times its scale.
 * int64 and uint64 come as a bigint with scale 1 (exact), as a number with any other scale.
 */
export function decodeRegisters(registers, format) {
  const f = valueFormat(format, 'decodeRegisters');
  if (registers === null || typeof registers !== 'object' || typeof registers.length !== 'number') {
    throw new TypeError('decodeRegisters: registers must be an array of register values');
  }
  if (registers.length !== f.count) {
    throw new RangeError(`decodeRegisters: ${f.type} takes ${f.count} register${f.count > 1 ? 's' : ''}, not ${registers.length}`);
  }
  const words = Array.from(registers, (r, i) => integer(r, 0, 0xFFFF, `decodeRegisters: register ${i}`));
  const view = new DataView(new ArrayBuffer(2 * f.count));
  reorder(words, f.order).forEach((w, i) => view.setUint16(2 * i, w));
  const raw = view[VIEW_READERS[f.type]](0);
  if (typeof raw === 'bigint') return f.scale === 1 ? raw : scaled(Number(raw), f);
  return scaled(raw, f);
}

function integerSteps(value, f, what) {
  if (typeof value === 'bigint') {
    if (f.scale !== 1) throw new RangeError(`${what}: a bigint value takes scale 1 only; give the scaled value as a number`);
    return value;
  }
  if (typeof value !== 'number') throw new TypeError(`${what}: the value must be a number, not ${describe(value)}`);
  if (!Number.isFinite(value)) throw new RangeError(`${what}: ${f.type} holds no ${value}`);
  const steps = unscaled(value, f);
  const whole = Math.round(steps);
  if (Math.abs(steps - whole) > WHOLE_STEP_TOLERANCE * Math.max(1, Math.abs(steps))) {
    throw new RangeError(f.scale === 1
      ? `${what}: ${f.type} holds whole numbers only, not ${value}`
      : `${what}: ${value} is no whole multiple of the scale ${f.scale}`);
  }
  return BigInt(whole);
}

/**
 * The registers that hold the value in the format's type and byte order, the value divided by
 * the scale first. Refuses with a RangeError what the type cannot hold: a value out of its range,
 * a fraction for an integer type, a finite value that float32 or float64 can only hold as infinity.
 */
export function encodeValue(value, format) {
  const f = valueFormat(format, 'encodeValue');
  const view = new DataView(new ArrayBuffer(2 * f.count));
  if (f.type === 'float32' || f.type === 'float64') {
    if (typeof value !== 'number') throw new TypeError(`encodeValue: a ${f.type} value must be a number, not ${describe(value)}`);
    const raw = unscaled(value, f);
    const stored = f.type === 'float32' ? Math.fround(raw) : raw;
    if (Number.isFinite(value) && !Number.isFinite(stored)) {
      throw new RangeError(`encodeValue: ${value}${f.scale === 1 ? '' : ` with the scale ${f.scale}`} is out of the range of ${f.type}`);
    }
    view[VIEW_WRITERS[f.type]](0, raw);
  } else {
    const raw = integerSteps(value, f, 'encodeValue');
    const [min, max] = INTEGER_RANGES[f.type];
    if (raw < min || raw > max) {
      const made = f.scale === 1 ? '' : ` (${raw} register steps with the scale ${f.scale})`;
      throw new RangeError(`encodeValue: ${describe(value)}${made} is out of the range of ${f.type}, ${min} to ${max}`);
    }
    view[VIEW_WRITERS[f.type]](0, f.count === 4 ? raw : Number(raw));
  }
  const words = Array.from({ length: f.count }, (_, i) => view.getUint16(2 * i));
  return reorder(words, f.order);
}

// ------------------------------------------------------------------ requests and replies

/** What the bridge waits at most after the send of each PDU, as it bounds the time-out. */
function effectiveTimeoutMs(timeoutMs) {
  if (timeoutMs < 0 || timeoutMs > LONGEST_TIMEOUT_MS) return LONGEST_TIMEOUT_MS;
  if (timeoutMs > 0 && timeoutMs < SHORTEST_TIMEOUT_MS) return SHORTEST_TIMEOUT_MS;
  return timeoutMs;
}

/** The bridge's pause after each answered exchange, by line speed. */
function exchangePauseMs(baudRate) {
  return { 1200: 450, 2400: 200, 4800: 110, 9600: 100 }[baudRate] ?? 50;
}

/** How long a request may take before the client gives up on it. */
export function clientTimeoutMs(timeoutMs, baudRate, pdus) {
  const wait = effectiveTimeoutMs(timeoutMs);
  // With no answer awaited the bridge sends the first PDU and stops.
  const sent = wait === 0 ? pdus.slice(0, 1) : pdus;
  let total = MARGIN_MS;
  for (const p of sent) {
    total += Math.ceil(((p.bytes.length + FRAME_OVERHEAD) * BITS_PER_BYTE * 1000) / baudRate);
    if (wait > 0) total += wait + exchangePauseMs(baudRate);
  }
  return total;
}

/** The pdu member: names that sort in the caller's order, as the bridge sends by name. */
export function pduMembers(pdus) {
  const width = Math.max(2, String(pdus.length - 1).length);
  return Object.fromEntries(pdus.map((p, i) => [`p${String(i).padStart(width, '0')}`, [...p.bytes]]));
}

/** The form body: the key, when there is one, before json_data; '+' would stay a plus sign. */
export function formBody(request, key) {
  const json = `json_data=${encodeURIComponent(JSON.stringify(request))}`;
  return key === undefined ? json : `key=${encodeURIComponent(key)}&${json}`;
}

function randomTag() {
  const bytes = new Uint8Array(8);
  if (globalThis.crypto && typeof globalThis.crypto.getRandomValues === 'function') {
    globalThis.crypto.getRandomValues(bytes);
  } else {
    for (let i = 0; i < bytes.length; i++) bytes[i] = Math.floor(Math.random() * 256);
  }
  return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

// The PDU that failed, when the reply shows it: every PDU up to the last one whose values arrived
// succeeded; a write leaves no trace, so after it the failure could be in any later PDU.
function failedPduIndex(pdus, provenDone) {
  const next = provenDone + 1;
  if (next >= pdus.length) return null;
  return answers(pdus[next]) || next === pdus.length - 1 ? next : null;
}

const answers = (p) => p.keys.data.length > 0 || p.keys.events.length > 0;

function hasAnswerOf(p, reply) {
  const data = reply.data && typeof reply.data === 'object' ? reply.data : {};
  const log = reply.events_log && typeof reply.events_log === 'object' ? reply.events_log : {};
  return answers(p) && p.keys.data.every((k) => String(k) in data) &&
    p.keys.events.every((r) => String(r) in log);
}

/**
 * Turns a parsed reply into one result per PDU, or throws: BridgeError for status "error",
 * BridgeUnreachableError when the reply is not the answer to this request.
 */
export function decodeReply(pdus, request, reply, url = DEFAULT_URL) {
  if (reply === null || typeof reply !== 'object' || Array.isArray(reply) ||
      (reply.status !== 'ok' && reply.status !== 'error')) {
    throw badReply(url, 'has no status');
  }
  // Replies to framing errors and refused keys echo nothing of the request.
  const echoed = 'rand_string' in reply;
  if (echoed ? reply.rand_string !== request.rand_string : reply.status === 'ok') {
    throw new BridgeUnreachableError('foreign-reply', url,
      `the reply from ${url} belongs to another request (rand_string ${describe(reply.rand_string)}, expected ${describe(request.rand_string)})`);
  }
  if (reply.status === 'ok') return pdus.map((p) => p.decode(p.keys, reply, url));
  if (!Number.isInteger(reply.error_code) || typeof reply.error_text !== 'string') {
    throw badReply(url, 'reports an error without code and text');
  }
  // A device's exception code 125 to 127 comes in the middle of a request like any other.
  if (REQUEST_LEVEL_CODES.has(reply.error_code) && errorKind(reply) !== 'device') {
    throw new BridgeError(reply, [], null);
  }
  let provenDone = -1;
  pdus.forEach((p, i) => { if (hasAnswerOf(p, reply)) provenDone = i; });
  const results = pdus.slice(0, provenDone + 1).map((p) => p.decode(p.keys, reply, url));
  throw new BridgeError(reply, results, failedPduIndex(pdus, provenDone));
}

// ------------------------------------------------------------------ talking to the bridge

// One request in flight per bridge: the bridge leaves a request that arrives while it serves
// another unanswered, so every ModbusBridge of a page queues behind the others for its URL.
const queues = new Map();

function queueKey(url) {
  const u = new URL(url);
  const loopback = ['localhost', '127.0.0.1', '[::1]'].includes(u.hostname);
  return loopback ? `loopback:${u.port || (u.protocol === 'https:' ? '443' : '80')}${u.pathname}` : u.href;
}

function enqueue(key, task) {
  const run = (queues.get(key) || Promise.resolve()).then(task);
  const settled = run.then(() => undefined, () => undefined);
  queues.set(key, settled);
  settled.then(() => { if (queues.get(key) === settled) queues.delete(key); });
  return run;
}

const LOCAL_NETWORK_PERMISSIONS = ['loopback-network', 'local-network-access', 'local-network'];

async function localNetworkDenied() {
  const permissions = globalThis.navigator && globalThis.navigator.permissions;
  if (!permissions || typeof permissions.query !== 'function') return false;
  for (const name of LOCAL_NETWORK_PERMISSIONS) {
    try {
      return (await permissions.query({ name })).state === 'denied';
    } catch {
      // This browser does not know the name; try the next.
    }
  }
  return false;
}

async function answersHttp(url) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), 1000);
  try {
    await fetch(url, { mode: 'no-cors', cache: 'no-store', signal: controller.signal });
    return true;
  } catch {
    return false;
  } finally {
    clearTimeout(timer);
  }
}

async function unreachable(url) {
  if (await localNetworkDenied()) {
    return new BridgeUnreachableError('permission', url,
      `the browser's local network permission keeps this page from reaching ${url}: allow it in the site's settings`);
  }
  if (await answersHttp(url)) {
    return new BridgeUnreachableError('not-bridge', url,
      `something answers at ${url}, but not as the bridge: another program may hold the port`);
  }
  return new BridgeUnreachableError('network', url,
    `nothing answers at ${url}: start modbus-bridge or modbus-bridged on this computer`);
}

async function post(url, body, limitMs) {
  const controller = new AbortController();
  // Giving up closes the connection, which also stops the bridge's work on the request.
  const timer = setTimeout(() => controller.abort(), limitMs);
  let text;
  try {
    const response = await fetch(url, {
      method: 'POST',
      // A safelisted type and no other header: a simple request, which needs no preflight.
      headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
      body,
      cache: 'no-store',
      credentials: 'omit',
      signal: controller.signal,
    });
    text = await response.text();
  } catch {
    if (!controller.signal.aborted) throw await unreachable(url);
    throw new BridgeUnreachableError('timeout', url,
      `no answer from ${url} within ${limitMs} ms: the bridge may be serving another page, or the browser waits for local network access to be allowed`,
      limitMs);
  } finally {
    clearTimeout(timer);
  }
  try {
    return JSON.parse(text);
  } catch {
    throw badReply(url, 'is not JSON');
  }
}

const now = () => globalThis.performance.now();

export class ModbusBridge {
  #options;
  #queue;

  constructor({
    url = DEFAULT_URL, comPort, slave, baudRate = 19200, timeoutMs = 500, pollMs = 1000,
    line = {}, key, companyId = 0, deviceId = 0, onSend, onExchange,
  } = {}) {
    const { echo = false, dtr = false, rts = false, invert = false } = line;
    if (key !== undefined && typeof key !== 'string') throw new TypeError('key must be a string');
    for (const [hook, name] of [[onSend, 'onSend'], [onExchange, 'onExchange']]) {
      if (hook !== undefined && typeof hook !== 'function') throw new TypeError(`${name} must be a function`);
    }
    this.#options = Object.freeze({
      url: new URL(url).href,
      comPort: integer(comPort, 1, 255, 'comPort'),
      slave: integer(slave, 0, 247, 'slave'),
      baudRate: integer(baudRate, 1, INT32_MAX, 'baudRate'),
      timeoutMs: integer(timeoutMs, 0, LONGEST_TIMEOUT_MS, 'timeoutMs'),
      pollMs: integer(pollMs, 0, INT32_MAX, 'pollMs'),
      line: Object.freeze({ echo: flag(echo, 'line.echo'), dtr: flag(dtr, 'line.dtr'),
        rts: flag(rts, 'line.rts'), invert: flag(invert, 'line.invert') }),
      key,
      companyId: integer(companyId, -INT32_MAX - 1, INT32_MAX, 'companyId'),
      deviceId: integer(deviceId, -INT32_MAX - 1, INT32_MAX, 'deviceId'),
      onSend,
      onExchange,
    });
    this.#queue = queueKey(this.#options.url);
  }

  get url() { return this.#options.url; }

  readHoldingRegisters(address, count) { return this.#one(() => pdu.readHoldingRegisters(address, count)); }

  readInputRegisters(address, count) { return this.#one(() => pdu.readInputRegisters(address, count)); }

  writeSingleRegister(address, value) { return this.#one(() => pdu.writeSingleRegister(address, value)); }

  writeMultipleRegisters(address, values) { return this.#one(() => pdu.writeMultipleRegisters(address, values)); }

  readFileRecords(file, record, length) { return this.#one(() => pdu.readFileRecords(file, record, length)); }

  readDeviceSection() { return this.#one(() => pdu.readDeviceSection()); }

  raw(bytes) { return this.#one(() => pdu.raw(bytes)); }

  /** Sends the PDUs in one request, in this order; resolves with one result each. */
  batch(pdus) {
    try {
      checkBatch(pdus, this.#options.timeoutMs);
    } catch (e) {
      return Promise.reject(e);
    }
    return this.#send([...pdus], this.#options.pollMs);
  }

  /**
   * Sends the PDUs every periodMs, the next round only after the previous one has ended, and
   * hands each round's outcome to onResult. stop() ends it after the round under way.
   */
  poll(pdus, periodMs, onResult) {
    const period = integer(periodMs ?? this.#options.pollMs, 0, INT32_MAX, 'poll: periodMs');
    if (typeof onResult !== 'function') throw new TypeError('poll: onResult must be a function');
    checkBatch(pdus, this.#options.timeoutMs);
    const calls = [...pdus];
    let stopped = false;
    let timer = 0;
    let current;
    const round = async () => {
      const started = now();
      let outcome;
      try {
        outcome = { ok: true, results: await this.#send(calls, period) };
      } catch (error) {
        outcome = { ok: false, error };
      }
      if (stopped) return;
      try {
        onResult(outcome);
      } catch (e) {
        // The page's own fault: show it as an uncaught error, and keep polling.
        setTimeout(() => { throw e; });
      }
      if (stopped) return;
      timer = setTimeout(() => { current = round(); }, Math.max(0, period - (now() - started)));
    };
    current = round();
    return {
      stop() {
        stopped = true;
        clearTimeout(timer);
        return current;
      },
    };
  }

  #one(build) {
    let built;
    try {
      built = build();
    } catch (e) {
      return Promise.reject(e);
    }
    return this.batch([built]).then((results) => results[0]);
  }

  #request(pdus, pollMs) {
    const o = this.#options;
    return {
      company_id: o.companyId,
      device_id: o.deviceId,
      slave_addr: o.slave,
      baud_rate: o.baudRate,
      com_port: o.comPort,
      poll_ms: pollMs,
      timeout_ms: o.timeoutMs,
      ctrl_echo: o.line.echo,
      ctrl_dtr: o.line.dtr,
      ctrl_rts: o.line.rts,
      ctrl_invert: o.line.invert,
      rand_string: randomTag(),
      pdu: pduMembers(pdus),
    };
  }

  #send(pdus, pollMs) {
    const o = this.#options;
    const limitMs = clientTimeoutMs(o.timeoutMs, o.baudRate, pdus);
    return enqueue(this.#queue, async () => {
      // Made when its turn comes, so that no two requests in the queue share a tag's moment.
      const request = this.#request(pdus, pollMs);
      if (o.onSend) o.onSend(request);
      const started = now();
      let reply;
      let results;
      let error;
      try {
        reply = await post(o.url, formBody(request, o.key), limitMs);
        results = decodeReply(pdus, request, reply, o.url);
      } catch (e) {
        error = e;
      }
      if (o.onExchange) o.onExchange({ request, reply, error, elapsedMs: now() - started });
      if (error) throw error;
      return results;
    });
  }
}
