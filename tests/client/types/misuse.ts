// Mistakes the declarations must refuse.
import { KavenorClient } from '../../../build/linux/kavenor-client/dist/kavenor-client';

const client = new KavenorClient({ timeoutMs: '10s' });
client.readMemoryBlock('ffffffffffff');
client.readCard().then((card) => card.nonexistentField);
