/*
 * Kavenor client: reads identity cards, memory cards and bank cards through the Kavenor service
 * running on this computer, from a web page or from Node.
 *
 *   import { KavenorClient } from 'kavenor-client';
 *   const client = new KavenorClient();
 *   const card = await client.readCard();              // card.name, card.idNumber, card.photo ...
 *
 * This ES module is the one source: the package's UMD file (<script src>, require) is made from it.
 * No dependencies; plain ES2017.
 */

// The page's window in a browser, the global object elsewhere.
const root = globalThis;

// Set by the package build from the product's version.
var VERSION = '@VERSION@';
var DEFAULT_PORT = 7415;
var DEFAULT_TIMEOUT_MS = 10000;
// Long enough for the user to answer the browser's local-network prompt.
var DEFAULT_CONNECT_TIMEOUT_MS = 30000;
// The service keeps the waiting time as a signed 32-bit count.
var MAX_WAIT_MS = 2147483647;
// The first service version with JSON card records and GET /status.
var SERVICE_VERSION_REQUIRED = '1.1.0';
// watchCards: how long each waiting read lasts, the pause after a failure before the next, and
// after a read of the card reported last.
var WATCH_WAIT_MS = 5000;
var WATCH_RETRY_MS = 2000;
var WATCH_SAME_CARD_MS = 1000;

// ---- errors ----

// code: [service text or null, Chinese meaning, English meaning]
var ERRORS = {
  NO_READER: ['连接设备失败',
    '读卡器没有连接上：请检查读卡器的 USB 线是否插好（可拔下再插上），并确认设置窗口里选的设备型号与所接读卡器一致。',
    'The reader is not connected: check its USB cable (unplug it and plug it in again) and that the reader model chosen in the settings window matches the reader.'],
  CARD_AUTH_FAILED: ['卡认证失败',
    '读卡区没有卡，或卡片无法识别：请把证件平放在读卡区中央，再读一次。',
    'No card on the reader, or the card was not recognised: lay the card flat in the middle of the reader and read again.'],
  READ_FAILED: ['读卡失败',
    '证件内容没有读出来：读卡时证件可能移动了，请放稳后再读一次。',
    'The card content could not be read: the card may have moved during the read; hold it still and read again.'],
  WAIT_EXPIRED: ['读卡失败',
    '在等待时间内没有读到证件：请把证件放到读卡区后重试，或把等待时间设长一些。',
    'No card was read within the waiting time: place the card on the reader and try again, or wait longer.'],
  NOT_SUPPORTED: ['设备无此功能',
    '当前设置的设备型号不支持这项操作：请在设置窗口里确认设备型号。',
    'The reader model set in the service does not offer this operation: check the reader model in the settings window.'],
  NO_SAM: ['设备无法获取安全模块号',
    '当前设置的设备型号不能查询安全模块号（只有 ORV5U 和 ORV5U-LN 可以）。',
    'The reader model set in the service cannot report a security-module number (only ORV5U and ORV5U-LN can).'],
  BAD_PARAMETERS: ['输入参数有误',
    '命令缺少必需的参数（密钥 Key 或写入数据 WriteBuf）。',
    'The command lacks a parameter the service requires (the key Key or the data WriteBuf).'],
  M1_AUTH_FAILED: ['M1卡认证失败',
    '没有找到 M1 卡：请把 M1 卡放到读卡区后重试。',
    'No memory card (M1) found: place it on the reader and try again.'],
  M1_READ_FAILED: ['读M1卡失败',
    '读块失败：卡片不在读卡区、密钥不对，或这一块不允许读。',
    'The block could not be read: the card is not on the reader, the key is wrong, or the block may not be read.'],
  M1_WRITE_FAILED: ['写M1卡失败',
    '写块失败：卡片不在读卡区、密钥不对，或这一块不允许写。',
    'The block could not be written: the card is not on the reader, the key is wrong, or the block may not be written.'],
  BANK_READ_FAILED: ['读金融卡失败',
    '没有读到银行卡号：请把银行卡（芯片卡）放到读卡区后重试。',
    'No bank-card number was read: place the bank card (chip card) on the reader and try again.'],
  SAM_FAILED: ['获取安全模块号失败',
    '读卡器返回的安全模块号格式不对：请拔插读卡器后重试，仍不行请联系设备供应商。',
    'The reader returned its security-module number in an unexpected form: unplug and replug the reader and try again; if that does not help, contact the device supplier.'],
  EMPTY_REPLY: ['',
    '服务返回了空回复：当前设置的设备型号不提供这项读取，请在设置窗口里检查设备型号。',
    'The service sent an empty reply: the reader model set in the service does not offer this read; check the reader model in the settings window.'],
  CERT_TYPE_UNAVAILABLE: ['ORV_GetCertTypeU函数找不到',
    '证件已读到，但读卡器的 SDK 没有提供证件类型函数（ORV_GetCertTypeU），无法取出证件内容：请换用完整的读卡器 SDK。',
    'The card was read, but the reader SDK lacks the certificate-type function (ORV_GetCertTypeU), so its content cannot be had: install the complete reader SDK.'],
  UNEXPECTED_REPLY: [null,
    '回复不是这条命令应有的格式。',
    'The reply does not have the form this command answers with.'],
  TIMEOUT: [null,
    '等待回复超时：读卡器没有在 timeoutMs 内完成这条命令（读卡器响应太慢）。连接已断开，下一条命令会重新连接。',
    'No reply in time: the reader did not finish this command within timeoutMs (a slow reader). The connection was dropped; the next call connects again.'],
  OPERATOR_WAITING: [null,
    '读卡服务询问了操作员是否允许本网站使用读卡器，但没有等到回答：请在读卡服务弹出的窗口中点“允许”，然后重试。',
    'The card-reader service asked its operator whether this site may use the reader, and no answer came: press “允许” (allow) in the window the service shows, then try again.'],
  OPERATOR_REFUSED: [null,
    '读卡服务的操作员拒绝了本网站使用读卡器。如需使用，请在读卡服务的设置窗口里移除这个网站，下次连接时再选“允许”。',
    'The operator of the card-reader service refused this site the use of the reader. To use it, remove the site in the service\'s settings window and choose “允许” (allow) when asked again.'],
  SERVICE_BUSY: [null,
    '读卡器正忙于其他网站的网页：它依次执行所有网页的命令，前面的命令还没有完成。请稍后重试，或把 timeoutMs 设长一些。',
    'The reader is busy with pages of other sites: it runs the commands of all pages one after another, and those ahead have not finished. Try again later, or allow a longer timeoutMs.'],
  VERSION_MISMATCH: [null,
    '本机的读卡服务版本太旧，不支持本网页的读卡库（需要 ' + SERVICE_VERSION_REQUIRED + ' 或更新的版本）：请更新 Kavenor。',
    'The card-reader service on this computer is too old for this page\'s client library (it needs ' + SERVICE_VERSION_REQUIRED + ' or later): update Kavenor.'],
  UNKNOWN_COMMAND: [null,
    '读卡服务不认识这条命令，命令没有发送：命令以命令号 2 到 9 开头，如 3 或 2?timeout=5000。',
    'The service does not know this command, so it was not sent: a command starts with its code, 2 to 9, as in 3 or 2?timeout=5000.'],
  ABORTED: [null, '调用已取消。', 'The call was cancelled.'],
  CONNECTION_FAILED: [null, '无法连接读卡服务。', 'Could not connect to the card-reader service.'],
  CONNECTION_CLOSED: [null,
    '等待回复时连接断开了，这条命令的结果不明。',
    'The connection closed before the reply arrived; the outcome of the command is unknown.'],
  INVALID_PARAMETER: [null, '参数有误，命令没有发送。', 'Invalid parameter; the command was not sent.'],
};

// Meanings that depend on the command: an empty reply to the security-module query.
var SAM_EMPTY = ['没有取得安全模块号：读卡器没有返回安全模块记录，请拔插读卡器后重试。',
  'No security-module number: the reader returned no security-module record; unplug and replug the reader and try again.'];

var ERROR_CODES = {};
Object.keys(ERRORS).forEach(function (code) {
  ERROR_CODES[code] = { code: code, serviceText: ERRORS[code][0], zh: ERRORS[code][1], en: ERRORS[code][2] };
});
Object.freeze(ERROR_CODES);

var CODE_BY_TEXT = {};
Object.keys(ERRORS).forEach(function (code) {
  var text = ERRORS[code][0];
  if (text && code !== 'WAIT_EXPIRED') CODE_BY_TEXT[text] = code;
});

class KavenorError extends Error {
  // details: { meaning: {zh, en}, reply, command, reason, parameter, card, cause, busy, requiresUpdate,
  //   serviceVersion }
  constructor(code, details) {
    details = details || {};
    var meaning = details.meaning || { zh: ERRORS[code][1], en: ERRORS[code][2] };
    super(meaning.en);
    this.name = 'KavenorError';
    this.code = code;
    this.meaning = meaning;
    this.reply = details.reply === undefined ? null : details.reply;
    this.command = details.command === undefined ? null : details.command;
    this.reason = details.reason || null;
    if (details.parameter) this.parameter = details.parameter;
    if (details.card) this.card = details.card;
    if (details.cause) this.cause = details.cause;
    if (details.busy) this.busy = details.busy;
    if (details.requiresUpdate) {
      this.requiresUpdate = details.requiresUpdate;
      this.serviceVersion = details.serviceVersion || null;
    }
  }
}

// The service is older than this library needs. serviceVersion: as /status tells it, when known.
function versionMismatch(serviceVersion, details) {
  details = details || {};
  details.requiresUpdate = { service: true, library: false };
  details.serviceVersion = serviceVersion;
  return new KavenorError('VERSION_MISMATCH', details);
}

// Whether version a (x.y.z) is older than b.
function olderThan(a, b) {
  var x = String(a).split('.').map(Number);
  var y = String(b).split('.').map(Number);
  for (var i = 0; i < 3; i++) {
    if ((x[i] || 0) !== (y[i] || 0)) return (x[i] || 0) < (y[i] || 0);
  }
  return false;
}

function invalidParameter(parameter, en, zh) {
  return new KavenorError('INVALID_PARAMETER', { parameter: parameter, meaning: { en: en, zh: zh } });
}

// The error a reply stands for, or null when it is data. command: the text or code sent.
function errorForReply(text, command) {
  var code = commandCode(command);
  if (typeof text !== 'string') {
    return new KavenorError('UNEXPECTED_REPLY', { reply: text, command: commandOrNull(command) });
  }
  var details = { reply: text, command: commandOrNull(command) };
  if (text === '') {
    if (code === '5') {
      details.meaning = { zh: SAM_EMPTY[0], en: SAM_EMPTY[1] };
      return new KavenorError('SAM_FAILED', details);
    }
    return new KavenorError('EMPTY_REPLY', details);
  }
  // The waiting read answers this same text when its time has run out.
  if (code === '2' && text === ERRORS.WAIT_EXPIRED[0]) return new KavenorError('WAIT_EXPIRED', details);
  if (Object.prototype.hasOwnProperty.call(CODE_BY_TEXT, text)) return new KavenorError(CODE_BY_TEXT[text], details);
  return null;
}

function commandCode(command) {
  if (command === undefined || command === null) return null;
  var text = String(command);
  var q = text.indexOf('?');
  return q < 0 ? text : text.slice(0, q);
}

// The command number the service reads from a command text: the text before "?" as a C library's
// strtoul reads it in base 16 (blanks, a sign, "0x", then hex digits; none gives 0). It knows 2 to 9.
function serviceCommandNumber(text) {
  var m = /^[ \t\n\v\f\r]*([+-]?)(?:0[xX](?=[0-9a-fA-F]))?([0-9a-fA-F]*)/.exec(commandCode(text));
  var digits = m[2].replace(/^0+/, '');
  if (digits.length > 8) return 4294967295;
  var n = digits ? parseInt(digits, 16) : 0;
  return m[1] === '-' ? (4294967296 - n) % 4294967296 : n;
}

function isKnownCommand(text) {
  var n = serviceCommandNumber(text);
  return n >= 2 && n <= 9;
}

function commandOrNull(command) {
  return command === undefined || command === null ? null : String(command);
}

// ---- commands ----

function checkKey(key) {
  var hex = bytesOrHex(key, 6);
  if (hex === null) {
    throw invalidParameter('key', 'The key must be 12 hexadecimal digits (6 bytes), for example ffffffffffff.',
      '密钥应当是 12 位十六进制数字（6 字节），例如 ffffffffffff。');
  }
  return hex;
}

function checkBlock(block) {
  var n = typeof block === 'string' && /^\s*\d+\s*$/.test(block) ? Number(block) : block;
  if (typeof n !== 'number' || !Number.isInteger(n) || n < 0 || n > 255) {
    throw invalidParameter('block', 'The block number must be an integer from 0 to 255.',
      '块号应当是 0 到 255 之间的整数。');
  }
  return n;
}

function checkData(data) {
  var hex = bytesOrHex(data, 16);
  if (hex === null) {
    throw invalidParameter('data', 'The block data must be 32 hexadecimal digits (16 bytes).',
      '写入数据应当是 32 位十六进制数字（16 字节）。');
  }
  return hex;
}

// A hex text (blanks allowed) or an array of bytes, as lower-case hex of exactly `count` bytes.
function bytesOrHex(value, count) {
  if (typeof value === 'string') {
    var hex = value.replace(/\s+/g, '');
    return new RegExp('^[0-9a-fA-F]{' + (count * 2) + '}$').test(hex) ? hex.toLowerCase() : null;
  }
  if (value && typeof value === 'object' && typeof value.length === 'number' && value.length === count) {
    var out = '';
    for (var i = 0; i < count; i++) {
      var b = value[i];
      if (typeof b !== 'number' || !Number.isInteger(b) || b < 0 || b > 255) return null;
      out += (b < 16 ? '0' : '') + b.toString(16);
    }
    return out;
  }
  return null;
}

function checkWait(waitMs) {
  if (typeof waitMs !== 'number' || !Number.isInteger(waitMs) || waitMs < 0 || waitMs > MAX_WAIT_MS) {
    throw invalidParameter('waitMs', 'The waiting time must be a whole number of milliseconds from 0 to 2147483647.',
      '等待时间应当是 0 到 2147483647 之间的整毫秒数。');
  }
  return waitMs;
}

function checkDuration(value, fallback, parameter) {
  if (value === undefined || value === null) return fallback;
  if (typeof value !== 'number' || !(value > 0) || value > MAX_WAIT_MS) {
    throw invalidParameter(parameter, parameter + ' must be a positive number of milliseconds.',
      parameter + ' 应当是正的毫秒数。');
  }
  return value;
}

// The command texts, checked as the client checks them; each throws INVALID_PARAMETER.
// The card reads ask for their record as JSON.
var commands = Object.freeze({
  waitForCard: function (waitMs) { return '2?timeout=' + checkWait(waitMs) + '|format=json'; },
  readCard: function () { return '3?format=json'; },
  readCardWithoutCheck: function () { return '4?format=json'; },
  readSecurityModuleNumber: function () { return '5'; },
  requestMemoryCard: function () { return '6'; },
  readMemoryBlock: function (key, block) {
    var k = checkKey(key);
    return '7?Key=' + k + '|Block=' + checkBlock(block);
  },
  writeMemoryBlock: function (key, block, data) {
    var k = checkKey(key);
    var b = checkBlock(block);
    return '8?Key=' + k + '|Block=' + b + '|WriteBuf=' + checkData(data);
  },
  readBankCardNumber: function () { return '9'; },
});

// ---- card records ----

var NO_CERT_TYPE = ERRORS.CERT_TYPE_UNAVAILABLE[0];

var READER_MODELS = Object.freeze({
  'ORV5U': { model: 'ORV5U', cardImages: true },
  'ORV-5A': { model: 'ORV5A', cardImages: false },
  'ORV-5U-HID': { model: 'ORV5U-LN', cardImages: false },
});

var CERTIFICATE_KINDS = Object.freeze({
  resident: 'Resident identity card',
  I: 'Foreigner\'s permanent residence identity card',
  J: 'Residence permit for residents of Hong Kong, Macao and Taiwan',
  Y: 'Foreigner\'s permanent residence identity card, new edition',
});

var IMAGE_FIELDS = ['photo', 'cardFront', 'cardBack'];
// Every field of a card object, in the order they are listed; the service names them the same.
var CARD_FIELDS = ['name', 'sex', 'nation', 'birthDate', 'address', 'idNumber', 'authority', 'validFrom',
  'validTo', 'appendedMessage', 'fingerprint', 'issueCount', 'passNumber', 'oldCardNumber', 'chineseName',
  'certVersion', 'nationCode', 'photo', 'cardFront', 'cardBack'];

// The picture type from the first bytes of its Base64 text, or null.
function imageMimeType(base64) {
  if (typeof base64 !== 'string') return null;
  if (base64.startsWith('Qk')) return 'image/bmp';
  if (base64.startsWith('/9j/')) return 'image/jpeg';
  if (base64.startsWith('iVBORw0KGgo')) return 'image/png';
  if (base64.startsWith('R0lGOD')) return 'image/gif';
  return null;
}

function dataUrl(base64) {
  if (!base64) return null;
  return 'data:' + (imageMimeType(base64) || 'image/bmp') + ';base64,' + base64;
}

function isPlainObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

// The card of a record the service sent as JSON (the command asked with format=json).
function cardOfJson(record, text) {
  var card = { readerModel: record.readerModel, deviceName: typeof record.deviceName === 'string' ? record.deviceName : '' };
  card.kind = Object.prototype.hasOwnProperty.call(CERTIFICATE_KINDS, record.kind) ? record.kind : null;
  card.kindLabel = typeof record.kindLabel === 'string' ? record.kindLabel : '';
  card.kindName = card.kind ? CERTIFICATE_KINDS[card.kind] : null;
  card.missingFields = [];
  CARD_FIELDS.forEach(function (key) {
    var value = Object.prototype.hasOwnProperty.call(record, key) ? record[key] : undefined;
    // null: a field of this kind that the reader's SDK cannot deliver; absent: not of this kind.
    if (value === null) card.missingFields.push(key);
    if (IMAGE_FIELDS.indexOf(key) >= 0) card[key] = typeof value === 'string' ? dataUrl(value) : null;
    else if (key === 'issueCount') card[key] = typeof value === 'number' ? value : null;
    else card[key] = typeof value === 'string' ? value : null;
  });
  card.raw = text;
  return card;
}

// Whether the command asked for the record as JSON.
function asksJson(command) {
  return /[?|]format=json(\||$)/.test(String(command));
}

// The card of a reply to 2, 3 or 4; throws a KavenorError for a failure reply or a text that is no
// card record. command: the text sent (default 3?format=json).
function parseCardReply(text, command) {
  if (command === undefined) command = commands.readCard();
  var failure = errorForReply(text, command);
  if (failure) throw failure;
  var details = { reply: text, command: commandOrNull(command) };
  var parts = text.split('|');
  // The SDK has no certificate-type getter: the record is the model, the device name and this text.
  if (parts.length >= 3 && parts[parts.length - 1] === NO_CERT_TYPE) {
    var bare = cardOfJson({ readerModel: parts[0], deviceName: parts.slice(1, parts.length - 1).join('|') }, text);
    bare.missingFields = [];
    details.card = bare;
    throw new KavenorError('CERT_TYPE_UNAVAILABLE', details);
  }
  var record = null;
  if (text.charAt(0) === '{') {
    try {
      record = JSON.parse(text);
    } catch (e) {
      details.cause = e;
    }
  }
  if (isPlainObject(record) && typeof record.readerModel === 'string') return cardOfJson(record, text);
  // A "|"-separated record where JSON was asked for: a service from before JSON records.
  if (!record && parts.length >= 3 && asksJson(command)) throw versionMismatch(null, details);
  if (!record && parts.length >= 3) {
    details.meaning = { zh: '这是文本格式的证件记录：本库只读 JSON 格式的记录，请在命令后加上 format=json（如 3?format=json）。',
      en: 'This is a card record in its text form: the client reads records as JSON; add format=json to the command (e.g. 3?format=json).' };
  }
  throw new KavenorError('UNEXPECTED_REPLY', details);
}

// ---- memory card, bank card, security module ----

var HEX_REPLY = /^((?:[0-9a-f]{2} ){4})(?:\|((?:[0-9a-f]{2} )*))?$/i;

function hexBytes(groups) {
  var hex = groups.replace(/ /g, '').toLowerCase();
  var bytes = new Uint8Array(hex.length / 2);
  for (var i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
  return { hex: hex, bytes: bytes };
}

// operation: 'request' (6), 'read' (7) or 'write' (8); block: the block number asked for, if known.
function parseMemoryCardReply(text, operation, block) {
  var code = { request: '6', read: '7', write: '8' }[operation];
  if (!code) throw new TypeError('operation must be request, read or write');
  var failure = errorForReply(text, code);
  if (failure) throw failure;
  var match = HEX_REPLY.exec(text);
  var dataBytes = code === '6' ? 2 : code === '7' ? 16 : null;
  var after = match && match[2] !== undefined ? hexBytes(match[2]) : null;
  if (!match || (dataBytes === null ? after !== null : (after === null || after.bytes.length !== dataBytes))) {
    throw new KavenorError('UNEXPECTED_REPLY', { reply: text, command: code });
  }
  var id = hexBytes(match[1]);
  var result = { cardId: id.hex, cardIdBytes: id.bytes };
  if (code === '6') {
    result.request = after.hex;
    result.requestBytes = after.bytes;
  } else {
    result.block = block === undefined ? null : block;
    if (code === '7') {
      result.data = after.hex;
      result.bytes = after.bytes;
    }
  }
  result.raw = text;
  return result;
}

function parseBankCardReply(text) {
  var failure = errorForReply(text, '9');
  if (failure) throw failure;
  var bar = text.indexOf('|');
  if (bar < 0) throw new KavenorError('UNEXPECTED_REPLY', { reply: text, command: '9' });
  return { cardNumber: text.slice(0, bar), secondField: text.slice(bar + 1), raw: text };
}

var SAM_FORM = /^(\w{2,})\.(\w{2,})-(\d{8,})-(\d{10,})-(\d{10,})$/;

function parseSecurityModuleReply(text) {
  var failure = errorForReply(text, '5');
  if (failure) throw failure;
  if (/[|\r\n]/.test(text)) throw new KavenorError('UNEXPECTED_REPLY', { reply: text, command: '5' });
  var match = SAM_FORM.exec(text);
  return { number: text, wellFormed: !!match, groups: match ? match.slice(1) : null, raw: text };
}

// The reply to a command (its text or its code) as data; throws a KavenorError for a failure.
function parseReply(command, text) {
  var code = commandCode(command);
  try {
    switch (code) {
      case '2': case '3': case '4': return parseCardReply(text, command);
      case '5': return parseSecurityModuleReply(text);
      case '6': return parseMemoryCardReply(text, 'request');
      case '7': return parseMemoryCardReply(text, 'read', blockOf(command));
      case '8': return parseMemoryCardReply(text, 'write', blockOf(command));
      case '9': return parseBankCardReply(text);
      default: {
        var failure = errorForReply(text, command);
        if (failure) throw failure;
        return text;
      }
    }
  } catch (error) {
    // The parsers know the command only by its code: give the error the text that was sent.
    if (error instanceof KavenorError && error.command !== commandOrNull(command)) {
      throw withCommand(error, commandOrNull(command), true);
    }
    throw error;
  }
}

function blockOf(command) {
  var m = /Block=(\d+)/.exec(String(command));
  return m ? Number(m[1]) : null;
}

// ---- where the service is, and why it could not be reached ----

function isLoopbackHost(host) {
  var h = String(host || '').toLowerCase();
  if (h.charAt(0) === '[') h = h.slice(1, h.indexOf(']') < 0 ? h.length : h.indexOf(']'));
  return h === 'localhost' || /\.localhost$/.test(h) || h === '::1' || /^127\.\d+\.\d+\.\d+$/.test(h);
}

// The service on this computer at its usual port, whatever the page's own address (a development
// server's port is no service's).
function defaultServiceUrl() {
  return 'ws://127.0.0.1:' + DEFAULT_PORT;
}

function urlParts(url) {
  try {
    var u = new URL(url);
    return { protocol: u.protocol, host: u.host, hostname: u.hostname };
  } catch (e) {
    return null;
  }
}

var REASONS = {
  ORIGIN_NOT_ALLOWED: [
    '读卡服务不允许本网站（{origin}）使用读卡器：请在读卡服务的 Config.ini 的 [Security] AllowedOrigins 中加入 {origin}，然后重新启动读卡服务。',
    'The card-reader service does not let this site ({origin}) use the reader: add {origin} to [Security] AllowedOrigins in the service\'s Config.ini and restart the service.'],
  SERVICE_UNREACHABLE: [
    '读卡服务没有运行，或在 {url} 无法访问：请确认 Kavenor 正在运行（通知区域有它的图标），并且端口号正确。',
    'The Kavenor service is not running or not reachable at {url}: check that it runs (its icon is in the notification area) and that the port is right.'],
  INSECURE_PAGE: [
    '本网页经普通 HTTP 从其他主机打开。浏览器（Chrome 147 起）不允许这样的网页连接本机的服务，也不会提示。请改用 HTTPS 提供网页（用户允许一次“本地网络访问”即可），或从读卡服务自己打开网页（http://127.0.0.1:7415）。',
    'This page was served over plain HTTP from another host; browsers (Chrome from version 147) block such pages from connecting to services on this computer, without asking the user. Serve the page over HTTPS (the user then allows local network access once), or open it from the service itself (http://127.0.0.1:7415).'],
  LOCAL_NETWORK_DENIED: [
    '浏览器禁止本网页访问本机或局域网设备（“本地网络访问”权限被拒绝）。请在网站设置（地址栏左侧的图标）中允许后刷新网页。',
    'The browser forbids this page to connect to this computer or the local network (the site\'s local network access permission is denied). Allow it in the site settings (the icon left of the address) and reload the page.'],
  LOCAL_NETWORK_NOT_ALLOWED: [
    '浏览器需要用户允许本网页访问本机设备（“本地网络访问”），但尚未允许。请在浏览器的提示中选择允许后重试；若已允许，请确认 Kavenor 正在 {url} 运行。',
    'The browser needs the user to allow this page access to this computer (local network access), and that has not been allowed. Allow it at the browser\'s prompt and try again; if it was allowed, check that Kavenor runs at {url}.'],
  MIXED_CONTENT: [
    'HTTPS 网页不能用未加密的 ws:// 连接其他计算机。读卡服务应在本机，地址用 ws://127.0.0.1:7415。',
    'An HTTPS page may not open an unencrypted ws:// connection to another computer. The service belongs on this computer: use ws://127.0.0.1:7415.'],
  INVALID_URL: [
    '服务地址 {url} 无效，应当形如 ws://127.0.0.1:7415。',
    'The service address {url} is not valid; it should look like ws://127.0.0.1:7415.'],
  NO_WEBSOCKET: [
    '这个环境没有 WebSocket：请在创建 KavenorClient 时用 WebSocket 选项提供一个。',
    'This environment has no WebSocket: give one with the WebSocket option of KavenorClient.'],
};

var CONNECTION_FAILURE_REASONS = Object.freeze(Object.keys(REASONS));

// The likely reason a connection failed, from what the browser tells: the page's address, the
// service's, and the local network access permission ('granted', 'denied', 'prompt' or null).
function diagnoseConnectionFailure(info) {
  info = info || {};
  var service = urlParts(info.serviceUrl);
  if (!service || (service.protocol !== 'ws:' && service.protocol !== 'wss:')) return 'INVALID_URL';
  var page = info.pageUrl ? urlParts(info.pageUrl) : null;
  if (!page || (page.protocol !== 'http:' && page.protocol !== 'https:')) return 'SERVICE_UNREACHABLE';
  // Pages of this computer, and those the service served itself, need no permission.
  if (isLoopbackHost(page.hostname) || page.host === service.host) return 'SERVICE_UNREACHABLE';
  if (page.protocol === 'https:' && service.protocol === 'ws:' && !isLoopbackHost(service.hostname)) {
    return 'MIXED_CONTENT';
  }
  if (page.protocol === 'http:') return 'INSECURE_PAGE';
  if (info.permission === 'denied') return 'LOCAL_NETWORK_DENIED';
  if (info.permission === 'prompt') return 'LOCAL_NETWORK_NOT_ALLOWED';
  return 'SERVICE_UNREACHABLE';
}

// The permission's state, or null where the browser does not have it; never throws.
function localNetworkPermission(serviceUrl) {
  var nav = root.navigator;
  if (!nav || !nav.permissions || typeof nav.permissions.query !== 'function') return Promise.resolve(null);
  var service = urlParts(serviceUrl);
  // The permission has carried more than one name; ask for each until one is known.
  var names = service && isLoopbackHost(service.hostname)
    ? ['local-network-access', 'loopback-network', 'local-network']
    : ['local-network-access', 'local-network'];
  var ask = function (i) {
    if (i >= names.length) return Promise.resolve(null);
    var query;
    try {
      query = nav.permissions.query({ name: names[i] });
    } catch (e) {
      return ask(i + 1);
    }
    return Promise.resolve(query).then(function (status) {
      return status && typeof status.state === 'string' ? status.state : ask(i + 1);
    }, function () { return ask(i + 1); });
  };
  var giveUp = new Promise(function (done) { setTimeout(function () { done(null); }, 1000); });
  return Promise.race([ask(0).catch(function () { return null; }), giveUp]);
}

function connectionError(reason, url, cause, origin) {
  var r = REASONS[reason];
  var fill = function (s) { return s.split('{url}').join(url).split('{origin}').join(origin || ''); };
  return new KavenorError('CONNECTION_FAILED', {
    reason: reason,
    meaning: { zh: '无法连接读卡服务（' + url + '）：' + fill(r[0]),
      en: 'Could not connect to the card-reader service at ' + url + '. ' + fill(r[1]) },
    cause: cause,
  });
}

// What the service says of this page's site and of its reader (GET /status), or null when it cannot
// be read (no fetch here, no such service, or no answer within a second); never rejects.
function serviceStatus(url) {
  var parts = urlParts(url);
  if (typeof root.fetch !== 'function' || !parts) return Promise.resolve(null);
  var address = (parts.protocol === 'wss:' ? 'https://' : 'http://') + parts.host + '/status';
  // A service that accepts and never answers must not keep the request (or a Node process) alive.
  var abort = typeof AbortController === 'function' ? new AbortController() : null;
  return new Promise(function (done) {
    var timer = setTimeout(function () {
      if (abort) abort.abort();
      done(null);
    }, 1000);
    var finish = function (status) {
      clearTimeout(timer);
      done(status && status.product === 'Kavenor' ? status : null);
    };
    try {
      Promise.resolve(root.fetch(address, { cache: 'no-store', signal: abort ? abort.signal : undefined }))
        .then(function (response) { return response.ok ? response.json() : null; })
        .then(finish, function () { finish(null); });
    } catch (e) {
      finish(null);
    }
  });
}

// A connection that failed: the service's own word on this page's site first, else the browser's.
function diagnose(url, cause) {
  return serviceStatus(url).then(function (status) {
    if (status && status.version && olderThan(status.version, SERVICE_VERSION_REQUIRED)) {
      return versionMismatch(status.version, { cause: cause });
    }
    if (status && (status.access === 'not allowed' || status.access === 'ask')) {
      return connectionError('ORIGIN_NOT_ALLOWED', url, cause, status.origin);
    }
    if (status && status.access === 'refused') return new KavenorError('OPERATOR_REFUSED', { cause: cause });
    return diagnoseByBrowser(url, cause);
  });
}

function diagnoseByBrowser(url, cause) {
  var loc = root.location;
  var pageUrl = loc && typeof loc.href === 'string' ? loc.href : null;
  var guess = diagnoseConnectionFailure({ pageUrl: pageUrl, serviceUrl: url, permission: null });
  var page = pageUrl ? urlParts(pageUrl) : null;
  var needsPermission = page && guess === 'SERVICE_UNREACHABLE' && page.protocol === 'https:'
    && !isLoopbackHost(page.hostname);
  var permission = needsPermission ? localNetworkPermission(url) : Promise.resolve(null);
  return permission.then(function (state) {
    var reason = diagnoseConnectionFailure({ pageUrl: pageUrl, serviceUrl: url, permission: state });
    return connectionError(reason, url, cause);
  }, function () {
    return connectionError(guess, url, cause);
  });
}

// ---- the client ----

function replyText(data) {
  if (typeof data === 'string') return data;
  if (data instanceof ArrayBuffer) return new TextDecoder().decode(data);
  if (ArrayBuffer.isView(data)) return new TextDecoder().decode(data);
  return String(data);
}

function detach(socket) {
  socket.onopen = socket.onmessage = socket.onerror = socket.onclose = null;
}

function quietClose(socket) {
  detach(socket);
  try {
    socket.close();
  } catch (e) {
    // already closing
  }
}

class KavenorClient {
  // options: { url, timeoutMs, connectTimeoutMs, WebSocket, onStateChange }
  constructor(options) {
    options = options || {};
    this.url = options.url !== undefined && options.url !== null ? String(options.url) : defaultServiceUrl();
    this.timeoutMs = checkDuration(options.timeoutMs, DEFAULT_TIMEOUT_MS, 'timeoutMs');
    this.connectTimeoutMs = checkDuration(options.connectTimeoutMs, DEFAULT_CONNECT_TIMEOUT_MS, 'connectTimeoutMs');
    this._WebSocket = options.WebSocket || null;
    this._state = 'closed';
    this._socket = null;
    this._opening = null;   // { socket, promise, fail }
    this._waiter = null;    // the call awaiting its reply
    this._tail = Promise.resolve();
    this._epoch = 0;        // raised by close(): calls queued before it are not sent
    this._listeners = [];
    if (typeof options.onStateChange === 'function') this._listeners.push(options.onStateChange);
  }

  // 'closed', 'connecting' or 'open'.
  get state() { return this._state; }

  // listener(state, error): error is the KavenorError that closed the connection, else null.
  // Returns a function that removes the listener.
  onStateChange(listener) {
    var list = this._listeners;
    list.push(listener);
    return function () {
      var i = list.indexOf(listener);
      if (i >= 0) list.splice(i, 1);
    };
  }

  connect() {
    return this._open().then(function () {});
  }

  // Closes the connection; the call awaiting its reply and the calls queued behind it reject with
  // CONNECTION_CLOSED. Later calls connect again.
  close() {
    this._epoch++;
    var error = new KavenorError('CONNECTION_CLOSED', {
      meaning: { zh: '连接已由本网页关闭。', en: 'The connection was closed by this client.' },
    });
    if (this._waiter) this._waiter.reject(withCommand(error, this._waiter.command));
    if (this._opening) this._opening.fail(error, true);
    if (this._socket) {
      quietClose(this._socket);
      this._socket = null;
    }
    this._setState('closed', null);
  }

  waitForCard(waitMs, options) {
    // The attempt under way at the deadline is finished first: allow the usual time on top.
    return this._call(function () { return commands.waitForCard(waitMs); }, options, waitMs);
  }

  readCard(options) { return this._call(commands.readCard, options); }

  readCardWithoutCheck(options) { return this._call(commands.readCardWithoutCheck, options); }

  readSecurityModuleNumber(options) { return this._call(commands.readSecurityModuleNumber, options); }

  requestMemoryCard(options) { return this._call(commands.requestMemoryCard, options); }

  readMemoryBlock(key, block, options) {
    return this._call(function () { return commands.readMemoryBlock(key, block); }, options);
  }

  writeMemoryBlock(key, block, data, options) {
    return this._call(function () { return commands.writeMemoryBlock(key, block, data); }, options);
  }

  readBankCardNumber(options) { return this._call(commands.readBankCardNumber, options); }

  // Any command text; resolves with the reply text as it came. A text that is no command of the
  // service (it would get no reply) is refused before it is sent.
  sendCommand(text, options) {
    return this._call(function () {
      if (typeof text !== 'string' || text === '') {
        throw invalidParameter('command', 'The command must be a non-empty text.', '命令应当是非空文本。');
      }
      if (!isKnownCommand(text)) throw new KavenorError('UNKNOWN_COMMAND', { command: text });
      return text;
    }, options, 0, true);
  }

  // Calls callback(card) for each card put on the reader, with one waiting read after another, until
  // options.signal aborts (the promise then resolves). A card left lying on the reader is reported
  // once. Failures a page can wait out (no card read, the reader or the service briefly away, a busy
  // reader) go to options.onError and the watch goes on after a pause; any other ends it (rejects).
  async watchCards(callback, options) {
    options = options || {};
    if (typeof callback !== 'function') {
      throw invalidParameter('callback', 'watchCards needs a function to call with each card.', 'watchCards 需要一个函数，用来接收每张卡。');
    }
    var waitMs = checkWait(options.waitMs === undefined ? WATCH_WAIT_MS : options.waitMs);
    var signal = options.signal;
    var last = null;
    while (!(signal && signal.aborted)) {
      try {
        var card = await this.waitForCard(waitMs, { signal: signal, timeoutMs: options.timeoutMs });
        if (card.raw !== last) {
          last = card.raw;
          report(callback, card);
        } else {
          // Still lying there: no need to read it again at once.
          await pause(WATCH_SAME_CARD_MS, signal);
        }
      } catch (error) {
        if (!(error instanceof KavenorError)) throw error;
        if (error.code === 'ABORTED') return;
        // The whole wait passed without a card: the one read before has been taken away.
        last = null;
        if (error.code === 'WAIT_EXPIRED') continue;
        if (!isPassing(error)) throw error;
        if (typeof options.onError === 'function') report(options.onError, error);
        await pause(WATCH_RETRY_MS, signal);
      }
    }
  }

  // ---- inside ----

  // Checks the parameters (rejecting without sending), then queues the command.
  _call(build, options, extraMs, raw) {
    var command, timeoutMs;
    try {
      command = build();
      timeoutMs = checkDuration(options && options.timeoutMs, this.timeoutMs, 'timeoutMs');
    } catch (error) {
      return Promise.reject(error);
    }
    return this._enqueue(command, Math.min(timeoutMs + (extraMs || 0), MAX_WAIT_MS), raw, options && options.signal);
  }

  // signal: aborting it removes a queued call (it is never sent) and abandons one awaiting its reply
  // (the connection closes, so that the service ends a waiting read and no late reply is misread).
  _enqueue(command, timeoutMs, raw, signal) {
    var self = this;
    var epoch = this._epoch;
    var call = { command: command, cancelled: false, abandon: null };
    var run = function () {
      if (call.cancelled) return Promise.resolve();
      if (epoch !== self._epoch) {
        return Promise.reject(withCommand(new KavenorError('CONNECTION_CLOSED', {
          meaning: { zh: '连接已由本网页关闭，命令没有发送。', en: 'The client was closed; the command was not sent.' },
        }), command));
      }
      return self._exchange(call, timeoutMs).then(function (text) {
        return raw ? text : parseReply(command, text);
      });
    };
    var result = this._tail.then(run, run);
    this._tail = result.then(function () {}, function () {});
    if (!signal) return result;
    return new Promise(function (resolve, reject) {
      var onAbort = function () {
        if (call.cancelled) return;
        call.cancelled = true;
        var error = withCommand(new KavenorError('ABORTED', { cause: signal.reason }), command);
        if (call.abandon) call.abandon(error);
        reject(error);
      };
      if (signal.aborted) return onAbort();
      signal.addEventListener('abort', onAbort);
      var settle = function (done) {
        return function (value) {
          signal.removeEventListener('abort', onAbort);
          done(value);
        };
      };
      result.then(settle(resolve), settle(reject));
    });
  }

  _exchange(call, timeoutMs) {
    var self = this;
    var command = call.command;
    return this._open().catch(function (error) {
      throw withCommand(error, command);
    }).then(function (socket) {
      // Cancelled while the connection opened: nothing is sent.
      if (call.cancelled) return undefined;
      return new Promise(function (resolve, reject) {
        var timer = setTimeout(function () {
          if (self._waiter !== waiter) return;
          self._waiter = null;
          // A late reply would be taken for the next command's: start afresh.
          self._drop(socket, withCommand(new KavenorError('TIMEOUT'), command));
          // Why no reply came, as the service tells it.
          serviceStatus(self.url).then(function (status) {
            reject(withCommand(timeoutError(status), command));
          });
        }, timeoutMs);
        var waiter = {
          command: command,
          resolve: function (text) {
            clearTimeout(timer);
            self._waiter = null;
            call.abandon = null;
            resolve(text);
          },
          reject: function (error) {
            clearTimeout(timer);
            if (self._waiter === waiter) self._waiter = null;
            call.abandon = null;
            reject(error);
          },
        };
        call.abandon = function (error) {
          if (self._waiter !== waiter) return;
          waiter.reject(error);
          self._drop(socket, error);
        };
        self._waiter = waiter;
        try {
          socket.send(command);
        } catch (e) {
          var error = withCommand(new KavenorError('CONNECTION_CLOSED', { cause: e }), command);
          waiter.reject(error);
          self._drop(socket, error);
        }
      });
    });
  }

  _open() {
    if (this._socket && this._state === 'open') return Promise.resolve(this._socket);
    if (this._opening) return this._opening.promise;
    var self = this;
    var url = this.url;
    var WS = this._WebSocket || root.WebSocket;
    if (!WS) return Promise.reject(connectionError('NO_WEBSOCKET', url));
    var socket;
    try {
      socket = new WS(url);
    } catch (e) {
      // SyntaxError for a bad address; SecurityError where the browser forbids it outright.
      if (e && e.name === 'SyntaxError') return Promise.reject(connectionError('INVALID_URL', url, e));
      this._setState('connecting', null);
      var failed = diagnose(url, e).then(function (error) {
        self._setState('closed', error);
        throw error;
      });
      return failed;
    }
    try {
      socket.binaryType = 'arraybuffer';
    } catch (e) {
      // an implementation without it delivers text anyway
    }
    var opening = { socket: socket };
    this._opening = opening;
    this._socket = socket;
    opening.promise = new Promise(function (resolve, reject) {
      var settled = false;
      var timer = setTimeout(function () { fail(); }, self.connectTimeoutMs);
      // error: given by close(); else the reason is worked out.
      var fail = function (error, byClose) {
        if (settled) return;
        settled = true;
        clearTimeout(timer);
        quietClose(socket);
        if (self._socket === socket) self._socket = null;
        var done = function (err) {
          if (self._opening === opening) {
            self._opening = null;
            if (!byClose) self._setState('closed', err);
          }
          reject(err);
        };
        if (error) done(error);
        else diagnose(url).then(done);
      };
      opening.fail = fail;
      socket.onopen = function () {
        if (settled) return;
        settled = true;
        clearTimeout(timer);
        self._opening = null;
        socket.onerror = function () {};
        socket.onclose = function (event) {
          self._drop(socket, closedError(event));
        };
        self._setState('open', null);
        resolve(socket);
      };
      socket.onerror = function () { fail(); };
      socket.onclose = function () { fail(); };
      socket.onmessage = function (event) { self._onMessage(socket, event); };
    });
    this._setState('connecting', null);
    return opening.promise;
  }

  _onMessage(socket, event) {
    if (socket !== this._socket) return;
    var waiter = this._waiter;
    // Nothing was asked on this connection: not ours to interpret.
    if (!waiter) return;
    waiter.resolve(replyText(event.data));
  }

  // Forgets `socket`; the call awaiting its reply rejects with `error` (with its command).
  _drop(socket, error) {
    if (socket !== this._socket) return;
    this._socket = null;
    quietClose(socket);
    var waiter = this._waiter;
    if (waiter) waiter.reject(withCommand(error, waiter.command));
    this._setState('closed', error);
  }

  _setState(state, error) {
    if (state === this._state && !error) return;
    this._state = state;
    var list = this._listeners.slice();
    for (var i = 0; i < list.length; i++) {
      var listener = list[i];
      report(function () { listener(state, error || null); });
    }
  }
}

// Why a call got no reply in time, from the service's /status (null when it could not be read).
function timeoutError(status) {
  if (status && status.version && olderThan(status.version, SERVICE_VERSION_REQUIRED)) return versionMismatch(status.version);
  // The operator may still be deciding whether this site may use the reader.
  if (status && status.access === 'asking') return new KavenorError('OPERATOR_WAITING');
  // Only other sites' commands count: this page's own command may be the one that runs.
  var others = status && status.reader && status.reader.otherSites;
  if (others && (others.running || others.waiting > 0)) return busyError(others);
  return new KavenorError('TIMEOUT');
}

function busyError(reader) {
  var waiting = Math.max(0, Math.floor(Number(reader.waiting) || 0));
  var running = !!reader.running;
  var zh = '读卡器正忙于其他网站的网页：' + [running ? '正在执行其中一条命令' : '', waiting ? '还有 ' + waiting + ' 条在排队' : '']
    .filter(Boolean).join('，') + '（读卡器依次执行所有网页的命令）。请稍后重试，或把 timeoutMs 设长一些。';
  var en = 'The reader is busy with pages of other sites: ' + [running ? 'one of their commands is running' : '',
    waiting ? waiting + (waiting === 1 ? ' more waits' : ' more wait') : ''].filter(Boolean).join(' and ')
    + ' (it runs the commands of all pages one after another). Try again later, or allow a longer timeoutMs.';
  return new KavenorError('SERVICE_BUSY', { meaning: { zh: zh, en: en }, busy: { running: running, waiting: waiting } });
}

// Failures that watchCards waits out.
function isPassing(error) {
  if (error.code === 'CONNECTION_FAILED') return error.reason === 'SERVICE_UNREACHABLE';
  return ['NO_READER', 'CARD_AUTH_FAILED', 'READ_FAILED', 'TIMEOUT', 'SERVICE_BUSY', 'CONNECTION_CLOSED',
    'OPERATOR_WAITING'].indexOf(error.code) >= 0;
}

// Calls a page's function; its fault must not break the client.
function report(fn, value) {
  try {
    fn(value);
  } catch (e) {
    setTimeout(function () { throw e; }, 0);
  }
}

// Resolves after ms, or at once when the signal aborts.
function pause(ms, signal) {
  return new Promise(function (done) {
    var finish = function () {
      clearTimeout(timer);
      if (signal) signal.removeEventListener('abort', finish);
      done();
    };
    var timer = setTimeout(finish, ms);
    if (signal) signal.addEventListener('abort', finish);
  });
}

// The close reasons the service gives when its operator has a say (status 1008, policy).
var OPERATOR_CLOSES = { 'refused by the operator': 'OPERATOR_REFUSED', 'no answer from the operator': 'OPERATOR_WAITING' };

// Why an open connection closed, from its close event.
function closedError(event) {
  var code = event && event.code === 1008 && OPERATOR_CLOSES[event.reason];
  if (code) return new KavenorError(code);
  return new KavenorError('CONNECTION_CLOSED', {
    meaning: { zh: '与读卡服务的连接断开了。', en: 'The connection to the service closed.' },
  });
}

// The error with its command set (a copy); replace: also when it has one already.
function withCommand(error, command, replace) {
  if (error.command !== null && !replace) return error;
  return new KavenorError(error.code, {
    meaning: error.meaning, reply: error.reply, command: command, reason: error.reason,
    parameter: error.parameter, card: error.card, cause: error.cause, busy: error.busy,
    requiresUpdate: error.requiresUpdate, serviceVersion: error.serviceVersion,
  });
}

export {
  VERSION,
  DEFAULT_PORT,
  SERVICE_VERSION_REQUIRED,
  KavenorClient,
  KavenorError,
  ERROR_CODES,
  CONNECTION_FAILURE_REASONS,
  CERTIFICATE_KINDS,
  READER_MODELS,
  commands,
  parseReply,
  parseCardReply,
  parseMemoryCardReply,
  parseBankCardReply,
  parseSecurityModuleReply,
  errorForReply,
  imageMimeType,
  defaultServiceUrl,
  diagnoseConnectionFailure,
};
