// One line shared by many clients for a minute: two pages in Chromium (the bridge's own page, with
// the client library it loads) and two Modbus TCP masters poll the same slave every 100 ms through
// modbus-bridged with its queue and its Modbus TCP front end on. Every request is answered once,
// the device takes exactly as many requests as were answered and never one while it answers
// another (modbus-sim --verbose tells of such an overlap), and no client starves: its longest wait
// stays within the number of clients times the longest time the line gave one request.
//
// Environment: MODBUS_SIM and MODBUS_BRIDGED (paths of the programs, set by CTest), CHROMIUM
// (browser, default /usr/bin/chromium), SHARED_LINE_SECONDS (default 60).

import net from 'node:net';
import { performance } from 'node:perf_hooks';

import { BRIDGE_PORT } from './bridge-port.mjs';
import { launchChromium, startBridge, startSim, stop } from './programs.mjs';
import { check, runSteps, step } from './steps.mjs';

const SIM = process.env.MODBUS_SIM;
const BRIDGED = process.env.MODBUS_BRIDGED;
const SECONDS = Number(process.env.SHARED_LINE_SECONDS || 60);
const TCP_PORT = 28502;
const PERIOD_MS = 100;
const CLIENTS = 4;
// The client's own road to the line and back (HTTP or TCP on loopback, the browser's scheduling)
// on a machine that other work shares.
const TRANSPORT_SLACK_MS = 100;

let sim = null;
let bridge = null;
let browser = null;

/**
 * A page's poll: a read of holding registers 0 and 1 every PERIOD_MS, for ms, with the client
 * library the page itself loads. The page's policy forbids eval, so the poll goes in as the
 * source of the expression to evaluate.
 */
function pollFromPage(page, ms) {
  return page.evaluate(`(async () => {
    const { ModbusBridge } = await import('/demo/client/modbus-bridge.js');
    const client = new ModbusBridge({ comPort: 1, slave: 1, baudRate: 19200 });
    const waits = [];
    const faults = [];
    const end = performance.now() + ${ms};
    while (performance.now() < end) {
      const began = performance.now();
      try {
        await client.readHoldingRegisters(0, 2);
      } catch (e) {
        faults.push(e.name + ' ' + (e.code ?? '') + ' ' + (e.reason ?? '') + ' ' + e.message);
      }
      const took = performance.now() - began;
      waits.push(took);
      await new Promise((resolve) => setTimeout(resolve, Math.max(0, ${PERIOD_MS} - took)));
    }
    return { waits, faults };
  })()`);
}

/** A Modbus TCP master that reads holding registers 0 and 1 every PERIOD_MS, for ms. */
function pollOverTcp(ms) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(TCP_PORT, '127.0.0.1');
    const waits = [];
    const faults = [];
    const end = performance.now() + ms;
    let received = Buffer.alloc(0);
    let transaction = 0;
    let sentAt = 0;
    const send = () => {
      if (performance.now() >= end) {
        socket.end();
        resolve({ waits, faults });
        return;
      }
      transaction = (transaction + 1) & 0xFFFF;
      sentAt = performance.now();
      socket.write(Buffer.from([transaction >> 8, transaction & 0xFF, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2]));
    };
    socket.on('connect', send);
    socket.on('data', (data) => {
      received = Buffer.concat([received, data]);
      if (received.length < 6 || received.length < 6 + received.readUInt16BE(4)) return;
      const answer = received.subarray(0, 6 + received.readUInt16BE(4));
      received = received.subarray(answer.length);
      const took = performance.now() - sentAt;
      waits.push(took);
      // One answer to each request, to that request, and nothing more.
      if (answer.readUInt16BE(0) !== transaction || answer[7] !== 3 || received.length !== 0) {
        faults.push(answer.toString('hex'));
      }
      setTimeout(send, Math.max(0, PERIOD_MS - took));
    });
    socket.on('error', reject);
  });
}

async function main() {
  sim = await startSim(SIM, ['--verbose']);
  // When the device took each request, as the simulator's lines arrive.
  const tookAt = [];
  sim.stdout.on('data', (chunk) => {
    for (const line of String(chunk).split('\n')) {
      if (line.startsWith('rx ')) tookAt.push(performance.now());
    }
  });
  bridge = await startBridge(BRIDGED, [sim.pty], {
    settings: `[Server]\nQueue=8\n[ModbusTcp]\nPort=${TCP_PORT}\nCOM=1\nBaud=19200\nTimeoutMs=500\n`,
  });
  browser = await launchChromium();
  const pages = [];
  for (let i = 0; i < 2; i++) {
    const page = await browser.newPage();
    await page.goto(`http://localhost:${BRIDGE_PORT}/demo/`);
    pages.push(page);
  }
  const simLinesBefore = sim.lines.length;

  const ms = SECONDS * 1000;
  const polls = await Promise.all([...pages.map((page) => pollFromPage(page, ms)), pollOverTcp(ms), pollOverTcp(ms)]);
  const names = ['page 1', 'page 2', 'TCP master 1', 'TCP master 2'];

  await step('every request of the four clients is answered, once and rightly', async () => {
    polls.forEach((poll, i) => {
      check(poll.faults.length === 0, `${names[i]}: ${poll.faults.slice(0, 3).join('; ')}`);
      check(poll.waits.length > SECONDS, `${names[i]} was served only ${poll.waits.length} times`);
    });
  });

  await step('the device took each request once and never one while it answered another', async () => {
    const lines = sim.lines.slice(simLinesBefore);
    const took = lines.filter((line) => line.startsWith('rx ')).length;
    const answered = polls.reduce((sum, poll) => sum + poll.waits.length, 0);
    check(took === answered, `the device took ${took} requests for ${answered} answers`);
    const overlaps = lines.filter((line) => line.startsWith('overlap '));
    check(overlaps.length === 0, `requests reached the device while it answered: ${overlaps.slice(0, 3).join('; ')}`);
  });

  await step(`no client starves: its longest wait is within ${CLIENTS} times the line's longest turn`, async () => {
    // The line's turn: from one request reaching the device to the next, in the busy middle of the
    // run (each client asks again at once, since its wait exceeds the period).
    const from = tookAt[0] + 2000;
    const to = tookAt[tookAt.length - 1] - 2000;
    let longestTurn = 0;
    for (let i = 1; i < tookAt.length; i++) {
      if (tookAt[i - 1] >= from && tookAt[i] <= to) longestTurn = Math.max(longestTurn, tookAt[i] - tookAt[i - 1]);
    }
    check(longestTurn > 0, 'the device took too few requests to measure its turns');
    const bound = CLIENTS * longestTurn + TRANSPORT_SLACK_MS;
    polls.forEach((poll, i) => {
      const longest = Math.max(...poll.waits);
      console.log(`  ${names[i]}: ${poll.waits.length} answers, longest wait ${longest.toFixed(0)} ms`);
      check(longest <= bound, `${names[i]} waited ${longest.toFixed(0)} ms, beyond ${bound.toFixed(0)} ms`
        + ` (${CLIENTS} × the line's longest turn ${longestTurn.toFixed(0)} ms + ${TRANSPORT_SLACK_MS} ms)`);
    });
  });
}

async function cleanUp() {
  if (browser) await browser.close();
  if (bridge) await bridge.stopAndClean();
  if (sim) await stop(sim);
}

runSteps('shared line', main, cleanUp, () => (bridge ? bridge.log : ''));
