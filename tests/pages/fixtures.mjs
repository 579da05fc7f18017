// Card replies built in the tests, for the layouts the mock does not send.

function bmp(width, height) {
  const row = (width * 3 + 3) & ~3;
  const file = Buffer.alloc(54 + row * height, 0x80);
  file.write('BM', 0, 'latin1');
  file.writeUInt32LE(file.length, 2);
  file.writeUInt32LE(0, 6);
  file.writeUInt32LE(54, 10);
  file.writeUInt32LE(40, 14);
  file.writeInt32LE(width, 18);
  file.writeInt32LE(height, 22);
  file.writeUInt16LE(1, 26);
  file.writeUInt16LE(24, 28);
  file.writeUInt32LE(0, 30);
  file.writeUInt32LE(row * height, 34);
  file.fill(0, 38, 54);
  return file.toString('base64');
}

export const PHOTO = bmp(32, 40);
export const CARD_IMAGE = bmp(64, 40);
export const FINGERPRINT = Buffer.alloc(1024, 7).toString('base64');

const PERSON = ['张三', '男', '汉', '19800101', '示例省示例市示例路1号', '110101198001010011', '示例市公安局',
  '20100101', '20300101', ''];

// The record of a driver with every getter present; `without` removes fields by position (1-based).
export function record({ tag = 'ORV-5A', device = '', label = '身份证', issues = '', without = [] } = {}) {
  const fields = [label, ...PERSON, FINGERPRINT, issues, '', '', '', '', PHOTO];
  if (tag === 'ORV5U') fields.push(CARD_IMAGE, CARD_IMAGE);
  const kept = fields.filter((_, i) => !without.includes(i + 1));
  return [tag, device, ...kept].join('|');
}
