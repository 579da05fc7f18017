// Mistakes the declarations must refuse.
import { KavenorClient } from '../../../client/kavenor-client';

const client = new KavenorClient({ timeoutMs: '10s' });
client.readMemoryBlock('ffffffffffff');
client.readCard().then((card) => card.nonexistentField);
