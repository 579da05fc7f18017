// Replies of the real program with the simulated reader, read through the client: every certificate
// kind on every reader model as JSON records, SDKs that lack a getter, every failure text, and the
// memory-card, bank-card and security-module replies.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { bmpSize, clientOf, Kavenor, ON_PORT_1, rejectsWith, startProgram } from './support.mjs';

// Each getter its own text, so that a field in the wrong place shows.
const CARD = {
  ...ON_PORT_1, GetPeopleNameU: 'ZHANG SAN', GetStandbyENameU: 'JR', GetPassCheckIDU: 'H12345678',
  GetOldIDCardNumberU: 'OLD-987', GetIssuesNumU: 3, GetPeopleSexU: '男', GetPeopleNationU: '汉',
  GetPeopleBirthdayU: '19900101', GetPeopleAddressU: '示例路1号', GetPeopleIDCodeU: '110101199001010000',
  GetDepartmentU: '东城分局', GetStartDateU: '20200101', GetEndDateU: '20400101', GetNewAppMsgU: '迁至示例路2号',
  GetPeopleChineseNameU: '张三', GetPeopleCertVersionU: '02', GetNationCodeU: 'CHN',
};
const FIELDS = {
  name: 'ZHANG SAN', passNumber: 'H12345678', oldCardNumber: null, issueCount: 3, sex: '男', nation: '汉',
  birthDate: '19900101', address: '示例路1号', idNumber: '110101199001010000', authority: '东城分局',
  validFrom: '20200101', validTo: '20400101', appendedMessage: '迁至示例路2号', chineseName: '张三',
  certVersion: '02', nationCode: 'CHN',
};
const Y = { name: 'ZHANG SANJR', passNumber: null, oldCardNumber: 'OLD-987' };
const MODELS = { 0: ['ORV5U', 'ORV5U', '大厅1'], 1: ['ORV5A', 'ORV-5A', ''], 2: ['ORV5A', 'ORV-5A', ''],
  3: ['ORV5ULN', 'ORV-5U-HID', ''], 7: ['ORV5A', '', ''] };
const KEY = 'ffffffffffff';

function checkCard(card, model, expected, missing = []) {
  const [, tag, device] = MODELS[model];
  assert.equal(card.readerModel, tag);
  assert.equal(card.deviceName, expected.deviceName ?? device);
  for (const [key, value] of Object.entries({ ...FIELDS, ...expected })) assert.equal(card[key], value, key);
  assert.deepEqual(card.missingFields, missing);
  if (!('fingerprint' in expected)) assert.match(card.fingerprint, /^[A-Za-z0-9+/]{1366}==$/);
  if (!('photo' in expected)) assert.deepEqual(bmpSize(card.photo), [102, 126]);
  assert.deepEqual(card.cardBack && bmpSize(card.cardBack), tag === 'ORV5U' ? [428, 270] : null);
  assert.deepEqual([JSON.parse(card.raw).readerModel, JSON.parse(card.raw).deviceName], [card.readerModel, card.deviceName]);
}

describe('replies of the real program', () => {
  const programs = {};
  before(async () => {
    for (const model of [0, 1, 2, 3, 7]) programs[model] = await startProgram({ model, scenarios: { [MODELS[model][0]]: CARD } });
  });
  after(async () => { for (const p of Object.values(programs)) await p.stop(); });

  // Sets the model's scenario, then runs `call` on a fresh client.
  async function ask(model, lines, call) {
    programs[model].setScenario(MODELS[model][0], { ...CARD, ...lines });
    const client = clientOf(programs[model]);
    try { return await call(client); } finally { client.close(); }
  }

  // model, type letter, label, expected fields
  const KINDS = [
    [0, '', '身份证', { kind: 'resident', issueCount: null }], [0, 'I', '外国人永久居留身份证（I）', { kind: 'I', issueCount: null }],
    [0, 'J', '港澳台居民居住证（J）', { kind: 'J' }], [0, 'Y', '新版外国人永久居留身份证（Y）', { kind: 'Y', ...Y }],
    [1, '', '身份证', { kind: 'resident' }], [1, 'I', '外国人永久居住证（I）', { kind: 'I' }],
    [1, 'J', '港澳台居住证（J）', { kind: 'J' }], [1, 'Y', '身份证', { kind: 'resident' }], [2, 'I', '外国人永久居住证（I）', { kind: 'I' }],
    [3, '', '身份证', { kind: 'resident' }], [3, 'I', '外国人永久居住证（I）', { kind: 'I' }],
    [3, 'J', '港澳台居住证（J）', { kind: 'J' }], [3, 'Y', '身份证', { kind: 'resident' }],
  ];
  for (const [model, letter, label, expected] of KINDS) {
    it(`model ${model}, type letter "${letter}": ${label}, by commands 3, 4 and 2`, async () => {
      const cards = await ask(model, { GetCertTypeU: letter },
        async (c) => [await c.readCard(), await c.readCardWithoutCheck(), await c.waitForCard(5000)]);
      for (const card of cards) checkCard(card, model, { kindLabel: label, kindName: Kavenor.CERTIFICATE_KINDS[expected.kind], ...expected });
    });
  }

  // model, scenario lines, expected fields, fields missing
  const LAYOUTS = [
    [1, { 'result.GetIssuesNumU': 0 }, { issueCount: null }, ['issueCount']],
    [0, { 'result.GetIssuesNumU': 0, GetCertTypeU: 'J' }, { kind: 'J', issueCount: null }, ['issueCount']],
    [0, { GetFPDate: '0000', Getbase64BMPDataU: '' }, { fingerprint: '', photo: null, issueCount: null }, []],
    [3, { GetFPDate: '', GetNationCodeU: '' }, { fingerprint: '', nationCode: '' }, []],
  ];
  for (const [model, lines, expected, missing] of LAYOUTS) {
    it(`model ${model}, ${JSON.stringify(lines)}: ${missing.join(', ') || 'no field'} missing`, async () => {
      checkCard(await ask(model, lines, (c) => c.readCard()), model, expected, missing);
    });
  }

  // model, SDK variant or device name, scenario lines, expected fields, fields missing
  const PROGRAMS = [
    [0, { sdk: 'no_GetEndDateU' }, {}, { validFrom: null, validTo: null, issueCount: null }, ['validFrom', 'validTo']],
    [1, { sdk: 'no_GetEndDateU' }, { 'result.GetIssuesNumU': 0 }, { validFrom: null, validTo: null, issueCount: null },
      ['validFrom', 'validTo', 'issueCount']],
    [0, { sdk: 'no_GetFPDate' }, {}, { fingerprint: null, issueCount: null }, ['fingerprint']],
    [3, { sdk: 'no_GetFPDate' }, { GetCertTypeU: 'J' }, { fingerprint: null, kind: 'J' }, ['fingerprint']],
    [0, { sdk: 'no_GetIssuesNumU' }, { GetCertTypeU: 'Y' }, { kind: 'Y', ...Y, issueCount: null }, ['issueCount']],
    [0, { sdk: 'no_GetIssuesNumU' }, {}, { kind: 'resident', issueCount: null }, []],
    [0, { deviceName: '大厅|身份证' }, { GetCertTypeU: 'J' }, { kind: 'J', deviceName: '大厅|身份证' }, []],
    [0, { deviceName: '|' }, {}, { kind: 'resident', deviceName: '|', issueCount: null }, []],
  ];
  for (const [model, { sdk, deviceName }, lines, expected, missing] of PROGRAMS) {
    it(`model ${model} with ${sdk ?? `device name "${deviceName}"`}, ${JSON.stringify(lines)}`, async () => {
      const folder = MODELS[model][0];
      const program = await startProgram({ model, deviceName, sdk: sdk && { [folder]: sdk }, scenarios: { [folder]: { ...CARD, ...lines } } });
      try {
        const client = clientOf(program);
        checkCard(await client.readCard(), model, expected, missing);
        client.close();
      } finally { await program.stop(); }
    });
  }

  it('an SDK without GetCertTypeU: the card is read but has no content; the waiting read runs out', async () => {
    const program = await startProgram({ model: 0, sdk: { ORV5U: 'no_GetCertTypeU' }, scenarios: { ORV5U: CARD } });
    try {
      const client = clientOf(program);
      const error = await rejectsWith(client.readCard(), 'CERT_TYPE_UNAVAILABLE');
      assert.equal(error.reply, 'ORV5U|大厅1|ORV_GetCertTypeU函数找不到');
      assert.deepEqual([error.card.readerModel, error.card.deviceName], ['ORV5U', '大厅1']);
      await rejectsWith(client.waitForCard(600), 'WAIT_EXPIRED');
      client.close();
    } finally { await program.stop(); }
  });

  // model, scenario lines, call, error code, command sent
  const FAILURES = [
    [0, { ports: '' }, (c) => c.readCard(), 'NO_READER', '3?format=json'],
    [0, { card: 0 }, (c) => c.readCard(), 'CARD_AUTH_FAILED', '3?format=json'],
    [0, { 'result.ORV_Read_Content': 0 }, (c) => c.readCard(), 'READ_FAILED', '3?format=json'],
    [1, { 'result.ORV_Read_FPContent': 0 }, (c) => c.readCardWithoutCheck(), 'READ_FAILED', '4?format=json'],
    [1, { card: 0 }, (c) => c.waitForCard(700), 'WAIT_EXPIRED', '2?timeout=700|format=json'],
    [0, {}, (c) => c.requestMemoryCard(), 'NOT_SUPPORTED', '6'],
    [3, {}, (c) => c.readMemoryBlock(KEY, 4), 'NOT_SUPPORTED', `7?Key=${KEY}|Block=4`],
    [1, {}, (c) => c.readSecurityModuleNumber(), 'NO_SAM', '5'],
    [0, { sam: '5-1-2019-123456' }, (c) => c.readSecurityModuleNumber(), 'SAM_FAILED', '5'],
    [1, { card: 0 }, (c) => c.requestMemoryCard(), 'M1_AUTH_FAILED', '6'],
    [1, {}, (c) => c.readMemoryBlock('a0a1a2a3a4a5', 4), 'M1_READ_FAILED', '7?Key=a0a1a2a3a4a5|Block=4'],
    [1, { card: 0 }, (c) => c.writeMemoryBlock(KEY, 5, '11'.repeat(16)), 'M1_WRITE_FAILED', `8?Key=${KEY}|Block=5|WriteBuf=${'11'.repeat(16)}`],
    [1, { card: 0 }, (c) => c.readBankCardNumber(), 'BANK_READ_FAILED', '9'],
    [1, {}, (c) => c.sendCommand('7?Block=4').then((reply) => Kavenor.parseReply('7?Block=4', reply)), 'BAD_PARAMETERS', '7?Block=4'],
    [7, {}, (c) => c.readCard(), 'EMPTY_REPLY', '3?format=json'],
    [7, {}, (c) => c.waitForCard(600), 'WAIT_EXPIRED', '2?timeout=600|format=json'],
  ];
  for (const [model, lines, call, code, command] of FAILURES) {
    it(`model ${model}, ${JSON.stringify(lines)}: ${command} fails with ${code}`, async () => {
      const error = await rejectsWith(ask(model, lines, call), code);
      assert.deepEqual([error.reply, error.command, error.message], [Kavenor.ERROR_CODES[code].serviceText, command, Kavenor.ERROR_CODES[code].en]);
    });
  }

  it('every fixed failure text is met; an empty security-module reply is SAM_FAILED too', async () => {
    const met = new Set([...FAILURES.map((f) => f[3]), 'CERT_TYPE_UNAVAILABLE']);
    assert.deepEqual(Object.values(Kavenor.ERROR_CODES).filter((e) => e.serviceText !== null && !met.has(e.code)), []);
    const error = await rejectsWith(ask(3, { 'result.ORV_GetCompleteSAMID': 0 }, (c) => c.readSecurityModuleNumber()), 'SAM_FAILED');
    assert.equal(error.reply, '');
  });

  const id = { cardId: '04030201', cardIdBytes: new Uint8Array([4, 3, 2, 1]) };
  // model, scenario lines, call, expected object (raw included)
  const DATA = [
    [0, { sam: '12-34-123456789-1-2' }, (c) => c.readSecurityModuleNumber(), { number: '12.34-123456789-0000000001-0000000002',
      wellFormed: true, groups: ['12', '34', '123456789', '0000000001', '0000000002'], raw: '12.34-123456789-0000000001-0000000002' }],
    [3, { samraw: '0a00ff0001000000ffffffff07000000' }, (c) => c.readSecurityModuleNumber(), { number: '0A.FF-00000001-4294967295-0000000007',
      wellFormed: true, groups: ['0A', 'FF', '00000001', '4294967295', '0000000007'], raw: '0A.FF-00000001-4294967295-0000000007' }],
    [1, { 'bank.number': '12f34F', 'bank.second': '' }, (c) => c.readBankCardNumber(), { cardNumber: '1234F', secondField: '', raw: '1234F|' }],
    [1, { 'm1.id': 'abcdef12', 'm1.request': '0800' }, (c) => c.requestMemoryCard(), { cardId: '12efcdab',
      cardIdBytes: new Uint8Array([0x12, 0xef, 0xcd, 0xab]), request: '0800', requestBytes: new Uint8Array([8, 0]), raw: '12 ef cd ab |08 00 ' }],
    [1, { 'm1.key.200': '0102030405a6', 'm1.block.200': '000102030405060708090a0b0c0d0e0f' }, (c) => c.readMemoryBlock([1, 2, 3, 4, 5, 0xa6], '200'),
      { ...id, block: 200, data: '000102030405060708090a0b0c0d0e0f', bytes: new Uint8Array([...Array(16).keys()]),
        raw: '04 03 02 01 |00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ' }],
    [1, {}, (c) => c.writeMemoryBlock(KEY, 9, 'DEADBEEF 00112233 44556677 8899AABB').then(() => c.readMemoryBlock(KEY, 9)),
      { ...id, block: 9, data: 'deadbeef00112233445566778899aabb', bytes: new Uint8Array(Buffer.from('deadbeef00112233445566778899aabb', 'hex')),
        raw: '04 03 02 01 |de ad be ef 00 11 22 33 44 55 66 77 88 99 aa bb ' }],
    [1, {}, (c) => c.writeMemoryBlock(KEY, 0, new Uint8Array(16)), { ...id, block: 0, raw: '04 03 02 01 ' }],
  ];
  for (const [model, lines, call, expected] of DATA) {
    it(`model ${model}, ${JSON.stringify(lines)}: ${expected.raw}`, async () => {
      assert.deepEqual(await ask(model, lines, call), expected);
    });
  }
});
