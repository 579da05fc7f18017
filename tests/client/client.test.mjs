// The client's own behaviour: one command at a time in call order, time-outs that leave the next call
// working, parameter checks before sending, connection failures and their likely reasons; how the
// file loads; hand-written records the program does not send.
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import { after, before, describe, it } from 'node:test';
import vm from 'node:vm';
import { freePort } from '../pages/real_program.mjs';
import { clientOf, clientPath, clientSource, Kavenor, NodeWebSocket, ON_PORT_1, rejectsWith, sleep, startProgram, stubService } from './support.mjs';

const SAM = '05.01-00002019-0000123456-0000000007';

describe('the command queue, time-outs and the connection', () => {
  let program;
  before(async () => { program = await startProgram({ model: 0, scenarios: { ORV5U: ON_PORT_1 } }); });
  after(async () => { await program.stop(); });

  it('calls made together are sent one at a time, each after the reply before it, and answered in order', async () => {
    program.setScenario('ORV5U', { ...ON_PORT_1, delay_ms: 40 });
    const client = clientOf(program);
    const results = await Promise.all([client.readSecurityModuleNumber(), client.readCard(),
      client.requestMemoryCard().catch((e) => e.code), client.sendCommand('5')]);
    client.close();
    assert.deepEqual([results[0].number, results[1].name, results[2], results[3]], [SAM, '张三丰', 'NOT_SUPPORTED', SAM]);
    assert.deepEqual(client.log.map((line) => line.slice(0, 12)),
      ['socket', 'send 5', `reply ${SAM.slice(0, 6)}`, 'send 3?forma', 'reply {"read', 'send 6', 'reply 设备无此功能', 'send 5', `reply ${SAM.slice(0, 6)}`]);
  });

  it('a call without a reply in time rejects with TIMEOUT; its late reply is not taken for the next call', async () => {
    program.setScenario('ORV5U', { ...ON_PORT_1, 'delay.ORV_Authenticate': 1500 });
    const states = [];
    const client = clientOf(program, { onStateChange: (state, error) => states.push(`${state} ${error?.code ?? ''}`) });
    const started = Date.now();
    const [late, next] = [client.readCard({ timeoutMs: 300 }), client.readSecurityModuleNumber()];
    const error = await rejectsWith(late, 'TIMEOUT');
    assert.ok(Date.now() - started >= 300);
    assert.deepEqual([error.command, error.reply], ['3?format=json', null]);
    assert.equal((await next).number, SAM);   // after the service has finished the read
    assert.deepEqual(client.log, ['socket', 'send 3?format=json', 'socket', 'send 5', `reply ${SAM}`]);
    assert.deepEqual(states, ['connecting ', 'open ', 'closed TIMEOUT', 'connecting ', 'open ']);
    client.close();
    assert.equal(client.state, 'closed');
  });

  it('the waiting read allows its waiting time on top of the time-out, and answers once a card is placed', async () => {
    program.setScenario('ORV5U', { ...ON_PORT_1, card: 0 });
    const client = clientOf(program, { timeoutMs: 400 });
    let started = Date.now();
    await rejectsWith(client.waitForCard(1500), 'WAIT_EXPIRED');
    assert.ok(Date.now() - started >= 1500);
    started = Date.now();
    const reading = client.waitForCard(20000);
    await sleep(800);
    program.setScenario('ORV5U', ON_PORT_1);
    assert.equal((await reading).idNumber, '110101199001010000');
    assert.ok(Date.now() - started >= 800);
    client.close();
  });

  it('close() rejects the call awaiting its reply and those queued; a later call connects again', async () => {
    program.setScenario('ORV5U', { ...ON_PORT_1, 'delay.ORV_GetSAMID': 400 });
    const client = clientOf(program);
    const [first, queued] = [client.readSecurityModuleNumber(), client.readCard()];
    await sleep(150);
    client.close();
    assert.equal((await rejectsWith(first, 'CONNECTION_CLOSED')).command, '5');
    await rejectsWith(queued, 'CONNECTION_CLOSED');
    assert.equal((await client.readSecurityModuleNumber()).number, SAM);
    assert.deepEqual(client.log, ['socket', 'send 5', 'socket', 'send 5', `reply ${SAM}`]);
    client.close();
  });

  it('no service at the address: CONNECTION_FAILED, not reachable, and the next call tries again', async () => {
    const url = `ws://127.0.0.1:${await freePort()}`;
    const client = clientOf({ wsUrl: url });
    const error = await rejectsWith(client.readCard(), 'CONNECTION_FAILED');
    assert.deepEqual([error.reason, error.command], ['SERVICE_UNREACHABLE', '3?format=json']);
    assert.ok(error.message.includes(url) && error.meaning.zh.includes(url));
    await rejectsWith(client.connect(), 'CONNECTION_FAILED');
    assert.equal((await rejectsWith(clientOf({ wsUrl: 'http://127.0.0.1' }).readCard(), 'CONNECTION_FAILED')).reason, 'INVALID_URL');
    assert.deepEqual(client.log, ['socket', 'socket']);
  });

  it('the program ends during a call: CONNECTION_CLOSED, the outcome unknown', async () => {
    const doomed = await startProgram({ model: 0, scenarios: { ORV5U: { ...ON_PORT_1, 'delay.ORV_Authenticate': 3000 } } });
    const client = clientOf(doomed);
    const reading = client.readCard();
    await sleep(300);
    await doomed.stop();
    assert.equal((await rejectsWith(reading, 'CONNECTION_CLOSED')).command, '3?format=json');
    assert.equal(client.state, 'closed');
  });

  it('a site the operator has refused: OPERATOR_REFUSED, and no command reaches the reader', async () => {
    const guarded = await startProgram({ model: 0, security: { DeniedOrigins: 'https://evil.example' }, scenarios: { ORV5U: ON_PORT_1 } });
    try {
      class FromEvil extends NodeWebSocket {
        constructor(url) { super(url, undefined, 'https://evil.example'); }
      }
      const client = new Kavenor.KavenorClient({ url: guarded.wsUrl, WebSocket: FromEvil });
      assert.equal((await rejectsWith(client.readSecurityModuleNumber(), 'OPERATOR_REFUSED')).command, '5');
      assert.equal(existsSync(join(guarded.dir, 'ORV5U', 'calls.log')), false);
    } finally {
      await guarded.stop();
    }
  });

  it('the operator is being asked: a call that times out, or a connection closed unanswered, is OPERATOR_WAITING', async () => {
    for (const [options, closeWith] of [[{ timeoutMs: 300 }, undefined], [{}, 'no answer from the operator']]) {
      const stub = await stubService({ status: { access: 'asking' }, closeWith });
      try {
        const client = new Kavenor.KavenorClient({ url: stub.url, WebSocket: NodeWebSocket, ...options });
        assert.equal((await rejectsWith(client.readCard(), 'OPERATOR_WAITING')).command, '3?format=json');
      } finally {
        stub.close();
      }
    }
    // Only when the service says so: a slow reader stays a TIMEOUT.
    const stub = await stubService({ status: { access: 'allowed' } });
    try {
      const client = new Kavenor.KavenorClient({ url: stub.url, WebSocket: NodeWebSocket, timeoutMs: 300 });
      await rejectsWith(client.readCard(), 'TIMEOUT');
    } finally {
      stub.close();
    }
  });
});

describe('parameters', () => {
  // method, arguments, the parameter refused
  const REFUSED = [
    ['readMemoryBlock', ['fffffffffff', 4], 'key'], ['readMemoryBlock', ['fffffffffffff', 4], 'key'],
    ['readMemoryBlock', ['0xffffffffff', 4], 'key'], ['readMemoryBlock', [[255, 255, 255, 255, 255, 256], 4], 'key'],
    ['readMemoryBlock', ['ffffffffffff', 256], 'block'], ['readMemoryBlock', ['ffffffffffff', -1], 'block'],
    ['readMemoryBlock', ['ffffffffffff', 4.5], 'block'], ['readMemoryBlock', ['ffffffffffff', '4a'], 'block'],
    ['readMemoryBlock', ['ffffffffffff'], 'block'], ['writeMemoryBlock', ['ffffffffffff', 4, '00'.repeat(15)], 'data'],
    ['writeMemoryBlock', ['ffffffffffff', 4, '0'.repeat(31) + 'x'], 'data'], ['writeMemoryBlock', ['ffffffffffff', 4, new Uint8Array(17)], 'data'],
    ['waitForCard', [-1], 'waitMs'], ['waitForCard', [2 ** 31], 'waitMs'], ['waitForCard', ['1000'], 'waitMs'],
    ['readCard', [{ timeoutMs: 0 }], 'timeoutMs'], ['sendCommand', [''], 'command'],
  ];
  for (const [method, args, parameter] of REFUSED) {
    it(`${method}(${args.map((a) => JSON.stringify(a)).join(', ')}) is refused before anything is sent`, async () => {
      const client = clientOf({ wsUrl: 'ws://127.0.0.1:9' });
      assert.equal((await rejectsWith(client[method](...args), 'INVALID_PARAMETER')).parameter, parameter);
      assert.deepEqual([client.log, client.state], [[], 'closed']);
    });
  }

  it('keys, blocks and data in every accepted form make the command texts', () => {
    const { commands } = Kavenor;
    assert.equal(commands.readMemoryBlock(' A0 a1 A2 a3 a4 a5 ', '63'), '7?Key=a0a1a2a3a4a5|Block=63');
    assert.equal(commands.readMemoryBlock(new Uint8Array([0, 1, 2, 0xab, 0xcd, 0xef]), 0), '7?Key=000102abcdef|Block=0');
    assert.equal(commands.writeMemoryBlock([15, 16, 17, 18, 19, 20], 255, new Uint8Array(16).fill(9)), `8?Key=0f1011121314|Block=255|WriteBuf=${'09'.repeat(16)}`);
    assert.deepEqual([commands.waitForCard(0), commands.waitForCard(2 ** 31 - 1), commands.readCardWithoutCheck(), commands.readBankCardNumber()],
      ['2?timeout=0|format=json', '2?timeout=2147483647|format=json', '4?format=json', '9']);
    assert.throws(() => new Kavenor.KavenorClient({ timeoutMs: -1 }), (e) => e.code === 'INVALID_PARAMETER');
  });
});

describe('card records the program does not send', () => {
  const RECORD = { readerModel: 'ORV-9X', deviceName: 'd', kind: 'J', kindLabel: '港澳台居住证（J）', name: '张三',
    issueCount: 2, validFrom: null, validTo: null, photo: '/9j/' + 'A'.repeat(296), future: { x: 1 } };

  it('a record of a model or field the client does not know: the fields it knows, the pictures by their type', () => {
    const card = Kavenor.parseReply('3?format=json', JSON.stringify(RECORD));
    assert.deepEqual([card.readerModel, card.deviceName, card.kind, card.kindName, card.name, card.issueCount],
      ['ORV-9X', 'd', 'J', Kavenor.CERTIFICATE_KINDS.J, '张三', 2]);
    assert.deepEqual([card.photo.slice(0, 23), card.cardFront, card.sex, card.missingFields],
      ['data:image/jpeg;base64,', null, null, ['validFrom', 'validTo']]);
    assert.equal('future' in card, false);
  });

  it('texts that are no reply to their command are UNEXPECTED_REPLY; a text record where JSON was asked, VERSION_MISMATCH', () => {
    for (const [command, reply] of [['3?format=json', 'hello'], ['3?format=json', '{"readerModel":'], ['4?format=json', '[1,2]'],
      ['3?format=json', '{"name":"张三"}'], ['3', 'ORV5U|x|身份证|张三'], ['6', '04 03 02 01 '], ['7', '04 03 02 01 |00 '],
      ['8', '04 03 02 01 |'], ['9', '6222021234567890123'], ['5', '05.01|x']]) {
      assert.throws(() => Kavenor.parseReply(command, reply), (e) => e.code === 'UNEXPECTED_REPLY' && e.reply === reply, reply);
    }
    const old = Kavenor.parseReply.bind(null, '2?timeout=5|format=json', 'ORV5U|x|身份证|张三');
    assert.throws(old, (e) => e.code === 'VERSION_MISMATCH' && e.requiresUpdate.service && e.serviceVersion === null);
    assert.deepEqual(['Qk0', '/9j/4', 'iVBORw0KGgoA', 'AAAA'].map(Kavenor.imageMimeType), ['image/bmp', 'image/jpeg', 'image/png', null]);
  });
});

describe('loading and the service address', () => {
  const NAMES = Object.keys(createRequire(import.meta.url)(clientPath)).sort();

  it('require() and an import of the UMD file, the ES module and a classic script all give the same names', async () => {
    assert.ok(NAMES.includes('KavenorClient') && NAMES.includes('parseCardReply'), NAMES.join());
    const imported = await import(clientPath);
    assert.deepEqual(NAMES.filter((name) => imported[name] === undefined), []);
    assert.deepEqual(Object.keys(Kavenor).sort(), NAMES);
    const context = vm.createContext({});
    vm.runInContext(clientSource(), context);
    assert.deepEqual(Object.keys(context), ['Kavenor']);
    assert.deepEqual(Object.keys(context.Kavenor).sort(), NAMES);
  });

  it('the default address is the service\'s usual one, whatever the page\'s own', () => {
    assert.equal(Kavenor.defaultServiceUrl(), 'ws://127.0.0.1:7415');
    assert.equal(new Kavenor.KavenorClient().url, 'ws://127.0.0.1:7415');
  });

  it('the likely reason of a failed connection follows the page, the address and the permission', () => {
    const LOCAL = 'ws://127.0.0.1:7415';
    for (const [pageUrl, serviceUrl, permission, reason] of [
      [null, LOCAL, null, 'SERVICE_UNREACHABLE'], ['http://localhost:3000/app', LOCAL, 'denied', 'SERVICE_UNREACHABLE'],
      ['file:///C:/read.html', LOCAL, null, 'SERVICE_UNREACHABLE'], ['http://192.168.1.20/app', LOCAL, 'granted', 'INSECURE_PAGE'],
      ['https://a.example/', LOCAL, 'denied', 'LOCAL_NETWORK_DENIED'], ['https://a.example/', LOCAL, 'prompt', 'LOCAL_NETWORK_NOT_ALLOWED'],
      ['https://a.example/', LOCAL, 'granted', 'SERVICE_UNREACHABLE'], ['https://a.example/', 'ws://192.168.1.5:7415', null, 'MIXED_CONTENT'],
      ['http://192.168.1.5:7415/', 'ws://192.168.1.5:7415', null, 'SERVICE_UNREACHABLE'], ['https://a.example/', 'nonsense', null, 'INVALID_URL'],
    ]) {
      assert.equal(Kavenor.diagnoseConnectionFailure({ pageUrl, serviceUrl, permission }), reason, `${pageUrl} ${serviceUrl} ${permission}`);
    }
  });
});
