// Typed values as the page reads them from a field and shows them: the text a user types for a
// type, and the shortest text that gives the value back. The codecs are the client library's.
import { registerCount } from './client/modbus-bridge.js';

const INTEGER_TEXT = /^[+-]?\d+$/;
const HEX_TEXT = /^0x[0-9a-f]+$/i;
// Decimal with a point or a comma, and an exponent: "23,5", "-1.5e3", ".5".
const DECIMAL_TEXT = /^[+-]?(\d+([.,]\d*)?|[.,]\d+)(e[+-]?\d+)?$/i;
const INFINITY_TEXT = /^([+-]?)(inf|infinity|∞)$/i;

const isFloatType = (type) => type === 'float32' || type === 'float64';

/**
 * The value typed for a register of this type: decimal (point or comma), 0x hexadecimal for
 * integer types, NaN and infinities for float types. A whole number for a 64-bit integer at
 * scale 1 is read as a bigint, so that every one of them can be written exactly. Throws an Error
 * that says what is wrong.
 */
export function parseValueText(text, type, scale = 1) {
  registerCount(type);
  const t = String(text).trim();
  if (t === '') throw new Error('введите значение');
  const float = isFloatType(type);
  if (float) {
    if (/^nan$/i.test(t)) return NaN;
    const infinity = INFINITY_TEXT.exec(t);
    if (infinity) return infinity[1] === '-' ? -Infinity : Infinity;
  }
  const wide = type === 'int64' || type === 'uint64';
  if (HEX_TEXT.test(t) && !float) {
    const value = BigInt(t);
    return wide && scale === 1 ? value : Number(value);
  }
  if (wide && scale === 1 && INTEGER_TEXT.test(t)) return BigInt(t);
  if (DECIMAL_TEXT.test(t)) return Number(t.replace(',', '.'));
  throw new Error(`«${t}» — не число${float ? '' : ' (целые числа — десятичные или с 0x)'}`);
}

// The fewest digits that read back as the same float32, so 0.1 shows as 0.1, not 0.100000001.
function shortestFloat32(value) {
  for (let digits = 1; digits < 9; digits++) {
    const text = value.toPrecision(digits);
    if (Math.fround(Number(text)) === value) return String(Number(text));
  }
  return String(value);
}

/** The value as the page shows it and writes it to CSV; it parses back to the same value. */
export function formatValue(value, format) {
  if (typeof value === 'bigint') return value.toString();
  if (Object.is(value, -0)) return '-0';
  if (!Number.isFinite(value)) return String(value);
  if (format.type === 'float32' && (format.scale ?? 1) === 1) return shortestFloat32(value);
  return String(value);
}
