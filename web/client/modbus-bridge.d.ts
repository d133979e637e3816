// Types of modbus-bridge.js, the client of modbus-bridge for web pages.

/** http://localhost:19284/, where the bridge listens. */
export const DEFAULT_URL: string;

export interface LineOptions {
  /** The adapter hears its own transmission (two-wire RS-485): drop that echo. */
  echo?: boolean;
  /** DTR switches the adapter to transmit. */
  dtr?: boolean;
  /** RTS switches the adapter to transmit. */
  rts?: boolean;
  /** The direction line is active low. */
  invert?: boolean;
}

/** The JSON object posted as json_data. */
export interface BridgeRequest {
  company_id: number;
  device_id: number;
  slave_addr: number;
  baud_rate: number;
  com_port: number;
  poll_ms: number;
  timeout_ms: number;
  ctrl_echo: boolean;
  ctrl_dtr: boolean;
  ctrl_rts: boolean;
  ctrl_invert: boolean;
  rand_string: string;
  pdu: Record<string, number[]>;
}

/** The bridge's reply: the request with the result members added. */
export interface BridgeReply extends Partial<BridgeRequest> {
  status: 'ok' | 'error';
  error_code: number;
  error_text: string;
  data?: Record<string, number>;
  events_log?: Record<string, number[]>;
}

export interface Exchange {
  request: BridgeRequest;
  /** The parsed reply, when one came. */
  reply?: BridgeReply;
  /** Set when the call failed. */
  error?: BridgeError | BridgeUnreachableError;
  elapsedMs: number;
}

export interface ModbusBridgeOptions {
  /** Default DEFAULT_URL. */
  url?: string;
  /** COM port number, 1 to 255, mapped to a device by the bridge's settings. */
  comPort: number;
  /** Modbus slave address, 0 to 247 (0: broadcast, which no device answers). */
  slave: number;
  /** Line speed, default 19200. */
  baudRate?: number;
  /** Wait for each answer, 0 to 60000 ms (default 500; 1 to 249 become 250; 0: no answer awaited). */
  timeoutMs?: number;
  /** The polling period the bridge logs, default 1000; also poll()'s default period. */
  pollMs?: number;
  line?: LineOptions;
  /** The bridge's access key, when its settings set one. */
  key?: string;
  /** Identification the bridge checks and echoes, default 0. */
  companyId?: number;
  deviceId?: number;
  /** Called when a request leaves, its turn in the queue come. */
  onSend?: (request: BridgeRequest) => void;
  /** Called when a request has ended, answered or not. */
  onExchange?: (exchange: Exchange) => void;
}

/** A PDU built by one of the pdu builders; T is the type of its result. */
export interface Pdu<T> {
  readonly bytes: readonly number[];
  /** Only to carry T; never present. */
  readonly __result?: T;
}

export interface FileRecord {
  /** 0, 1, 2, 4, 5: registers (bases 0x0000, 0x1000, 0x2000, 0x4000, 0x8000); 6: event records. */
  file: number;
  record: number;
  /** Registers; an event record (file 6) is 16, the default there. */
  length?: number;
}

export interface DeviceSection {
  /** Register 1 of the section. */
  deviceType: number;
  /** The 16 registers of the section. */
  registers: number[];
}

export interface RawResult {
  functionCode: number;
  /** Registers the bridge decoded from the answer (function codes 3, 4, 20, 69), by address. */
  registers: Map<number, number>;
  /** Event records (function code 20, file 6), by record number: 32 bytes each. */
  events: Map<number, number[]>;
}

type ResultsOf<P extends readonly Pdu<unknown>[]> = { -readonly [I in keyof P]: P[I] extends Pdu<infer T> ? T : never };

export const pdu: {
  /** Function code 3: count 1 to 125 registers from address. */
  readHoldingRegisters(address: number, count: number): Pdu<number[]>;
  /** Function code 4: count 1 to 125 registers from address. */
  readInputRegisters(address: number, count: number): Pdu<number[]>;
  /** Function code 6; a negative value is taken as a signed 16-bit number. */
  writeSingleRegister(address: number, value: number): Pdu<undefined>;
  /** Function code 16: 1 to 123 values. */
  writeMultipleRegisters(address: number, values: number[]): Pdu<undefined>;
  /** Function code 20, one record: its registers, or an event record's 32 bytes. */
  readFileRecords(file: number, record: number, length?: number): Pdu<number[]>;
  /** Function code 20, several records in one PDU: one result each. */
  readFileRecords(records: FileRecord[]): Pdu<number[][]>;
  /** Function code 69. */
  readDeviceSection(): Pdu<DeviceSection>;
  /** Any PDU: function code, then data, 1 to 253 bytes. */
  raw(bytes: ArrayLike<number>): Pdu<RawResult>;
};

export type PollOutcome<R> = { ok: true; results: R } | { ok: false; error: BridgeError | BridgeUnreachableError };

export interface Polling {
  /** No round starts any more and onResult is not called again; resolves when the round under way has ended. */
  stop(): Promise<void>;
}

export class ModbusBridge {
  constructor(options: ModbusBridgeOptions);
  readonly url: string;
  readHoldingRegisters(address: number, count: number): Promise<number[]>;
  readInputRegisters(address: number, count: number): Promise<number[]>;
  writeSingleRegister(address: number, value: number): Promise<undefined>;
  writeMultipleRegisters(address: number, values: number[]): Promise<undefined>;
  readFileRecords(file: number, record: number, length?: number): Promise<number[]>;
  readFileRecords(records: FileRecord[]): Promise<number[][]>;
  readDeviceSection(): Promise<DeviceSection>;
  raw(bytes: ArrayLike<number>): Promise<RawResult>;
  /** The PDUs in one request, sent in this order; one result each. */
  batch<const P extends readonly Pdu<unknown>[]>(pdus: P): Promise<ResultsOf<P>>;
  /** A batch every periodMs (default: pollMs), each round only after the previous one has ended. */
  poll<const P extends readonly Pdu<unknown>[]>(pdus: P, periodMs: number | undefined,
    onResult: (outcome: PollOutcome<ResultsOf<P>>) => void): Polling;
}

/**
 * What a BridgeError is about. access: the bridge does not serve this page (125), or waits for the
 * operator to allow it in the bridge's window (127): advise the user to allow the page;
 * request: the request is malformed (103 to 121); port: the COM port cannot be opened or used,
 * the bridge's settings forbid the port or the function (122, 124, 126), or the request waited
 * out its turn on a line shared by other clients (128); device: an exception from
 * the device (also one whose code is 125 to 127), a broken answer or none (100 to 102, 123).
 */
export type BridgeErrorKind = 'access' | 'request' | 'port' | 'device';

/** The bridge answered with status "error". */
export class BridgeError extends Error {
  readonly name: 'BridgeError';
  /** error_code: 1 to 8 a Modbus exception of the device, 100 and above the bridge's own. */
  readonly code: number;
  /** error_text, as the bridge wrote it. */
  readonly text: string;
  readonly kind: BridgeErrorKind;
  readonly reply: BridgeReply;
  /** Results of the PDUs the reply proves done, in the caller's order. */
  readonly results: unknown[];
  /** The PDU that failed; null when none was sent or the reply cannot tell which write failed. */
  readonly pduIndex: number | null;
}

export type UnreachableReason = 'network' | 'permission' | 'not-bridge' | 'timeout' | 'foreign-reply';

/** No usable answer from the bridge. */
export class BridgeUnreachableError extends Error {
  readonly name: 'BridgeUnreachableError';
  /**
   * network: nothing answers (the bridge is not running); permission: the browser's local
   * network permission is denied; not-bridge: something else answers on the port; timeout: no
   * answer in time (the bridge serves another page, or a permission prompt is open);
   * foreign-reply: the reply belongs to another request.
   */
  readonly reason: UnreachableReason;
  readonly url: string;
  /** The limit that ran out, for reason timeout. */
  readonly limitMs?: number;
}

/** How long the client waits for a request of these PDUs. */
export function clientTimeoutMs(timeoutMs: number, baudRate: number, pdus: readonly Pdu<unknown>[]): number;
/** The request's pdu member. */
export function pduMembers(pdus: readonly Pdu<unknown>[]): Record<string, number[]>;
/** The form body: key (when given), then json_data. */
export function formBody(request: BridgeRequest, key?: string): string;
/** One result per PDU, or throws BridgeError / BridgeUnreachableError. */
export function decodeReply(pdus: readonly Pdu<unknown>[], request: BridgeRequest, reply: unknown, url?: string): unknown[];

/** The types of values that span one register (16-bit), two (32-bit) or four (64-bit). */
export type ValueType = 'int16' | 'uint16' | 'int32' | 'uint32' | 'float32' | 'int64' | 'uint64' | 'float64';
/** The 64-bit integer types, which decode to a bigint with scale 1. */
export type Int64Type = 'int64' | 'uint64';
/**
 * Where the bytes A B C D ... of a value, most significant first, lie in the registers:
 * ABCD in order; CDAB the registers reversed; BADC the two bytes of each register swapped;
 * DCBA both. A 16-bit value is AB or, for BADC and DCBA, BA.
 */
export type ByteOrder = 'ABCD' | 'CDAB' | 'BADC' | 'DCBA';

export interface ValueFormat<T extends ValueType = ValueType> {
  type: T;
  /** Default 'ABCD'. */
  order?: ByteOrder;
  /** The value is the register value times the scale (default 1); 0.1 reads 2345 as 234.5. */
  scale?: number;
}

export const VALUE_TYPES: readonly ValueType[];
export const BYTE_ORDERS: readonly ByteOrder[];
/** How many registers a value of the type takes. */
export function registerCount(type: ValueType): 1 | 2 | 4;

/** A 64-bit integer with scale 1: exact, as a bigint. */
export function decodeRegisters(registers: ArrayLike<number>, format: { type: Int64Type; order?: ByteOrder; scale?: 1 }): bigint;
/** A 64-bit integer: a bigint with scale 1, else a number. */
export function decodeRegisters(registers: ArrayLike<number>, format: ValueFormat<Int64Type>): bigint | number;
/** The value of the registers (as many as the type takes), in the type and order, times the scale. */
export function decodeRegisters(registers: ArrayLike<number>, format: ValueFormat<Exclude<ValueType, Int64Type>>): number;
export function decodeRegisters(registers: ArrayLike<number>, format: ValueFormat): number | bigint;
/**
 * The registers that hold the value divided by the scale; a RangeError for what the type cannot
 * hold (out of range, a fraction for an integer type, a finite value beyond float32 or float64).
 */
export function encodeValue(value: number | bigint, format: ValueFormat): number[];
