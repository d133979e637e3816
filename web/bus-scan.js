// The bus scan: every address of a range at every chosen speed is asked for one holding
// register (function 3) and, where it stays silent, for one input register (function 4). Any
// answer, an exception too, shows a device there. Reads only, one at a time: the page's ask
// goes through the client library's queue like every other request, and the bridge's access and
// busy rules stop the scan as they would stop any request.
import { BridgeError, BridgeUnreachableError } from './client/modbus-bridge.js';

export const LOWEST_ADDRESS = 1;
export const HIGHEST_ADDRESS = 247;
const NO_ANSWER = 123;
const BRIDGE_FAULT = -1;
// The bridge waits at least this long for an answer, whatever shorter time a request asks for.
const SHORTEST_WAIT_MS = 250;
// What a request costs beyond the wait (HTTP, the port's opening): the guess until probes are timed.
const REQUEST_COST_MS = 10;

/** The speed and address of every probe, speed by speed, addresses in rising order. */
export function scanProbes({ speeds, from, to }) {
  const probes = [];
  for (const baud of speeds) {
    for (let address = from; address <= to; address++) probes.push({ baud, address });
  }
  return probes;
}

/**
 * What one read tells: 'found' (with the answer in words), 'silent' (no answer), or 'stop' (a
 * failure of the bridge, the port or the page's access, which every further probe would meet).
 */
export function probeOutcome(fc, result, error) {
  if (!error) return { kind: 'found', fc, answer: `ФК ${fc}: регистр 0 = ${result[0]}` };
  if (!(error instanceof BridgeError) || error.kind !== 'device' || error.code === BRIDGE_FAULT) {
    return { kind: 'stop', error };
  }
  if (error.code === NO_ANSWER) return { kind: 'silent' };
  const what = error.code >= 100 && error.code <= 102 ? 'ответ с ошибкой' : 'исключение';
  return { kind: 'found', fc, answer: `ФК ${fc}: ${what} ${error.code} — ${error.text}` };
}

async function askOnce(ask, probe, fc) {
  try {
    return probeOutcome(fc, await ask(probe.address, probe.baud, fc));
  } catch (error) {
    if (!(error instanceof BridgeError || error instanceof BridgeUnreachableError)) throw error;
    return probeOutcome(fc, undefined, error);
  }
}

/**
 * Runs the probes in order. ask(address, baud, fc) reads one register and rejects as the client
 * library does; onProbe({ index, probe, outcome }) follows each probe; cancelled() is looked at
 * before every request, so a cancel sends nothing more. Resolves with
 * { status: 'done' | 'cancelled' | 'stopped', done, error }.
 */
export async function runScan({ probes, ask, tryInput = true, onProbe = () => {}, cancelled = () => false }) {
  for (let index = 0; index < probes.length; index++) {
    if (cancelled()) return { status: 'cancelled', done: index };
    const probe = probes[index];
    let outcome = await askOnce(ask, probe, 3);
    if (outcome.kind === 'silent' && tryInput) {
      if (cancelled()) return { status: 'cancelled', done: index };
      outcome = await askOnce(ask, probe, 4);
    }
    if (outcome.kind === 'stop') return { status: 'stopped', done: index, error: outcome.error };
    onProbe({ index, probe, outcome });
  }
  return { status: 'done', done: probes.length };
}

/**
 * The time the probes left will take: the mean of those done so far, or before the first one
 * what a silent address costs at the time-out asked for.
 */
export function timeLeftMs({ done, total, elapsedMs, timeoutMs, tryInput }) {
  const left = total - done;
  if (done > 0) return (elapsedMs / done) * left;
  const wait = Math.max(timeoutMs, SHORTEST_WAIT_MS) + REQUEST_COST_MS;
  return left * wait * (tryInput ? 2 : 1);
}

/** "≈ 4 мин 05 с", "≈ 35 с". */
export function formatDuration(ms) {
  const seconds = Math.max(0, Math.ceil(ms / 1000));
  const minutes = Math.floor(seconds / 60);
  return minutes > 0 ? `≈ ${minutes} мин ${String(seconds % 60).padStart(2, '0')} с` : `≈ ${seconds} с`;
}
