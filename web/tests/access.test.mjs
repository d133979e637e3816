// Hostile and friendly pages in a real Chromium against modbus-bridged and a simulated slave
// that logs every request it takes (--verbose): with the defaults a public site's form posts and
// no-cors fetches reach nothing, a page opened as a file still reads; with Origins=list only the
// listed origin is served.
//
// Environment: MODBUS_SIM and MODBUS_BRIDGED (paths of the programs, set by CTest),
// CHROMIUM (browser, default /usr/bin/chromium).

import http from 'node:http';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { BRIDGE_PORT } from './bridge-port.mjs';
import { launchChromium, startBridge, startSim, stop } from './programs.mjs';
import { check, fail, runSteps, step } from './steps.mjs';

const PAGE_HOST = '127.0.0.2';
const PUBLIC_PORT = 28001;
const OTHER_PORT = 28002;
const SIM = process.env.MODBUS_SIM;
const BRIDGED = process.env.MODBUS_BRIDGED;
const REFUSED = '{"error_code":125,"error_text":"Запрос отклонён настройками доступа моста","status":"error"}';

const here = path.dirname(fileURLToPath(import.meta.url));
const demoPage = pathToFileURL(path.resolve(here, '..', 'index.html')).href;

const servers = [];
let sim = null;
let bridge = null;

function timeout(ms, value) {
  return new Promise((resolve) => setTimeout(() => resolve(value), ms).unref());
}

// Polls a condition that another process makes true; the condition ends the wait.
async function waitFor(condition, ms, what) {
  const deadline = Date.now() + ms;
  while (Date.now() < deadline) {
    if (condition()) return;
    await timeout(50, null);
  }
  fail(`${what} within ${ms} ms`);
}

// ------------------------------------------------------------------ processes

// Every request the device took: the simulator writes an "rx" line for each (--verbose).
function deviceTook() {
  return sim.lines.filter((line) => line.startsWith('rx '));
}

// A small web server on the second loopback address: each port serves its own pages.
function servePages(port, pages) {
  const server = http.createServer((request, response) => {
    const page = pages[request.url.split('?')[0]];
    response.writeHead(page ? 200 : 404, { 'Content-Type': 'text/html; charset=utf-8' });
    response.end(page || 'not found');
  });
  servers.push(server);
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, PAGE_HOST, () => resolve(server));
  });
}

async function cleanUp() {
  for (const server of servers) server.close();
  if (bridge) await bridge.stopAndClean();
  if (sim) await stop(sim);
}

// ------------------------------------------------------------------ pages

function requestJson(pdu, rand) {
  return JSON.stringify({
    company_id: 1, device_id: 1, slave_addr: 1, baud_rate: 19200, com_port: 1, poll_ms: 1000,
    timeout_ms: 500, ctrl_echo: false, ctrl_dtr: false, ctrl_rts: false, ctrl_invert: false,
    rand_string: rand, pdu,
  });
}

const WRITE_42 = requestJson({ w: [6, 0, 1, 0, 42] }, 'hostile');

function escapeAttribute(text) {
  return text.replace(/&/g, '&amp;').replace(/"/g, '&quot;').replace(/</g, '&lt;');
}

// The attack of the issue: a form that posts itself as text/plain, so the body is json_data=...
const textPlainForm = `<!doctype html><body>
<form id="f" method="POST" enctype="text/plain" action="http://127.0.0.1:${BRIDGE_PORT}/">
<input type="hidden" name="json_data" value="${escapeAttribute(WRITE_42)}"></form>
<script>document.getElementById('f').submit();</script></body>`;

// The same write as an ordinary form into a frame, and as a no-cors fetch.
const framedForm = `<!doctype html><body>
<iframe name="target"></iframe>
<form id="f" method="POST" target="target" action="http://127.0.0.1:${BRIDGE_PORT}/">
<input type="hidden" name="json_data" value="${escapeAttribute(WRITE_42)}"></form>
<script>document.getElementById('f').submit();</script></body>`;

const noCorsFetch = `<!doctype html><body><script>
fetch('http://127.0.0.1:${BRIDGE_PORT}/', { method: 'POST', mode: 'no-cors',
  body: 'json_data=' + encodeURIComponent(${JSON.stringify(WRITE_42)}) })
  .then(() => { document.title = 'sent'; }, () => { document.title = 'failed'; });
</script></body>`;

const blank = '<!doctype html><title>blank</title>';

// Resolves when a request of the page to the bridge has finished or failed, naming which.
function bridgeRequestEnded(page) {
  const toBridge = (request) => request.url().startsWith(`http://127.0.0.1:${BRIDGE_PORT}/`);
  return Promise.race([
    page.waitForEvent('requestfinished', { predicate: toBridge, timeout: 15000 }).then(() => 'answered'),
    page.waitForEvent('requestfailed', { predicate: toBridge, timeout: 15000 })
      .then((request) => `failed: ${request.failure()?.errorText}`),
  ]);
}

// What a page's fetch gets back from the bridge, as the page itself reads it.
function fetchFromPage(page, json) {
  return page.evaluate(async ([port, text]) => {
    try {
      const response = await fetch(`http://localhost:${port}/`, {
        method: 'POST', body: 'json_data=' + encodeURIComponent(text),
      });
      return await response.text();
    } catch (e) {
      return `fetch failed: ${e.message}`;
    }
  }, [BRIDGE_PORT, json]);
}

// ------------------------------------------------------------------ the test

async function main() {
  check(SIM && BRIDGED, 'MODBUS_SIM and MODBUS_BRIDGED must name the programs');

  sim = await startSim(SIM, ['--verbose']);
  bridge = await startBridge(BRIDGED, [sim.pty]);
  await servePages(PUBLIC_PORT, { '/text-plain': textPlainForm, '/framed': framedForm,
    '/no-cors': noCorsFetch, '/blank': blank });
  await servePages(OTHER_PORT, { '/blank': blank });

  // The attacker's site counts as public, as a site on the Internet would.
  const publicBrowser = await launchChromium([`--ip-address-space-overrides=${PAGE_HOST}:${PUBLIC_PORT}=public`]);
  try {
    const page = await (await publicBrowser.newContext()).newPage();

    await step('a public site\'s text/plain form post is refused and reaches nothing', async () => {
      await page.goto(`http://${PAGE_HOST}:${PUBLIC_PORT}/text-plain`);
      await page.waitForURL(`http://127.0.0.1:${BRIDGE_PORT}/`, { timeout: 15000 });
      const shown = (await page.textContent('body')).trim();
      check(shown === REFUSED, `the tab shows ${shown}`);
    });

    // The browser may block these itself (Local Network Access covers frames and fetch); either
    // way the request must end without reaching the device, which the last steps check.
    for (const [name, url] of [['a form into a frame', '/framed'], ['a no-cors fetch', '/no-cors']]) {
      await step(`${name} ends without reaching the device`, async () => {
        const ended = bridgeRequestEnded(page);
        await page.goto(`http://${PAGE_HOST}:${PUBLIC_PORT}${url}`);
        const outcome = await ended;
        process.stdout.write(`(${outcome}) `);
      });
    }
  } finally {
    await publicBrowser.close();
  }

  const browser = await launchChromium();
  try {
    const context = await browser.newContext();
    const page = await context.newPage();

    await step('the demo page opened as a file still reads registers', async () => {
      await page.goto(demoPage);
      const reply = JSON.parse(await fetchFromPage(page, requestJson({ r: [3, 0, 0x21, 0, 1] }, 'file')));
      check(reply.status === 'ok' && reply.data['33'] === 0x21, `reply ${JSON.stringify(reply)}`);
    });

    await step('nothing of the hostile pages reached the device', async () => {
      await waitFor(() => deviceTook().length >= 1, 10000, 'the device took the file page\'s read');
      check(deviceTook().length === 1 && deviceTook()[0].startsWith('rx 010300210001'),
        `the device took ${JSON.stringify(deviceTook())}`);
      const refusals = bridge.log.split('\n').filter((line) => line.includes('Error[125]'));
      check(refusals.length >= 1, `refusal lines:\n${bridge.log}`);
    });

    await bridge.stopAndClean();
    bridge = await startBridge(BRIDGED, [sim.pty], {
      settings: `[Server]\nOrigins=list\n[Origins]\nhttp://${PAGE_HOST}:${PUBLIC_PORT}=1\n`,
    });

    await step('with Origins=list the listed origin is served', async () => {
      await page.goto(`http://${PAGE_HOST}:${PUBLIC_PORT}/blank`);
      const reply = JSON.parse(await fetchFromPage(page, requestJson({ r: [3, 0, 0x22, 0, 1] }, 'listed')));
      check(reply.status === 'ok' && reply.data['34'] === 0x22, `reply ${JSON.stringify(reply)}`);
    });

    await step('with Origins=list another origin is refused with 125', async () => {
      await page.goto(`http://${PAGE_HOST}:${OTHER_PORT}/blank`);
      const body = await fetchFromPage(page, requestJson({ r: [3, 0, 0x23, 0, 1] }, 'other'));
      check(body === REFUSED, `reply ${body}`);
      check(bridge.log.includes(`Первый запрос со страницы http://${PAGE_HOST}:${OTHER_PORT}`),
        `origin line:\n${bridge.log}`);
      check(deviceTook().length === 2 && deviceTook()[1].startsWith('rx 010300220001'),
        `the device took ${JSON.stringify(deviceTook())}`);
    });
  } finally {
    await browser.close();
  }
}

await runSteps('web access', main, cleanUp, () => bridge?.log);
