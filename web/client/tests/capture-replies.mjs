// Captures the replies that codec.test.mjs decodes: the client's own requests, posted to a real
// modbus-bridged with modbus-sim slaves, and the bridge's replies as they came, in replies.json.
// It uses port 19284; run it in a network namespace of its own:
//   unshare -n sh -c 'ip link set lo up && MODBUS_SIM=build/modbus-sim \
//     MODBUS_BRIDGED=build/modbus-bridged node web/client/tests/capture-replies.mjs'
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { DEFAULT_URL, formBody, pdu, pduMembers } from '../modbus-bridge.js';
import { startBridge, startSim, stop } from '../../tests/programs.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const DEVICE_TYPE = '0x0110';

// COM1 answers, COM2 is silent.
const cases = [
  ['holding registers 0..9', 1, [pdu.readHoldingRegisters(0, 10)]],
  ['input registers 0x10, 0x11', 1, [pdu.readInputRegisters(0x10, 2)]],
  ['device section', 1, [pdu.readDeviceSection()]],
  ['write 1234 to register 5', 1, [pdu.writeSingleRegister(5, 1234)]],
  ['register 5 after the write', 1, [pdu.readHoldingRegisters(5, 1)]],
  ['write 7, 0x1234, -1 from 0x20', 1, [pdu.writeMultipleRegisters(0x20, [7, 0x1234, -1])]],
  ['registers 0x20..0x22 after the write', 1, [pdu.readHoldingRegisters(0x20, 3)]],
  ['event records 0..6', 1, [pdu.readFileRecords([0, 1, 2, 3, 4, 5, 6].map((record) => ({ file: 6, record })))]],
  ['file records of three kinds', 1, [pdu.readFileRecords([
    { file: 1, record: 2, length: 3 }, { file: 6, record: 9 }, { file: 0, record: 0x30, length: 2 }])]],
  ['raw read of input registers', 1, [pdu.raw([4, 0, 0x10, 0, 2])]],
  ['batch of four', 1, [pdu.readHoldingRegisters(0x40, 2), pdu.writeSingleRegister(0x30, 5),
    pdu.readInputRegisters(0x10, 1), pdu.readDeviceSection()]],
  ['exception: holding register 0x9000', 1, [pdu.readHoldingRegisters(0x9000, 1)]],
  ['batch failing at its second read', 1, [pdu.readHoldingRegisters(0, 2),
    pdu.readHoldingRegisters(0x9000, 1), pdu.readHoldingRegisters(4, 1)]],
  ['batch failing at a write between writes', 1, [pdu.readHoldingRegisters(0, 1),
    pdu.writeSingleRegister(0x9000, 1), pdu.writeSingleRegister(0x9001, 1), pdu.readHoldingRegisters(3, 1)]],
  ['silent device', 2, [pdu.readHoldingRegisters(0, 1)]],
];

function request(comPort, pdus, tag) {
  return {
    company_id: 7, device_id: 42, slave_addr: 1, baud_rate: 19200, com_port: comPort,
    poll_ms: 1000, timeout_ms: 250, ctrl_echo: false, ctrl_dtr: false, ctrl_rts: false,
    ctrl_invert: false, rand_string: tag, pdu: pduMembers(pdus),
  };
}

async function post(body) {
  const response = await fetch(DEFAULT_URL, {
    method: 'POST', headers: { 'Content-Type': 'application/x-www-form-urlencoded' }, body,
  });
  return JSON.parse(await response.text());
}

const sim = await startSim(process.env.MODBUS_SIM, ['--device-type', DEVICE_TYPE]);
const silent = await startSim(process.env.MODBUS_SIM, ['--silent']);
const bridge = await startBridge(process.env.MODBUS_BRIDGED, [sim.pty, silent.pty]);
const captured = [];
try {
  for (const [index, [name, comPort, pdus]] of cases.entries()) {
    const sent = request(comPort, pdus, `capture-${index}`);
    captured.push({ name, pdus: pdus.map((p) => [...p.bytes]), request: sent, reply: await post(formBody(sent)) });
  }
  // A body without json_data: the reply echoes nothing of the request, rand_string included.
  captured.push({ name: 'framing error without json_data', pdus: [], request: null, reply: await post('key=x') });
} finally {
  await bridge.stopAndClean();
}
// A bridge with an access key refuses a request without it, echoing nothing either.
const keyed = await startBridge(process.env.MODBUS_BRIDGED, [sim.pty], { key: 'k' });
try {
  const sent = request(1, [pdu.readHoldingRegisters(0, 1)], `capture-${captured.length}`);
  captured.push({ name: 'refused: no access key', pdus: [[3, 0, 0, 0, 1]], request: sent, reply: await post(formBody(sent)) });
} finally {
  await keyed.stopAndClean();
  await stop(sim);
  await stop(silent);
}
const file = path.join(here, 'replies.json');
fs.writeFileSync(file, `${JSON.stringify({
  capturedWith: `modbus-bridged and modbus-sim --device-type ${DEVICE_TYPE} (COM1), modbus-sim --silent (COM2), and the same bridge with [Server] Key=k, by capture-replies.mjs`,
  cases: captured,
}, null, 1)}\n`);
console.log(`wrote ${captured.length} replies to ${file}`);
