// A page or a bundler that imports the library: every call and result as a web developer uses them.
import { KavenorClient, KavenorError, parseCardReply, commands, ERROR_CODES } from '../../../build/linux/kavenor-client/dist/kavenor-client';

async function main(): Promise<void> {
  const client = new KavenorClient({ url: 'ws://127.0.0.1:7415', timeoutMs: 5000,
    onStateChange: (state, error) => console.log(state, error?.code) });
  const card = await client.waitForCard(30000);
  const name: string | null = card.name;
  const photo: string | null = card.photo;
  const kind: 'resident' | 'I' | 'J' | 'Y' | null = card.kind;
  const block = await client.readMemoryBlock('ffffffffffff', 4);
  const bytes: Uint8Array = block.bytes;
  await client.writeMemoryBlock([1, 2, 3, 4, 5, 6], 4, '00112233445566778899aabbccddeeff', { timeoutMs: 1000 });
  const sam = await client.readSecurityModuleNumber();
  const bank = await client.readBankCardNumber();
  console.log(name, photo, kind, bytes, sam.number, bank.cardNumber, commands.readCard(), ERROR_CODES.NO_READER.zh);
  try {
    parseCardReply('连接设备失败');
  } catch (e) {
    if (e instanceof KavenorError && e.code === 'NO_READER') console.log(e.meaning.en, e.reply);
  }
  const off: () => void = client.onStateChange(() => {});
  off();
  client.close();
}
main();
