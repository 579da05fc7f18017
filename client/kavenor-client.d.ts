// Types of kavenor-client.js: the module's exports (require / import) and, for a page that loads it
// with <script>, the global Kavenor.

declare namespace Kavenor {
  type ErrorCode =
    | 'NO_READER' | 'CARD_AUTH_FAILED' | 'READ_FAILED' | 'WAIT_EXPIRED' | 'NOT_SUPPORTED' | 'NO_SAM'
    | 'BAD_PARAMETERS' | 'M1_AUTH_FAILED' | 'M1_READ_FAILED' | 'M1_WRITE_FAILED' | 'BANK_READ_FAILED'
    | 'SAM_FAILED' | 'EMPTY_REPLY' | 'CERT_TYPE_UNAVAILABLE' | 'UNEXPECTED_REPLY' | 'TIMEOUT'
    | 'CONNECTION_FAILED' | 'CONNECTION_CLOSED' | 'OPERATOR_WAITING' | 'OPERATOR_REFUSED' | 'INVALID_PARAMETER';

  /** Why a connection failed, as far as the browser lets the client tell. */
  type ConnectionFailureReason =
    | 'ORIGIN_NOT_ALLOWED' | 'SERVICE_UNREACHABLE' | 'INSECURE_PAGE' | 'LOCAL_NETWORK_DENIED'
    | 'LOCAL_NETWORK_NOT_ALLOWED' | 'MIXED_CONTENT' | 'INVALID_URL' | 'NO_WEBSOCKET';

  type ConnectionState = 'closed' | 'connecting' | 'open';

  /** Reply tag of the reader model: ORV5U, ORV5A / ORV5A(FT232), ORV5U-LN. */
  type ReaderTag = 'ORV5U' | 'ORV-5A' | 'ORV-5U-HID';

  /** resident: the resident identity card; I, J, Y: the certificate kinds of those type letters. */
  type CertificateKind = 'resident' | 'I' | 'J' | 'Y';

  interface Meaning { zh: string; en: string; }

  class KavenorError extends Error {
    constructor(code: ErrorCode, details?: {
      meaning?: Meaning; reply?: string | null; command?: string | null; reason?: ConnectionFailureReason | null;
      parameter?: string; card?: CardRecord; cause?: unknown;
    });
    readonly name: 'KavenorError';
    readonly code: ErrorCode;
    /** What the failure means and what to do, in Chinese and in English (message is the English). */
    readonly meaning: Meaning;
    /** The reply text as the service sent it, or null when the failure is not a reply. */
    readonly reply: string | null;
    /** The command text sent (or that would have been sent), when known. */
    readonly command: string | null;
    /** CONNECTION_FAILED only: the likely reason; a hint, not a certainty. */
    readonly reason: ConnectionFailureReason | null;
    /** INVALID_PARAMETER: the parameter refused (key, block, data, waitMs, timeoutMs, command). */
    readonly parameter?: string;
    /** CERT_TYPE_UNAVAILABLE: what the reply did tell (reader model and device name). */
    readonly card?: CardRecord;
  }

  /**
   * An identity-card reply. A text field is '' when the reader delivered it empty and null when the
   * reply has no such field (a getter the reader's SDK lacks, another certificate kind, or a layout
   * that was not recognised).
   */
  interface CardRecord {
    readerModel: ReaderTag | string;
    /** The configured device name (ORV5U only; '' for the others). May contain "|". */
    deviceName: string;
    kind: CertificateKind | null;
    /** The certificate label as the reply gives it, e.g. 身份证. */
    kindLabel: string;
    /** The kind in English. */
    kindName: string | null;
    name: string | null;
    sex: string | null;
    /** Nation, or nationality for kind I and Y. */
    nation: string | null;
    birthDate: string | null;
    address: string | null;
    idNumber: string | null;
    authority: string | null;
    validFrom: string | null;
    validTo: string | null;
    appendedMessage: string | null;
    /** Fingerprint data as Base64 (1024 bytes), '' when the card holds none. */
    fingerprint: string | null;
    /** Number of issues (kind J and Y on ORV5U; every kind on the others when delivered). */
    issueCount: number | null;
    passNumber: string | null;
    /** Kind Y on ORV5U: the old card number, in place of the pass number. */
    oldCardNumber: string | null;
    chineseName: string | null;
    certVersion: string | null;
    nationCode: string | null;
    /** Data URLs (image/bmp, image/jpeg or image/png); null when absent or empty. */
    photo: string | null;
    cardFront: string | null;
    cardBack: string | null;
    /** False when the fields did not match any known arrangement: only kindLabel and pictures are named. */
    layoutRecognized: boolean;
    /** Fields the reply leaves out (e.g. ['issueCount'] or ['validFrom', 'validTo']). */
    missingFields: string[];
    /** The record's fields in order, the certificate label first. */
    fields: string[];
    raw: string;
  }

  interface MemoryCardRequest {
    /** Card identifier in hex as the service prints it (its bytes in reverse order). */
    cardId: string;
    cardIdBytes: Uint8Array;
    request: string;
    requestBytes: Uint8Array;
    raw: string;
  }

  interface MemoryBlock {
    cardId: string;
    cardIdBytes: Uint8Array;
    block: number | null;
    /** The 16 bytes of the block as 32 lower-case hex digits. */
    data: string;
    bytes: Uint8Array;
    raw: string;
  }

  interface MemoryBlockWritten {
    cardId: string;
    cardIdBytes: Uint8Array;
    block: number | null;
    raw: string;
  }

  interface BankCard {
    cardNumber: string;
    /** The field the reader gives after the number (meaning up to the reader). */
    secondField: string;
    raw: string;
  }

  interface SecurityModuleNumber {
    /** e.g. 05.01-00002019-0000123456-0000000007 */
    number: string;
    wellFormed: boolean;
    groups: string[] | null;
    raw: string;
  }

  /** 12 hex digits (blanks allowed) or 6 bytes. */
  type Key = string | ArrayLike<number>;
  /** 32 hex digits (blanks allowed) or 16 bytes. */
  type BlockData = string | ArrayLike<number>;

  interface CallOptions {
    /** Milliseconds to wait for the reply (default: the client's timeoutMs). */
    timeoutMs?: number;
  }

  interface ClientOptions {
    /** Default: ws://<host>:<port> of a page served over HTTP from this computer, else ws://127.0.0.1:7415. */
    url?: string;
    /** Milliseconds a call waits for its reply; default 10000. waitForCard adds its waiting time. */
    timeoutMs?: number;
    /** Milliseconds to wait for the connection; default 30000 (time to answer a browser prompt). */
    connectTimeoutMs?: number;
    /** A WebSocket class with the browser's interface (for Node and tests); default globalThis.WebSocket. */
    WebSocket?: new (url: string) => any;
    onStateChange?: StateListener;
  }

  /** error: what closed the connection (null for close() and for the other states). */
  type StateListener = (state: ConnectionState, error: KavenorError | null) => void;

  class KavenorClient {
    constructor(options?: ClientOptions);
    readonly url: string;
    readonly timeoutMs: number;
    readonly connectTimeoutMs: number;
    readonly state: ConnectionState;
    /** Returns a function that removes the listener. */
    onStateChange(listener: StateListener): () => void;
    /** Calls connect by themselves; this only connects early. */
    connect(): Promise<void>;
    /** Closes the connection; the call in progress and those queued reject with CONNECTION_CLOSED. */
    close(): void;

    /** Command 2: reads until a card is presented or waitMs (0 to 2147483647) has passed (WAIT_EXPIRED). */
    waitForCard(waitMs: number, options?: CallOptions): Promise<CardRecord>;
    /** Command 3. */
    readCard(options?: CallOptions): Promise<CardRecord>;
    /** Command 4: the read with the reader's no-judge authentication. */
    readCardWithoutCheck(options?: CallOptions): Promise<CardRecord>;
    /** Command 5 (ORV5U, ORV5U-LN). */
    readSecurityModuleNumber(options?: CallOptions): Promise<SecurityModuleNumber>;
    /** Command 6 (ORV5A). */
    requestMemoryCard(options?: CallOptions): Promise<MemoryCardRequest>;
    /** Command 7 (ORV5A); block 0 to 255. */
    readMemoryBlock(key: Key, block: number, options?: CallOptions): Promise<MemoryBlock>;
    /** Command 8 (ORV5A). */
    writeMemoryBlock(key: Key, block: number, data: BlockData, options?: CallOptions): Promise<MemoryBlockWritten>;
    /** Command 9 (ORV5A). */
    readBankCardNumber(options?: CallOptions): Promise<BankCard>;
    /** Any command text; resolves with the reply as it came. An unknown command gets no reply (TIMEOUT). */
    sendCommand(text: string, options?: CallOptions): Promise<string>;
  }

  interface ErrorCodeInfo { code: ErrorCode; serviceText: string | null; zh: string; en: string; }

  const VERSION: string;
  const DEFAULT_PORT: number;
  const ERROR_CODES: Readonly<Record<ErrorCode, ErrorCodeInfo>>;
  const CONNECTION_FAILURE_REASONS: readonly ConnectionFailureReason[];
  const CERTIFICATE_KINDS: Readonly<Record<CertificateKind, string>>;
  const READER_MODELS: Readonly<Record<ReaderTag, { model: string; cardImages: boolean }>>;

  /** The command texts, with the client's parameter checks (they throw INVALID_PARAMETER). */
  const commands: {
    readonly waitForCard: (waitMs: number) => string;
    readonly readCard: () => string;
    readonly readCardWithoutCheck: () => string;
    readonly readSecurityModuleNumber: () => string;
    readonly requestMemoryCard: () => string;
    readonly readMemoryBlock: (key: Key, block: number) => string;
    readonly writeMemoryBlock: (key: Key, block: number, data: BlockData) => string;
    readonly readBankCardNumber: () => string;
  };

  /** The reply to `command` (its text or code) as data; throws KavenorError for a failure reply. */
  function parseReply(command: string, text: string): CardRecord | SecurityModuleNumber | MemoryCardRequest
    | MemoryBlock | MemoryBlockWritten | BankCard | string;
  function parseCardReply(text: string, command?: string): CardRecord;
  function parseMemoryCardReply(text: string, operation: 'request'): MemoryCardRequest;
  function parseMemoryCardReply(text: string, operation: 'read', block?: number): MemoryBlock;
  function parseMemoryCardReply(text: string, operation: 'write', block?: number): MemoryBlockWritten;
  function parseBankCardReply(text: string): BankCard;
  function parseSecurityModuleReply(text: string): SecurityModuleNumber;
  /** The error a reply stands for (a fixed failure text, an empty reply), or null when it is data. */
  function errorForReply(text: string, command?: string): KavenorError | null;
  /** image/bmp, image/jpeg, image/png or image/gif from the head of a Base64 picture; else null. */
  function imageMimeType(base64: string): string | null;
  function defaultServiceUrl(): string;
  /** The likely reason from the page's address, the service's and the local network access permission. */
  function diagnoseConnectionFailure(info: {
    pageUrl?: string | null; serviceUrl: string; permission?: 'granted' | 'denied' | 'prompt' | null;
  }): ConnectionFailureReason;
}

export = Kavenor;
export as namespace Kavenor;
