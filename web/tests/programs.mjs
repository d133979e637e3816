// modbus-sim and the bridge programs for the browser tests: each simulator on a pseudo-terminal
// of its own, modbus-bridged or the window (offscreen) a copy in a temporary folder with its
// settings file beside it, on the fixed port 19284; Chromium, and the client library put into
// its pages. Events are awaited, never slept for, but for a program that tells nothing of
// itself: its port and its daily log file are looked at until they answer.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { BRIDGE_PORT, canConnect, checkPortFree } from './bridge-port.mjs';

const START_LINE = '\tСтарт\n';

function deadline(ms, what) {
  let timer;
  const promise = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what} within ${ms} ms`)), ms);
    timer.unref();
  });
  return { promise, cancel: () => clearTimeout(timer) };
}

function started(program, args, options) {
  const child = spawn(program, args, { stdio: ['ignore', 'pipe', 'pipe'], ...options });
  child.exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  child.once('error', () => {});
  return child;
}

export async function stop(child) {
  if (child.exitCode !== null || child.signalCode !== null) return;
  child.kill('SIGTERM');
  const limit = deadline(5000, 'no exit after SIGTERM');
  try {
    await Promise.race([child.exited, limit.promise]);
  } catch {
    child.kill('SIGKILL');
    await child.exited;
  } finally {
    limit.cancel();
  }
}

/**
 * How long a device that writes registers waits before it answers, as a real one takes some
 * milliseconds. The answer to a write of one register is a copy of its request; one that is
 * already in the port when the bridge turns the line to receive (its thread held up for longer
 * than the device's turnaround) is taken for the adapter's echo, on purpose (performance.md), and
 * the write reads as 123. An instant simulator loses that race now and then on a loaded machine.
 */
export const DEVICE_TURNAROUND_MS = 10;

/** A simulated slave; resolves with its terminal path once it has printed it. */
export async function startSim(simPath, args = []) {
  const child = started(simPath, args);
  child.stderr.on('data', (d) => process.stderr.write(`modbus-sim: ${d}`));
  const lines = readline.createInterface({ input: child.stdout });
  child.lines = [];
  const first = new Promise((resolve) => lines.once('line', resolve));
  lines.on('line', (line) => child.lines.push(line));
  const limit = deadline(10000, 'modbus-sim printed no terminal path');
  try {
    child.pty = (await Promise.race([first, child.exited.then((e) => {
      throw new Error(`modbus-sim ended before its first line: ${JSON.stringify(e)}`);
    }), limit.promise])).trim();
  } finally {
    limit.cancel();
  }
  return child;
}

/**
 * modbus-bridged with COM1, COM2, ... mapped to the given terminals and, when key is given,
 * the access key in its settings file; settings are further sections of that file. Its output
 * collects in bridge.log.
 */
export async function startBridge(bridgedPath, ptys, { key, settings = '' } = {}) {
  await checkPortFree();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'client-bridge-'));
  const program = path.join(dir, 'modbus-bridged');
  fs.copyFileSync(bridgedPath, program);
  fs.chmodSync(program, 0o755);
  const ports = ptys.map((pty, i) => `COM${i + 1}=${pty}`).join('\n');
  const server = key === undefined ? '' : `[Server]\nKey=${key}\n`;
  fs.writeFileSync(path.join(dir, 'modbus-bridged.ini'), `${settings}${server}[Ports]\n${ports}\n`);
  const child = started(program, [], { cwd: dir });
  child.log = '';
  // Its start lines follow the opening of the port; "Старт" is the last but the dashes.
  const listening = new Promise((resolve) => {
    const collect = (d) => {
      child.log += d;
      if (child.log.includes(START_LINE)) resolve();
    };
    child.stdout.on('data', collect);
    child.stderr.on('data', collect);
  });
  const limit = deadline(15000, `modbus-bridged wrote no "${START_LINE}"`);
  try {
    await Promise.race([listening, limit.promise, child.exited.then((e) => {
      throw new Error(`modbus-bridged ended (${JSON.stringify(e)}):\n${child.log}`);
    })]);
  } finally {
    limit.cancel();
  }
  child.stopAndClean = async () => {
    await stop(child);
    fs.rmSync(dir, { recursive: true, force: true });
  };
  return child;
}

// Resolves once condition() holds, looking every 50 ms; rejects after ms.
async function until(condition, ms, what) {
  const end = Date.now() + ms;
  while (!(await condition())) {
    if (Date.now() > end) throw new Error(`${what} within ${ms} ms`);
    await new Promise((resolve) => setTimeout(resolve, 50).unref());
  }
}

/**
 * An X display of its own (Xvfb), on which the window takes key strokes as an operator types them
 * (xdotool, through the X server's test extension). Resolves once it takes connections; its
 * name is display.name.
 */
export async function startDisplay() {
  const child = started('Xvfb', ['-displayfd', '3', '-screen', '0', '1024x768x24', '-nolisten', 'tcp', '-noreset'],
    { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
  const number = new Promise((resolve) => {
    let text = '';
    child.stdio[3].on('data', (d) => {
      text += d;
      if (text.includes('\n')) resolve(text.trim());
    });
  });
  const limit = deadline(10000, 'Xvfb told no display number');
  try {
    child.name = `:${await Promise.race([number, limit.promise, child.exited.then((e) => {
      throw new Error(`Xvfb ended (${JSON.stringify(e)}); is it installed (xvfb)?`);
    })])}`;
  } finally {
    limit.cancel();
  }
  return child;
}

/** xdotool with the arguments on the display; resolves with what it printed, rejects when it fails. */
export async function xdotool(display, args) {
  const child = started('xdotool', args, { env: { ...process.env, DISPLAY: display.name } });
  let errors = '';
  let output = '';
  child.stderr.on('data', (d) => { errors += d; });
  child.stdout.on('data', (d) => { output += d; });
  const { code, signal } = await child.exited;
  if (code !== 0) throw new Error(`xdotool ${args.join(' ')} ended with ${code ?? signal}: ${errors}`);
  return output;
}

/**
 * The window of that name once it is shown on the display. xdotool gives up when a window goes
 * while it looks (Qt makes and drops windows of its own), so it looks again.
 */
async function shownWindow(display, name) {
  let found = '';
  await until(async () => {
    found = (await xdotool(display, ['search', '--onlyvisible', '--name', name]).catch(() => '')).split('\n')[0];
    return found !== '';
  }, 15000, `no window "${name}" on the display`);
  return found;
}

/**
 * The operator answers the question in view in the window on the display: Tab from the log to
 * "Разрешить" (or on to "Запретить"), then Space, again every 100 ms until the window logs the
 * answer about the origin; the bar takes none in its first half second.
 */
export async function answerInWindow(bridge, display, origin, allow) {
  const window = await shownWindow(display, 'RAVO Duridur');
  await xdotool(display, ['windowfocus', '--sync', window, 'key', ...(allow ? ['Tab'] : ['Tab', 'Tab'])]);
  const line = `Страница ${origin} ${allow ? 'разрешена' : 'запрещена'} оператором`;
  await until(async () => {
    if (bridge.log.includes(line)) return true;
    await xdotool(display, ['key', 'space']);
    return false;
  }, 10000, `the window logged no "${line}"`);
}

/**
 * The window program modbus-bridge with COM1, COM2, ... mapped to the terminals and settings as
 * further sections of its settings file: offscreen, or on the display when one is given. The
 * window prints nothing: bridge.log reads its daily log file.
 */
export async function startWindow(windowPath, ptys, { settings = '', display = null } = {}) {
  await checkPortFree();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'client-window-'));
  const program = path.join(dir, 'modbus-bridge');
  fs.copyFileSync(windowPath, program);
  fs.chmodSync(program, 0o755);
  const logs = path.join(dir, 'logs');
  const ports = ptys.map((pty, i) => `COM${i + 1}=${pty}`).join('\n');
  fs.writeFileSync(path.join(dir, 'modbus-bridge.ini'),
    `[Options]\nLogFolder=${logs}\n${settings}[Ports]\n${ports}\n`);
  const screen = display ? { QT_QPA_PLATFORM: 'xcb', DISPLAY: display.name } : { QT_QPA_PLATFORM: 'offscreen' };
  const child = started(program, [], { cwd: dir, env: { ...process.env, ...screen } });
  let errors = '';
  child.stderr.on('data', (d) => { errors += d; });
  child.stdout.resume();
  Object.defineProperty(child, 'log', {
    get() {
      const files = fs.existsSync(logs) ? fs.readdirSync(logs).sort() : [];
      const text = files.map((name) => new TextDecoder('windows-1251').decode(fs.readFileSync(path.join(logs, name))));
      return text.join('').replace(/\r\n/g, '\n') + errors;
    },
  });
  let ended = null;
  child.exited.then((e) => { ended = e; });
  await until(async () => {
    if (ended) throw new Error(`modbus-bridge ended (${JSON.stringify(ended)}):\n${child.log}`);
    return child.log.includes(START_LINE) && canConnect(BRIDGE_PORT);
  }, 15000, 'modbus-bridge wrote no start lines or does not listen');
  child.stopAndClean = async () => {
    await stop(child);
    fs.rmSync(dir, { recursive: true, force: true });
  };
  return child;
}

/** Event record r of modbus-sim's file 6, byte for byte, as the simulator makes it. */
export function simulatedRecord(r) {
  const stamp = 1000 * r;
  const bytes = [r & 0xFF, 1 + (r % 7), (stamp >>> 24) & 0xFF, (stamp >>> 16) & 0xFF, (stamp >>> 8) & 0xFF, stamp & 0xFF];
  for (let i = 6; i < 32; i++) bytes.push((r + i) & 0xFF);
  return bytes;
}

// Headless, as root, and without the background traffic that a closed network refuses.
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

/** Debian's Chromium (or the one CHROMIUM names) driven by playwright-core. */
export async function launchChromium(extraArgs = []) {
  const executablePath = process.env.CHROMIUM || '/usr/bin/chromium';
  if (!fs.existsSync(executablePath)) throw new Error(`no browser at ${executablePath} (Debian package chromium)`);
  let chromium;
  try {
    ({ chromium } = await import('playwright-core'));
  } catch (e) {
    throw new Error(`playwright-core is not installed; run tools/setup-web.sh (${e.message})`);
  }
  return chromium.launch({ executablePath, args: [...CHROMIUM_ARGS, ...extraArgs] });
}

const clientPath = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', 'client', 'modbus-bridge.js');

/**
 * Puts the client library into a page of any origin (a file, about:blank) as the global
 * ModbusBridgeClient: the module's source in an inline module script, which fetches nothing.
 */
export async function addClientModule(page) {
  const names = Object.keys(await import(pathToFileURL(clientPath).href));
  const source = fs.readFileSync(clientPath, 'utf8');
  await page.addScriptTag({ type: 'module', content: `${source}\nglobalThis.ModbusBridgeClient = { ${names.join(', ')} };\n` });
  await page.waitForFunction(() => globalThis.ModbusBridgeClient !== undefined);
}
