// A page that loads the library with <script src> and uses the global.
/// <reference path="../../../build/linux/kavenor-client/dist/kavenor-client.d.ts" />
const client = new Kavenor.KavenorClient();
client.readCard().then((card) => console.log(card.idNumber, card.validTo));
