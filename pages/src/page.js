'use strict';

// Everything the three test pages share. The client library (inlined before this script as the
// global Kavenor) connects, builds the command texts and reads the replies; this part only shows
// them. Each page's own script defines PAGE_COMMANDS: code -> { name, build(), show(data, command, ms) }.

const LOG_LIMIT = 50;
const LONG_BASE64 = /[A-Za-z0-9+/]{200,}={0,2}/g;
// How long a command may take before the page gives up on it; a waiting read gets its wait on top.
const REPLY_TIMEOUT_MS = 60000;
const MAX_TIMEOUT_MS = 2147483647;

// The card's fields in the order shown: the client's name, the key of its row on the page, its title.
const CARD_FIELDS = [
  ['kindLabel', 'label', '证件类型'], ['name', 'name', '姓名'], ['sex', 'sex', '性别'],
  ['nation', 'nation', '民族／国籍'], ['birthDate', 'birth', '出生日期'], ['address', 'address', '住址'],
  ['idNumber', 'idNumber', '证件号码'], ['authority', 'department', '签发机关'],
  ['validFrom', 'startDate', '有效期起始'], ['validTo', 'endDate', '有效期截止'],
  ['appendedMessage', 'appMsg', '追加信息'], ['fingerprint', 'fingerprint', '指纹数据'],
  ['issueCount', 'issues', '签发次数'], ['passNumber', 'passNumber', '通行证号码'],
  ['chineseName', 'chineseName', '中文姓名'], ['certVersion', 'certVersion', '证件版本'],
  ['nationCode', 'nationCode', '国籍代码'], ['photo', 'photo', '照片'],
  ['cardFront', 'front', '证件正面'], ['cardBack', 'back', '证件背面'],
];
const ROW_KEY = Object.fromEntries(CARD_FIELDS.map(([field, key]) => [field, key]));
const FIELD_TITLE = Object.fromEntries(CARD_FIELDS.map(([field, , title]) => [field, title]));
const IMAGE_FIELDS = ['photo', 'cardFront', 'cardBack'];

const ID_COMMANDS = {
  '2': { name: '等待读卡', build: () => Kavenor.commands.waitForCard(waitInput()), show: showCard },
  '3': { name: '读身份证', build: () => Kavenor.commands.readCard(), show: showCard },
  '4': { name: '读身份证（不判卡）', build: () => Kavenor.commands.readCardWithoutCheck(), show: showCard },
};

const $ = (id) => document.getElementById(id);

let client = null;
let unlisten = () => {};
let pending = null;   // the command awaiting its reply: { code, name, text, sentAt }
let lastReply = '';
let countdownTimer = 0;

// Thrown by a command's build() when the operator backs out: nothing is sent.
class Cancelled {
  constructor(headline, explain) {
    this.headline = headline;
    this.explain = explain;
  }
}

// Served by the service, the page talks back to the host and port it came from.
function pageServiceUrl() {
  return location.protocol === 'file:' ? Kavenor.defaultServiceUrl() : 'ws://' + location.host;
}

function commandFor(code) {
  return ID_COMMANDS[code] || PAGE_COMMANDS[code];
}

// ---- connection ----

function connect() {
  if (client) {
    const old = client;
    client = null;
    unlisten();
    old.close();
  }
  const url = $('serviceUrl').value.trim() || pageServiceUrl();
  const fresh = new Kavenor.KavenorClient({ url, timeoutMs: REPLY_TIMEOUT_MS });
  client = fresh;
  let opened = false;
  unlisten = fresh.onStateChange((state) => {
    if (client !== fresh) return;
    if (state === 'open') {
      opened = true;
      setConnState('open');
      logLine('note', '已连接');
    } else if (state === 'connecting') {
      setConnState('connecting');
    } else {
      setConnState('closed', opened ? '连接已断开' : '未连接');
      logLine('note', opened ? '连接已断开' : '无法连接');
    }
  });
  logLine('note', '连接 ' + url);
  fresh.connect().catch((error) => {
    if (client !== fresh) return;
    if (error.reason === 'INVALID_URL') {
      setConnState('closed', '地址无效');
      showNotice('error', '服务地址无效：' + url, error.meaning.zh);
    } else if (!pending) {
      showNotice('error', '无法连接读卡服务', error.meaning.zh);
    }
  });
  updateControls();
}

function setConnState(state, text) {
  const badge = $('connState');
  badge.dataset.state = state;
  badge.textContent = text || { open: '已连接', connecting: '正在连接…', closed: '未连接' }[state];
  updateControls();
}

function updateControls() {
  const open = client !== null && client.state === 'open';
  for (const button of document.querySelectorAll('button[data-code]')) {
    button.disabled = !open || pending !== null;
  }
  $('reconnect').disabled = pending !== null || (client !== null && client.state === 'connecting');
}

// ---- commands ----

async function runCommand(code) {
  if (pending || !client || client.state !== 'open') return;
  const command = commandFor(code);
  let text;
  try {
    text = command.build();
  } catch (error) {
    if (error instanceof Cancelled) {
      clearResult('没有发送命令（已取消）。');
      showNotice('warn', error.headline, error.explain);
      return;
    }
    if (!(error instanceof Kavenor.KavenorError) || error.code !== 'INVALID_PARAMETER') throw error;
    clearResult('没有发送命令（输入有误）。');
    showNotice('error', '输入有误', error.meaning.zh);
    return;
  }
  const owner = client;
  const sent = { code, name: command.name, text, sentAt: performance.now() };
  pending = sent;
  logLine('out', text);
  clearResult('命令：' + text + '　·　等待回复…');
  let timeoutMs = REPLY_TIMEOUT_MS;
  if (code === '2') {
    const waitMs = Number(/timeout=(\d+)/.exec(text)[1]);
    timeoutMs = Math.min(MAX_TIMEOUT_MS, REPLY_TIMEOUT_MS + waitMs);
    showNotice('busy', '正在等待读卡…', '请把证件放到读卡区，读到后立即显示。');
    startCountdown(waitMs);
  } else {
    showNotice('busy', '正在执行：' + command.name + '…', '');
  }
  updateControls();

  let reply;
  try {
    reply = await owner.sendCommand(text, { timeoutMs });
  } catch (error) {
    if (pending !== sent) return;
    finish();
    showNoReply(sent, error);
    return;
  }
  if (pending !== sent) return;
  finish();
  logLine('in', reply);
  showRaw(reply, sent);
  const ms = Math.round(performance.now() - sent.sentAt);
  let data;
  try {
    data = Kavenor.parseReply(text, reply);
  } catch (error) {
    if (!(error instanceof Kavenor.KavenorError)) throw error;
    showFailure(sent, error, ms);
    return;
  }
  command.show(data, sent, ms);
}

function finish() {
  pending = null;
  stopCountdown();
  updateControls();
}

// The memory-card inputs and the waiting time are checked by the client; a text that is no whole
// number is handed on as NaN so that its message is the one shown.
function waitInput() {
  const value = $('timeout').value.trim();
  return /^\d+$/.test(value) ? Number(value) : NaN;
}

function startCountdown(ms) {
  const end = performance.now() + ms;
  const tick = () => {
    const left = Math.max(0, end - performance.now());
    $('countdownBar').value = ms > 0 ? left / ms : 0;
    $('countdownText').textContent = left > 0
      ? '剩余 ' + (left / 1000).toFixed(1) + ' 秒'
      : '时间已到，等待最后一次读卡结束…';
  };
  stopCountdown();
  tick();
  $('countdown').hidden = false;
  countdownTimer = setInterval(tick, 100);
}

function stopCountdown() {
  clearInterval(countdownTimer);
  countdownTimer = 0;
  $('countdown').hidden = true;
}

// ---- replies ----

function showNoReply(command, error) {
  $('rawMeta').textContent = '命令：' + command.text + '　·　没有收到回复';
  if (error.code === 'TIMEOUT') {
    showNotice('error', command.name + '：等待回复超时', error.meaning.zh);
  } else if (error.code === 'CONNECTION_FAILED') {
    showNotice('error', '无法连接读卡服务', error.meaning.zh);
  } else {
    showNotice('error', '等待回复时连接断开了',
      '这条命令的结果不明。请确认读卡服务仍在运行，然后点“重新连接”。');
  }
}

// A failure text, an empty reply, or a reply that is not of the command's form.
function showFailure(command, error, ms) {
  const reply = error.reply;
  if (error.code === 'CERT_TYPE_UNAVAILABLE') {
    showNotice('warn', command.name + '：读卡器 SDK 缺少 GetCertTypeU 函数', error.meaning.zh);
    $('result').replaceChildren(recordTable([], cardPrefix(error.card).concat([['证件记录', reply.slice(reply.lastIndexOf('|') + 1)]])));
  } else if (error.code === 'UNEXPECTED_REPLY') {
    showNotice('warn', command.name + '：回复无法识别（' + ms + ' 毫秒）', error.meaning.zh + '内容见下面和原始回复。');
    $('result').replaceChildren(recordTable([['回复', shorten(reply)]]));
  } else if (reply === '') {
    showNotice('warn', command.name + '：回复为空', error.meaning.zh);
  } else {
    showNotice('error', command.name + '：' + reply, error.meaning.zh);
  }
}

function showNotice(kind, headline, explain) {
  const notice = $('notice');
  notice.dataset.kind = kind;
  notice.replaceChildren(el('div', 'headline', headline));
  if (explain) notice.append(el('div', 'explain', explain));
}

// Empties the result and the raw reply, so that only what the next command brings is shown.
function clearResult(rawMeta) {
  $('result').replaceChildren();
  $('rawMeta').textContent = rawMeta;
  $('raw').textContent = '';
  $('copyRaw').disabled = true;
  lastReply = '';
}

function showRaw(text, command) {
  lastReply = text;
  $('rawMeta').textContent = ['命令：' + command.text, '回复长度：' + text.length + ' 字符',
    '用时：' + Math.round(performance.now() - command.sentAt) + ' 毫秒'].join('　·　');
  $('raw').textContent = text === '' ? '（空回复）' : shorten(text);
  $('copyRaw').disabled = false;
}

// Long Base64 runs (photo, images, fingerprint) only as their start and their length.
function shorten(text) {
  return text.replace(LONG_BASE64, (run) => run.slice(0, 32) + '…［Base64，共 ' + run.length + ' 字符］');
}

function copyRaw() {
  const text = lastReply;
  const done = () => logLine('note', '完整回复已复制（' + text.length + ' 字符）');
  const fallback = () => {
    const area = el('textarea', '', text);
    document.body.append(area);
    area.select();
    document.execCommand('copy');
    area.remove();
    done();
  };
  if (navigator.clipboard) navigator.clipboard.writeText(text).then(done, fallback);
  else fallback();
}

function logLine(direction, text) {
  const item = el('li');
  const time = new Date().toLocaleTimeString('zh-CN', { hour12: false });
  const label = { out: '发送', in: '收到', note: '' }[direction];
  const shown = direction === 'in' && text === '' ? '（空回复）' : shorten(text);
  item.append(el('span', 'time', time), el('span', 'dir ' + direction, label),
    shown.length > 160 ? shown.slice(0, 160) + '…' : shown);
  const log = $('log');
  log.prepend(item);
  while (log.children.length > LOG_LIMIT) log.lastChild.remove();
}

// ---- card records ----

function cardPrefix(card) {
  return [['型号标记', card.readerModel], ['设备名称', card.deviceName]];
}

function showCard(card, command, ms) {
  // The ORV-5A reader never delivers the issue count of some kinds: not worth a note.
  const missing = card.missingFields.filter((field) => field !== 'issueCount').map((field) => FIELD_TITLE[field]);
  const explain = missing.length ? '读卡器的 SDK 没有提供这些字段：' + missing.join('、') + '。' : '';
  showNotice('ok', '读卡成功' + (card.name ? '：' + card.name : '') + '（' + ms + ' 毫秒）', explain);
  $('result').replaceChildren(recordTable(namedRows(card), cardPrefix(card)));
}

// The fields the record holds, even empty, under their names; those the reader's SDK could not
// deliver are named in the notice instead.
function namedRows(card) {
  return CARD_FIELDS.map(([field]) => field)
    .filter((field) => field === 'kindLabel' || card[field] !== null || (field === 'passNumber' && card.oldCardNumber !== null))
    .map((field) => {
      if (field === 'passNumber' && card.oldCardNumber !== null) {
        return ['原证件号码', card.oldCardNumber, 'oldCardNumber'];
      }
      if (field === 'kindLabel') return [FIELD_TITLE.kindLabel, card.kindLabel, ROW_KEY.kindLabel];
      return [FIELD_TITLE[field], fieldValue(field, card[field]), ROW_KEY[field]];
    });
}

function base64Of(dataUrl) {
  return dataUrl.slice(dataUrl.indexOf(',') + 1);
}

function fieldValue(field, value) {
  if (value === null || value === '') return null;
  if (IMAGE_FIELDS.includes(field)) return imageFigure(field, value);
  if (field === 'fingerprint') {
    const bytes = value.length / 4 * 3 - (value.match(/=*$/)[0].length);
    return '有（' + bytes + ' 字节，Base64 ' + value.length + ' 字符）';
  }
  return shorten(String(value));
}

function imageFigure(field, dataUrl) {
  const length = base64Of(dataUrl).length;
  const figure = el('figure', 'image');
  const img = el('img', field === 'photo' ? 'photo' : 'card');
  img.alt = FIELD_TITLE[field];
  img.dataset.field = ROW_KEY[field];
  img.src = dataUrl;
  const caption = el('figcaption', '', 'Base64 ' + length + ' 字符');
  img.addEventListener('load', () => {
    caption.textContent = img.naturalWidth + ' × ' + img.naturalHeight + ' 像素，Base64 ' + length + ' 字符';
  });
  img.addEventListener('error', () => {
    caption.textContent = '图片无法显示（Base64 ' + length + ' 字符）';
  });
  figure.append(img, caption);
  return figure;
}

// rows: [title, value (text, node or null for none), row key]
function recordTable(rows, prefix) {
  const table = el('table', 'record');
  const section = (className, list) => {
    const body = el('tbody', className);
    for (const [title, value, key] of list) {
      const tr = el('tr');
      if (key) tr.dataset.field = key;
      const td = el('td');
      if (value === null || value === '') td.append(el('span', 'none', '—'));
      else td.append(value);
      tr.append(el('th', '', title), td);
      body.append(tr);
    }
    return body;
  };
  if (prefix) table.append(section('prefix', prefix));
  table.append(section('', rows));
  return table;
}

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function start() {
  $('serviceUrl').value = pageServiceUrl();
  for (const button of document.querySelectorAll('button[data-code]')) {
    button.addEventListener('click', () => runCommand(button.dataset.code));
  }
  $('reconnect').addEventListener('click', connect);
  $('serviceUrl').addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && !$('reconnect').disabled) connect();
  });
  $('copyRaw').addEventListener('click', copyRaw);
  connect();
}

window.addEventListener('DOMContentLoaded', start);
