// Pages of other sites, as the browser tests serve them on a second loopback address (over TLS
// too, with a certificate made for the run), and what such a page gets from the bridge: the demo
// page's outcome, the client library's, and the requests the simulated device took.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import https from 'node:https';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

/** The other sites' address: loopback, yet another origin than the bridge's own page. */
export const PAGE_HOST = '127.0.0.2';

const web = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');

// The demo page as another site would serve a copy of it: it then talks to the bridge on
// localhost:19284 as a page of that site.
export const demoCopy = {
  '/demo/': ['index.html', 'text/html; charset=utf-8'],
  '/demo/demo.js': ['demo.js', 'text/javascript; charset=utf-8'],
  '/demo/demo.css': ['demo.css', 'text/css; charset=utf-8'],
  ...Object.fromEntries(['client/modbus-bridge.js', 'page-dom.js', 'bus-scan.js', 'scan-card.js', 'register-map.js',
    'map-card.js', 'typed-values.js', 'value-log.js'].map((name) => [`/demo/${name}`, [name, 'text/javascript; charset=utf-8']])),
};

/**
 * A self-signed certificate for the address, made by openssl in a temporary folder for this run
 * only; remove() deletes the folder with its key.
 */
export function throwAwayCertificate(host) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'site-tls-'));
  const key = path.join(dir, 'key.pem');
  const cert = path.join(dir, 'cert.pem');
  try {
    execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes',
      '-keyout', key, '-out', cert, '-days', '1', '-subj', `/CN=${host}`, '-addext', `subjectAltName=IP:${host}`],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  } catch (e) {
    fs.rmSync(dir, { recursive: true, force: true });
    throw new Error(`openssl made no certificate (Debian package openssl): ${e.stderr || e.message}`);
  }
  return {
    key: fs.readFileSync(key),
    cert: fs.readFileSync(cert),
    remove: () => fs.rmSync(dir, { recursive: true, force: true }),
  };
}

/**
 * A small web server on the other sites' address: each port serves its own pages, given as HTML
 * or as a file of web/ and its type; over TLS when tls holds a key and a certificate.
 */
export function servePages(port, pages, tls = null) {
  const serve = (request, response) => {
    const page = pages[request.url.split('?')[0]];
    const [body, type] = Array.isArray(page)
      ? [fs.readFileSync(path.join(web, page[0])), page[1]] : [page, 'text/html; charset=utf-8'];
    response.writeHead(page ? 200 : 404, { 'Content-Type': type });
    response.end(body || 'not found');
  };
  const server = tls ? https.createServer({ key: tls.key, cert: tls.cert }, serve) : http.createServer(serve);
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, PAGE_HOST, () => resolve(server));
  });
}

/** Every request the device took: the simulator writes an "rx" line for each (--verbose). */
export function deviceTook(sim) {
  return sim.lines.filter((line) => line.startsWith('rx '));
}

/** Runs the demo page's chosen command once; what the page then shows. */
export async function runOnce(page) {
  const seq = Number(await page.getAttribute('#status', 'data-seq'));
  await page.click('#run-once');
  await page.waitForFunction(
    (before) => Number(document.getElementById('status').dataset.seq) > before, seq, { timeout: 15000 });
  return page.evaluate(() => ({
    banner: document.getElementById('banner').className,
    title: document.getElementById('banner-title').textContent.trim(),
    detail: document.getElementById('banner-text').textContent.trim(),
    code: document.getElementById('error-code').textContent.trim(),
  }));
}

/**
 * A read of holding register 0x23 with the client library (put into the page by
 * addClientModule), as the page's code sees its outcome.
 */
export function readWithClient(page) {
  return page.evaluate(() => new ModbusBridgeClient.ModbusBridge({ comPort: 1, slave: 1 })
    .readHoldingRegisters(0x23, 1)
    .then((value) => ({ value }),
      (e) => ({ name: e.name, code: e.code, kind: e.kind, reason: e.reason, text: e.text })));
}
