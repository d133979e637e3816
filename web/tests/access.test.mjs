// Hostile and friendly pages in a real Chromium against the bridge programs and a simulated slave
// that logs every request it takes (--verbose). With the defaults of both programs: a public
// site's form posts and no-cors fetches reach nothing; a page opened as a file and a sandboxed
// frame of a foreign page (both Origin: null) get nothing through; a page of another origin is
// refused by modbus-bridged, which says how to list it, and asked about by the window, which
// serves it after the operator pressed "Разрешить" from the keyboard (Tab and Space, sent to the
// window on an Xvfb display of its own by xdotool). With Origins=list the listed origin is served.
//
// Environment: MODBUS_SIM, MODBUS_BRIDGED and MODBUS_BRIDGE (paths of the programs, set by
// CTest), CHROMIUM (browser, default /usr/bin/chromium).

import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { BRIDGE_PORT } from './bridge-port.mjs';
import {
  addClientModule, answerInWindow, launchChromium, startBridge, startDisplay, startSim, startWindow, stop,
} from './programs.mjs';
import {
  PAGE_HOST, demoCopy, deviceTook as tookBy, readWithClient, runOnce, servePages as serve,
} from './site-pages.mjs';
import { check, fail, runSteps, step } from './steps.mjs';

const PUBLIC_PORT = 28001;
const OTHER_PORT = 28002;
const OTHER_ORIGIN = `http://${PAGE_HOST}:${OTHER_PORT}`;
const SIM = process.env.MODBUS_SIM;
const BRIDGED = process.env.MODBUS_BRIDGED;
const WINDOW = process.env.MODBUS_BRIDGE;
const REFUSED = '{"error_code":125,"error_text":"Запрос отклонён настройками доступа моста","status":"error"}';

const here = path.dirname(fileURLToPath(import.meta.url));
const filePage = pathToFileURL(path.resolve(here, 'blank.html')).href;

const servers = [];
let sim = null;
let bridge = null;
// The window's display, where the operator's keys reach it.
let display = null;

function timeout(ms, value) {
  return new Promise((resolve) => setTimeout(() => resolve(value), ms).unref());
}

// ------------------------------------------------------------------ processes

function deviceTook() {
  return tookBy(sim);
}

async function servePages(port, pages) {
  servers.push(await serve(port, pages));
}

async function cleanUp() {
  for (const server of servers) server.close();
  if (bridge) await bridge.stopAndClean();
  if (sim) await stop(sim);
  if (display) await stop(display);
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

// A foreign page whose sandboxed frame (an opaque origin: Origin: null) writes register 1 and
// hands what it got back to the page.
const sandboxedFrame = `<!doctype html><title>waiting</title><body>
<script>window.addEventListener('message', (e) => { window.frameGot = e.data; document.title = 'got'; });</script>
<iframe sandbox="allow-scripts" srcdoc="${escapeAttribute(`<script>
fetch('http://localhost:${BRIDGE_PORT}/', { method: 'POST',
  body: 'json_data=' + encodeURIComponent(${JSON.stringify(WRITE_42)}) })
  .then((r) => r.text()).then((t) => parent.postMessage(t, '*'),
    (e) => parent.postMessage('fetch failed: ' + e.message, '*'));
</script>`)}"></iframe></body>`;

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

// Polls a condition that another process makes true; the condition ends the wait.
async function waitFor(condition, ms, what) {
  const deadline = Date.now() + ms;
  while (Date.now() < deadline) {
    if (condition()) return;
    await timeout(50, null);
  }
  fail(`${what} within ${ms} ms`);
}

// ------------------------------------------------------------------ the test

// With a program's defaults, pages whose origin is null get nothing through, and a page of
// another origin is refused or waits for the operator.
async function nullAndOtherOrigin(browser, program) {
  const page = await (await browser.newContext()).newPage();
  try {
    await step(`${program}: a page opened as a file (Origin: null) is refused`, async () => {
      await page.goto(filePage);
      const body = await fetchFromPage(page, requestJson({ r: [3, 0, 0x21, 0, 1] }, 'file'));
      check(body === REFUSED, `reply ${body}`);
    });

    await step(`${program}: a foreign page's sandboxed srcdoc frame gets nothing through`, async () => {
      const before = bridge.log.length;
      await page.goto(`${OTHER_ORIGIN}/sandboxed`);
      await page.waitForFunction(() => window.frameGot !== undefined, null, { timeout: 15000 });
      const got = await page.evaluate(() => window.frameGot);
      check(got === REFUSED, `the frame got ${got}`);
      await waitFor(() => bridge.log.slice(before).includes('Origin: null)'), 10000,
        'the frame\'s request was refused in the log');
    });

    if (program === 'modbus-bridged') {
      await step(`${program}: a page of another origin is refused, and the log says how to list it`, async () => {
        await page.goto(`${OTHER_ORIGIN}/blank`);
        await addClientModule(page);
        const outcome = await readWithClient(page);
        check(outcome.code === 125 && outcome.kind === 'access', `outcome ${JSON.stringify(outcome)}`);
        check(bridge.log.includes(`строку ${OTHER_ORIGIN}=1 и перезапустите мост`), `advice:\n${bridge.log}`);
        check(deviceTook().length === 0, `the device took ${JSON.stringify(deviceTook())}`);
      });
      return;
    }
    await step(`${program}: a page of another origin waits for the operator, then is served`, async () => {
      // A copy of the demo page on that site: the refusal is advice, not a failure of the device.
      await page.goto(`${OTHER_ORIGIN}/demo/`);
      await page.fill('#start-addr', '0x23');
      await page.fill('#reg-count', '1');
      const waiting = await runOnce(page);
      check(waiting.banner === 'banner advice' && waiting.title === 'Разрешите эту страницу в окне моста' &&
        waiting.code === '127' && waiting.detail.startsWith('Страница ждёт разрешения оператора в окне моста.'),
      `the page shows ${JSON.stringify(waiting)}`);
      check(deviceTook().length === 0, `the device took ${JSON.stringify(deviceTook())}`);
      // The operator answers from the keyboard; the window logs the answer.
      await answerInWindow(bridge, display, OTHER_ORIGIN, true);
      const served = await runOnce(page);
      check(served.code === '0' && served.banner.includes('ok'), `the page shows ${JSON.stringify(served)}`);
      check(deviceTook().length === 1 && deviceTook()[0].startsWith('rx 010300230001'),
        `the device took ${JSON.stringify(deviceTook())}`);
      await page.goto(`${OTHER_ORIGIN}/blank`);
      await addClientModule(page);
      check(JSON.stringify(await readWithClient(page)) === JSON.stringify({ value: [0x23] }),
        'the client library is served too');
    });
  } finally {
    await page.context().close();
  }
}

async function main() {
  check(SIM && BRIDGED && WINDOW, 'MODBUS_SIM, MODBUS_BRIDGED and MODBUS_BRIDGE must name the programs');

  sim = await startSim(SIM, ['--verbose']);
  bridge = await startBridge(BRIDGED, [sim.pty]);
  await servePages(PUBLIC_PORT, { '/text-plain': textPlainForm, '/framed': framedForm,
    '/no-cors': noCorsFetch, '/blank': blank });
  await servePages(OTHER_PORT, { '/blank': blank, '/sandboxed': sandboxedFrame, ...demoCopy });

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
    await nullAndOtherOrigin(browser, 'modbus-bridged');
    await step('nothing of the hostile pages reached the device', async () => {
      check(deviceTook().length === 0, `the device took ${JSON.stringify(deviceTook())}`);
      const refusals = bridge.log.split('\n').filter((line) => line.includes('Error[125]'));
      check(refusals.length >= 3, `refusal lines:\n${bridge.log}`);
    });

    await bridge.stopAndClean();
    display = await startDisplay();
    bridge = await startWindow(WINDOW, [sim.pty], { display });
    await nullAndOtherOrigin(browser, 'window');

    await bridge.stopAndClean();
    bridge = await startBridge(BRIDGED, [sim.pty], {
      settings: `[Server]\nOrigins=list\n[Origins]\nhttp://${PAGE_HOST}:${PUBLIC_PORT}=1\n`,
    });
    const page = await (await browser.newContext()).newPage();
    await step('with Origins=list the listed origin is served', async () => {
      await page.goto(`http://${PAGE_HOST}:${PUBLIC_PORT}/blank`);
      const reply = JSON.parse(await fetchFromPage(page, requestJson({ r: [3, 0, 0x22, 0, 1] }, 'listed')));
      check(reply.status === 'ok' && reply.data['34'] === 0x22, `reply ${JSON.stringify(reply)}`);
      check(deviceTook().length === 3 && deviceTook()[2].startsWith('rx 010300220001'),
        `the device took ${JSON.stringify(deviceTook())}`);
    });
  } finally {
    await browser.close();
  }
}

await runSteps('web access', main, cleanUp, () => bridge?.log);
