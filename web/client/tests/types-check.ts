// How a TypeScript page uses the client; `tsc --noEmit -p web/client/tests` checks that the
// declarations accept it, give these result types and refuse the misuses marked below.
import {
  BridgeError, BridgeUnreachableError, ModbusBridge, decodeRegisters, encodeValue, pdu, registerCount, type BridgeErrorKind,
  type ByteOrder, type DeviceSection, type PollOutcome, type RawResult, type ValueFormat,
} from '../modbus-bridge.js';

const bridge = new ModbusBridge({
  comPort: 1, slave: 1, baudRate: 9600, timeoutMs: 500, line: { echo: true }, key: 'k',
  onExchange: ({ request, reply, elapsedMs }) => console.log(request.rand_string, reply?.status, elapsedMs),
});

async function page(): Promise<void> {
  const holding: number[] = await bridge.readHoldingRegisters(0, 10);
  const section: DeviceSection = await bridge.readDeviceSection();
  const eventBytes: number[] = await bridge.readFileRecords(6, 0);
  const manyRecords: number[][] = await bridge.readFileRecords([{ file: 6, record: 1 }, { file: 1, record: 0, length: 2 }]);
  const written: undefined = await bridge.writeMultipleRegisters(0, [1, 2]);
  const raw: RawResult = await bridge.raw(Uint8Array.of(4, 0, 0, 0, 1));
  const [counter, device, none] = await bridge.batch([pdu.readInputRegisters(0, 1), pdu.readDeviceSection(),
    pdu.writeSingleRegister(5, 1)]);
  const counterValue: number = counter[0];
  const deviceType: number = device.deviceType;
  const nothing: undefined = none;
  console.log(holding, section, eventBytes, manyRecords, written, raw.registers.get(0), counterValue, deviceType, nothing);

  try {
    await bridge.readInputRegisters(0, 3);
  } catch (e) {
    const kind: BridgeErrorKind | undefined = e instanceof BridgeError ? e.kind : undefined;
    if (kind === 'access') console.log('allow this page in the bridge window');
    else if (e instanceof BridgeError) console.log(e.code, e.text, e.pduIndex);
    else if (e instanceof BridgeUnreachableError && e.reason === 'timeout') console.log(e.limitMs);
  }

  const polling = bridge.poll([pdu.readInputRegisters(0, 3)], 1000, (outcome: PollOutcome<[number[]]>) => {
    if (outcome.ok) console.log(outcome.results[0][2]);
    else console.log(outcome.error.message);
  });
  await polling.stop();

  const temperature: number = decodeRegisters(holding.slice(0, 2), { type: 'float32', order: 'CDAB' });
  const energy: bigint = decodeRegisters(holding.slice(0, 4), { type: 'uint64' });
  const format: ValueFormat = { type: 'int64', scale: 0.001 };
  const kilowattHours: number | bigint = decodeRegisters(holding.slice(0, 4), format);
  const order: ByteOrder = 'BADC';
  const words: number[] = encodeValue(2n ** 40n, { type: 'int64', order });
  const span: 1 | 2 | 4 = registerCount('float64');
  await bridge.writeMultipleRegisters(0x30, encodeValue(temperature, { type: 'float32', order: 'CDAB' }));
  console.log(energy, kilowattHours, words, span);

  // @ts-expect-error: the slave address is required
  new ModbusBridge({ comPort: 1 });
  // @ts-expect-error: a device section is no register array
  const wrong: number[] = await bridge.readDeviceSection();
  // @ts-expect-error: batch takes PDUs built by pdu.*, not bytes
  await bridge.batch([[3, 0, 0, 0, 1]]);
  // @ts-expect-error: a time-out is a number of milliseconds
  new ModbusBridge({ comPort: 1, slave: 1, timeoutMs: '500' });
  // @ts-expect-error: a 64-bit integer may be a bigint, which is no number
  const notNumber: number = decodeRegisters(holding.slice(0, 4), { type: 'int64' });
  // @ts-expect-error: no such byte order
  encodeValue(1, { type: 'int32', order: 'DABC' });
  // @ts-expect-error: no such type
  decodeRegisters(holding, { type: 'int128' });
  console.log(notNumber);
  try {
    await bridge.readInputRegisters(0, 1);
  } catch (e) {
    // @ts-expect-error: no error is of a kind 'refused'
    if (e instanceof BridgeError && e.kind === 'refused') console.log(e);
  }
  console.log(wrong);
}

console.log(page);
