// Calls a page can cancel, the card watch, and the errors that say why no reply came: against the
// real program where it can be put in the state, else against a stub of the service.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { freePort } from '../pages/real_program.mjs';
import { callNames, clientOf, Kavenor, NodeWebSocket, ON_PORT_1, rejectsWith, sleep, startProgram, stubService, until } from './support.mjs';

const SAM = '05.01-00002019-0000123456-0000000007';
const NO_CARD = { ...ON_PORT_1, card: 0 };
const SAM_CYCLE = ['ORV_InitComm', 'ORV_GetSAMID', 'ORV_CloseComm'];

describe('cancel and watch', () => {
  let program;
  before(async () => { program = await startProgram({ model: 0, scenarios: { ORV5U: ON_PORT_1 } }); });
  after(async () => { await program.stop(); });

  it('an aborted queued call is never sent; the call before it is not disturbed', async () => {
    program.setScenario('ORV5U', { ...ON_PORT_1, 'delay.ORV_GetSAMID': 400 });
    const client = clientOf(program);
    const cancel = new AbortController();
    const [first, queued] = [client.readSecurityModuleNumber(), client.readCard({ signal: cancel.signal })];
    await sleep(50);
    cancel.abort();
    assert.equal((await rejectsWith(queued, 'ABORTED')).command, '3?format=json');
    assert.equal((await first).number, SAM);
    // A signal aborted before the call: nothing at all.
    await rejectsWith(client.readCard({ signal: AbortSignal.abort() }), 'ABORTED');
    assert.deepEqual(client.log, ['socket', 'send 5', `reply ${SAM}`]);
    client.close();
  });

  it('an aborted waiting read ends on the service: no attempt after it, and the next call is answered', async () => {
    program.setScenario('ORV5U', NO_CARD);
    const client = clientOf(program);
    const cancel = new AbortController();
    const waiting = client.waitForCard(60000, { signal: cancel.signal });
    await until(() => callNames(program, 'ORV5U').includes('ORV_Authenticate'));
    cancel.abort();
    await rejectsWith(waiting, 'ABORTED');
    program.setScenario('ORV5U', ON_PORT_1);
    assert.equal((await clientOf(program).readSecurityModuleNumber()).number, SAM);
    const attempts = callNames(program, 'ORV5U').filter((name) => name === 'ORV_Authenticate').length;
    await sleep(1500);   // the wait tried again every 500 ms
    const names = callNames(program, 'ORV5U');
    assert.equal(names.filter((name) => name === 'ORV_Authenticate').length, attempts);
    assert.deepEqual(names.slice(-3), SAM_CYCLE);
    // The same client goes on with a new connection.
    assert.equal((await client.readCard()).name, '张三丰');
    client.close();
  });

  it('watchCards reports each card put on the reader once, lets other pages in, and ends with its signal', async () => {
    program.setScenario('ORV5U', NO_CARD);
    const client = clientOf(program);
    const cards = [];
    const cancel = new AbortController();
    const watching = client.watchCards((card) => cards.push(card.name), { signal: cancel.signal, waitMs: 400 });
    await until(() => callNames(program, 'ORV5U').includes('ORV_Authenticate'));
    program.setScenario('ORV5U', ON_PORT_1);
    await until(() => cards.length === 1);
    // The card lies on: read again and again, reported once.
    const reads = () => callNames(program, 'ORV5U').filter((name) => name === 'GetPeopleNameU').length;
    await until(() => reads() >= 3);
    assert.deepEqual(cards, ['张三丰']);
    // Another page is served meanwhile.
    assert.equal((await clientOf(program).readSecurityModuleNumber()).number, SAM);
    // Taken away (a whole wait passes without it) and put back: reported again.
    program.setScenario('ORV5U', NO_CARD);
    await until(() => client.log.some((line) => line === 'reply 读卡失败'));
    program.setScenario('ORV5U', ON_PORT_1);
    await until(() => cards.length === 2);
    cancel.abort();
    assert.equal(await watching, undefined);
    client.close();
  });
});

describe('why no reply came', () => {
  it('a text that is no command of the service is refused before it is sent; a command is sent', async () => {
    const client = clientOf({ wsUrl: `ws://127.0.0.1:${await freePort()}` });
    for (const text of ['hello', '1', '10', 'a', '0', '?timeout=5', '+', '0x', '1?3', '100000003']) {
      assert.equal((await rejectsWith(client.sendCommand(text), 'UNKNOWN_COMMAND')).command, text);
    }
    assert.deepEqual(client.log, []);
    // As the service reads the number: blanks, a sign, 0x, leading zeros (a minus counts down from 2^32).
    for (const text of ['3', ' 9', '0x3', '+8', '00000003', '2?timeout=5', '3x', '-fffffffe']) {
      await rejectsWith(client.sendCommand(text), 'CONNECTION_FAILED');
    }
    assert.equal(client.log.length, 8);
  });

  // In Node, neither the status request nor a plain client names a site: both count as one.
  it('behind a page of another site: SERVICE_BUSY with what runs and waits; behind one of its own: TIMEOUT', async () => {
    const site = 'https://a.example';
    const program = await startProgram({ model: 0, security: { AllowedOrigins: site, AskOperator: 0 },
      scenarios: { ORV5U: { ...ON_PORT_1, 'delay.ORV_GetSAMID': 2000 } } });
    const of = (origin, options) => new Kavenor.KavenorClient({ url: program.wsUrl, ...options,
      WebSocket: class extends NodeWebSocket { constructor(url) { super(url, undefined, origin); } } });
    const samReads = () => callNames(program, 'ORV5U').filter((name) => name === 'ORV_GetSAMID').length;
    try {
      for (const [longFrom, code] of [[site, 'SERVICE_BUSY'], [undefined, 'TIMEOUT']]) {
        const reads = samReads();
        const long = of(longFrom).readSecurityModuleNumber();
        await until(() => samReads() > reads);
        const error = await rejectsWith(of(undefined, { timeoutMs: 300 }).readCard(), code);
        if (code === 'SERVICE_BUSY') {
          assert.deepEqual(error.busy, { running: true, waiting: 0 });
          assert.match(error.meaning.en, /busy with pages of other sites: one of their commands is running/);
        }
        assert.equal((await long).number, SAM);
      }
    } finally {
      await program.stop();
    }
  });

  // status /status answers, reply to the command (none: no reply), the error expected
  const TOO_OLD = [
    ['its /status tells an older version', { version: '1.0.0' }, undefined],
    ['it answers the card in text where JSON was asked', {}, 'ORV5U|大厅|身份证|张三|男'],
  ];
  for (const [how, status, reply] of TOO_OLD) {
    it(`a service too old for the library (${how}): VERSION_MISMATCH, the service to update`, async () => {
      const stub = await stubService({ status, reply });
      try {
        const client = new Kavenor.KavenorClient({ url: stub.url, WebSocket: NodeWebSocket, timeoutMs: 300 });
        const error = await rejectsWith(client.readCard(), 'VERSION_MISMATCH');
        assert.deepEqual(error.requiresUpdate, { service: true, library: false });
        assert.equal(error.serviceVersion, status.version ?? null);
        assert.ok(error.meaning.en.includes(Kavenor.SERVICE_VERSION_REQUIRED));
        client.close();
      } finally {
        stub.close();
      }
    });
  }
});
