// The client's talking half against stand-ins of what a page meets on the bridge's port: a
// bridge that answers with captured replies and, like the real one, leaves a request that
// arrives while it serves another unanswered; a program that never answers; one that is not
// the bridge; nothing at all. Each listens on a free loopback port of its own.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import { after, describe, test } from 'node:test';

import { BridgeError, BridgeUnreachableError, ModbusBridge, pdu } from '../modbus-bridge.js';

const captured = JSON.parse(fs.readFileSync(new URL('./replies.json', import.meta.url), 'utf8')).cases;
const capturedReply = (name) => structuredClone(captured.find((c) => c.name === name).reply);

function requestOf(body) {
  const field = body.split('&').find((f) => f.startsWith('json_data='));
  return JSON.parse(decodeURIComponent(field.slice('json_data='.length)));
}

const servers = [];
after(() => Promise.all(servers.map((s) => new Promise((resolve) => {
  s.closeAllConnections();
  s.close(resolve);
}))));

// handle(request, body, respond) decides when and what to answer; the server keeps a record of
// what it received and of requests that arrived while another was being served.
async function stand_in(handle) {
  const log = { received: [], busy: 0, closedUnanswered: 0 };
  let serving = false;
  const server = http.createServer((req, res) => {
    let body = '';
    req.on('data', (d) => { body += d; });
    req.on('end', () => {
      if (serving) {
        log.busy++;
        return;
      }
      serving = true;
      const request = requestOf(body);
      log.received.push({ request, body });
      let answered = false;
      res.on('close', () => {
        serving = false;
        if (!answered) log.closedUnanswered++;
      });
      handle(request, body, (text) => {
        answered = true;
        res.writeHead(200, { 'Content-Type': 'application/json; charset=utf-8', 'Access-Control-Allow-Origin': '*' });
        res.end(text);
        serving = false;
      });
    });
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  servers.push(server);
  return { log, url: `http://127.0.0.1:${server.address().port}/`, port: server.address().port };
}

// What the bridge does with a request: the captured reply, echoing the request it answers.
const echoing = (name) => (request, _body, respond) => {
  respond(JSON.stringify({ ...capturedReply(name), rand_string: request.rand_string, pdu: request.pdu }));
};

function deferred() {
  let resolve;
  const promise = new Promise((r) => { resolve = r; });
  return { promise, resolve };
}

describe('one request in flight per bridge', () => {
  test('calls of two bridges on one URL, spelled two ways, wait for each other in order', async () => {
    const server = await stand_in((request, body, respond) => {
      // Answer on a later turn of the event loop, as a device would, so that overlap could show.
      setImmediate(() => echoing('holding registers 0..9')(request, body, respond));
    });
    const widgetA = new ModbusBridge({ url: server.url, comPort: 1, slave: 1 });
    const widgetB = new ModbusBridge({ url: `http://localhost:${server.port}`, comPort: 2, slave: 3 });
    const calls = [];
    for (let i = 0; i < 4; i++) {
      calls.push(widgetA.readHoldingRegisters(i, 10 - i));
      calls.push(widgetB.readHoldingRegisters(0, 10));
    }
    const results = await Promise.all(calls);
    assert.equal(server.log.busy, 0, 'requests that reached the bridge while it was busy');
    assert.deepEqual(server.log.received.map((r) => r.request.com_port), [1, 2, 1, 2, 1, 2, 1, 2], 'order of sending');
    assert.deepEqual(results[2], [1, 2, 3, 4, 5, 6, 7, 8, 9]);
    assert.equal(new Set(server.log.received.map((r) => r.request.rand_string)).size, 8, 'a tag of its own each');
  });
});

describe('time-outs', () => {
  test('a request the bridge leaves unanswered rejects, closes its connection and frees the queue', async () => {
    const server = await stand_in((request, body, respond) => {
      if (server.log.received.length > 1) echoing('write 1234 to register 5')(request, body, respond);
    });
    // Awaiting no answer, the client's limit is its margin and the frame's time: about 2 s.
    const bridge = new ModbusBridge({ url: server.url, comPort: 1, slave: 1, timeoutMs: 0 });
    const lost = bridge.writeSingleRegister(5, 1);
    const next = bridge.writeSingleRegister(5, 2);
    await assert.rejects(lost, (e) => e instanceof BridgeUnreachableError && e.reason === 'timeout' &&
      e.limitMs === 2005 && /no answer from .* within 2005 ms/.test(e.message));
    assert.equal(await next, undefined);
    assert.equal(server.log.closedUnanswered, 1, 'the abandoned request closed its connection');
    assert.equal(server.log.busy, 0);
  });

  test('a late reply to an abandoned request is never taken for the next one\'s answer', async () => {
    const first = deferred();
    const server = await stand_in((request, body, respond) => {
      if (server.log.received.length === 1) {
        first.resolve(request);
        return;
      }
      // The second request gets the reply that belonged to the first.
      first.promise.then((stale) => echoing('holding registers 0..9')(stale, body, respond));
    });
    const bridge = new ModbusBridge({ url: server.url, comPort: 1, slave: 1, timeoutMs: 0 });
    const abandoned = bridge.writeSingleRegister(0, 0);
    const next = bridge.writeSingleRegister(0, 0);
    await assert.rejects(abandoned, { reason: 'timeout' });
    await assert.rejects(next, (e) => e instanceof BridgeUnreachableError && e.reason === 'foreign-reply');
  });
});

describe('a port without the bridge', () => {
  test('nothing listening is reported as the bridge not running', async () => {
    const server = await stand_in(() => {});
    const url = server.url;
    await new Promise((resolve) => servers.pop().close(resolve));
    const bridge = new ModbusBridge({ url, comPort: 1, slave: 1 });
    await assert.rejects(bridge.readHoldingRegisters(0, 1), (e) => e instanceof BridgeUnreachableError &&
      e.reason === 'network' && e.url === url && /nothing answers at .*start modbus-bridge/.test(e.message));
  });

  test('another program on the port is reported as not the bridge', async () => {
    const server = await stand_in((_request, _body, respond) => respond('<html>It works!</html>'));
    const bridge = new ModbusBridge({ url: server.url, comPort: 1, slave: 1 });
    await assert.rejects(bridge.readHoldingRegisters(0, 1),
      (e) => e instanceof BridgeUnreachableError && e.reason === 'not-bridge' && /is not JSON/.test(e.message));
  });
});

describe('poll', () => {
  test('rounds never overlap, failures are handed over too, and stop ends it', async () => {
    const answers = ['holding registers 0..9', 'silent device', 'holding registers 0..9'];
    const seventhSent = deferred();
    const server = await stand_in((request, body, respond) => {
      const n = server.log.received.length;
      if (n === 7) seventhSent.resolve();
      setImmediate(() => echoing(n <= 6 ? answers[(n - 1) % answers.length] : answers[0])(request, body, respond));
    });
    const bridge = new ModbusBridge({ url: server.url, comPort: 1, slave: 1 });
    const outcomes = [];
    const polling = bridge.poll([pdu.readHoldingRegisters(0, 10)], 0, (outcome) => outcomes.push(outcome));
    // Stopped while the seventh round is under way: stop() waits for it, whose outcome is not
    // handed over any more, and no round follows.
    await seventhSent.promise;
    await polling.stop();
    assert.equal(server.log.busy, 0, 'a round reached the bridge while the previous one was served');
    assert.deepEqual(outcomes.map((o) => (o.ok ? o.results[0][9] : o.error.code)), [9, 123, 9, 9, 123, 9]);
    assert.ok(outcomes.every((o) => o.ok || o.error instanceof BridgeError));
    assert.equal(server.log.received[0].request.poll_ms, 0, 'the poll period is what the bridge logs');
    // A round due after stop() would queue before the second of two further calls.
    await bridge.readHoldingRegisters(0, 10);
    await bridge.readHoldingRegisters(0, 10);
    assert.equal(server.log.received.length, 7 + 2, 'requests after stop()');
    assert.equal(outcomes.length, 6);
  });

  test('stopped between rounds, it sends nothing more', async () => {
    const server = await stand_in(echoing('holding registers 0..9'));
    const bridge = new ModbusBridge({ url: server.url, comPort: 1, slave: 1 });
    const first = deferred();
    const polling = bridge.poll([pdu.readHoldingRegisters(0, 10)], 0, first.resolve);
    await first.promise;
    await polling.stop();
    await bridge.readHoldingRegisters(0, 10);
    await bridge.readHoldingRegisters(0, 10);
    assert.equal(server.log.received.length, 1 + 2, 'requests after stop()');
  });

  test('a period that is no number is refused at once', () => {
    const bridge = new ModbusBridge({ comPort: 1, slave: 1 });
    assert.throws(() => bridge.poll([pdu.readDeviceSection()], -1, () => {}), RangeError);
    assert.throws(() => bridge.poll([pdu.readDeviceSection()], 100), TypeError);
  });
});
