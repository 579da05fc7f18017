// Types of the Kavenor client. This file is the one source: the package's declarations for
// import (ES module), for require and for the global Kavenor of a plain <script> are made from it.

export type ErrorCode =
  | 'NO_READER' | 'CARD_AUTH_FAILED' | 'READ_FAILED' | 'WAIT_EXPIRED' | 'NOT_SUPPORTED' | 'NO_SAM'
  | 'BAD_PARAMETERS' | 'M1_AUTH_FAILED' | 'M1_READ_FAILED' | 'M1_WRITE_FAILED' | 'BANK_READ_FAILED'
  | 'SAM_FAILED' | 'EMPTY_REPLY' | 'CERT_TYPE_UNAVAILABLE' | 'UNEXPECTED_REPLY' | 'TIMEOUT'
  | 'SERVICE_BUSY' | 'VERSION_MISMATCH' | 'UNKNOWN_COMMAND' | 'ABORTED'
  | 'CONNECTION_FAILED' | 'CONNECTION_CLOSED' | 'OPERATOR_WAITING' | 'OPERATOR_REFUSED' | 'INVALID_PARAMETER';

/** Why a connection failed, as far as the browser lets the client tell. */
export type ConnectionFailureReason =
  | 'ORIGIN_NOT_ALLOWED' | 'SERVICE_UNREACHABLE' | 'INSECURE_PAGE' | 'LOCAL_NETWORK_DENIED'
  | 'LOCAL_NETWORK_NOT_ALLOWED' | 'MIXED_CONTENT' | 'INVALID_URL' | 'NO_WEBSOCKET';

export type ConnectionState = 'closed' | 'connecting' | 'open';

/** Reply tag of the reader model: ORV5U, ORV5A / ORV5A(FT232), ORV5U-LN. */
export type ReaderTag = 'ORV5U' | 'ORV-5A' | 'ORV-5U-HID';

/** resident: the resident identity card; I, J, Y: the certificate kinds of those type letters. */
export type CertificateKind = 'resident' | 'I' | 'J' | 'Y';

export interface Meaning { zh: string; en: string; }

export declare class KavenorError extends Error {
  constructor(code: ErrorCode, details?: {
    meaning?: Meaning; reply?: string | null; command?: string | null; reason?: ConnectionFailureReason | null;
    parameter?: string; card?: CardRecord; cause?: unknown; busy?: ReaderLoad;
    requiresUpdate?: RequiredUpdate; serviceVersion?: string | null;
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
  /** SERVICE_BUSY: what the reader was doing when the call gave up. */
  readonly busy?: ReaderLoad;
  /** VERSION_MISMATCH: which side to update (as web-eid's requiresUpdate). */
  readonly requiresUpdate?: RequiredUpdate;
  /** VERSION_MISMATCH: the service's version as its /status tells it; null when it has no /status. */
  readonly serviceVersion?: string | null;
}

/** A command running on the reader, and how many wait behind it (all pages together). */
export interface ReaderLoad { running: boolean; waiting: number; }

export interface RequiredUpdate { service: boolean; library: boolean; }

/**
 * An identity card, from the service's JSON record. A text field is '' when the reader delivered it
 * empty and null when the record has no such field (another certificate kind, or a getter the
 * reader's SDK lacks: those are listed in missingFields).
 */
export interface CardRecord {
  readerModel: ReaderTag | string;
  /** The configured device name (ORV5U only; '' for the others). May contain "|". */
  deviceName: string;
  kind: CertificateKind | null;
  /** The certificate label as the reader gives it, e.g. 身份证. */
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
  /** Data URLs (image/bmp, or the type the data shows); null when absent or empty. */
  photo: string | null;
  cardFront: string | null;
  cardBack: string | null;
  /** Fields of this kind that the reader's SDK cannot deliver (e.g. ['validFrom', 'validTo']). */
  missingFields: string[];
  /** The reply as it came (the JSON text). */
  raw: string;
}

export interface MemoryCardRequest {
  /** Card identifier in hex as the service prints it (its bytes in reverse order). */
  cardId: string;
  cardIdBytes: Uint8Array;
  request: string;
  requestBytes: Uint8Array;
  raw: string;
}

export interface MemoryBlock {
  cardId: string;
  cardIdBytes: Uint8Array;
  block: number | null;
  /** The 16 bytes of the block as 32 lower-case hex digits. */
  data: string;
  bytes: Uint8Array;
  raw: string;
}

export interface MemoryBlockWritten {
  cardId: string;
  cardIdBytes: Uint8Array;
  block: number | null;
  raw: string;
}

export interface BankCard {
  cardNumber: string;
  /** The field the reader gives after the number (meaning up to the reader). */
  secondField: string;
  raw: string;
}

export interface SecurityModuleNumber {
  /** e.g. 05.01-00002019-0000123456-0000000007 */
  number: string;
  wellFormed: boolean;
  groups: string[] | null;
  raw: string;
}

/** 12 hex digits (blanks allowed) or 6 bytes. */
export type Key = string | ArrayLike<number>;
/** 32 hex digits (blanks allowed) or 16 bytes. */
export type BlockData = string | ArrayLike<number>;

export interface CallOptions {
  /** Milliseconds to wait for the reply (default: the client's timeoutMs). */
  timeoutMs?: number;
  /**
   * Cancels the call (ABORTED): a queued call is never sent; a call awaiting its reply is abandoned
   * with its connection (the service ends a waiting read at once), and the next call connects again.
   */
  signal?: AbortSignal;
}

export interface WatchOptions {
  /** Ends the watch: the promise of watchCards then resolves. */
  signal?: AbortSignal;
  /** Milliseconds each waiting read lasts (default 5000); the watch goes on after each. */
  waitMs?: number;
  /** Milliseconds to wait for each reply on top of waitMs (default: the client's timeoutMs). */
  timeoutMs?: number;
  /** Failures the watch waits out (no reader, a failed read, a busy reader, the service away). */
  onError?: (error: KavenorError) => void;
}

export interface ClientOptions {
  /** Default: ws://127.0.0.1:7415, whatever the page's own address. */
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
export type StateListener = (state: ConnectionState, error: KavenorError | null) => void;

export declare class KavenorClient {
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
  /** Any command text; resolves with the reply as it came. A text that is no command (2 to 9) is refused: UNKNOWN_COMMAND. */
  sendCommand(text: string, options?: CallOptions): Promise<string>;
  /**
   * Calls callback with each card put on the reader (a card left lying there once, read again at most
   * once a second), one waiting read after another, until options.signal aborts (then resolves).
   * Rejects on a failure it cannot wait out.
   */
  watchCards(callback: (card: CardRecord) => void, options?: WatchOptions): Promise<void>;
}

export interface ErrorCodeInfo { code: ErrorCode; serviceText: string | null; zh: string; en: string; }

export declare const VERSION: string;
export declare const DEFAULT_PORT: number;
/** The oldest service version this library works with. */
export declare const SERVICE_VERSION_REQUIRED: string;
export declare const ERROR_CODES: Readonly<Record<ErrorCode, ErrorCodeInfo>>;
export declare const CONNECTION_FAILURE_REASONS: readonly ConnectionFailureReason[];
export declare const CERTIFICATE_KINDS: Readonly<Record<CertificateKind, string>>;
export declare const READER_MODELS: Readonly<Record<ReaderTag, { model: string; cardImages: boolean }>>;

/** The command texts, with the client's parameter checks (they throw INVALID_PARAMETER). */
export declare const commands: {
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
export declare function parseReply(command: string, text: string): CardRecord | SecurityModuleNumber | MemoryCardRequest
  | MemoryBlock | MemoryBlockWritten | BankCard | string;
export declare function parseCardReply(text: string, command?: string): CardRecord;
export declare function parseMemoryCardReply(text: string, operation: 'request'): MemoryCardRequest;
export declare function parseMemoryCardReply(text: string, operation: 'read', block?: number): MemoryBlock;
export declare function parseMemoryCardReply(text: string, operation: 'write', block?: number): MemoryBlockWritten;
export declare function parseBankCardReply(text: string): BankCard;
export declare function parseSecurityModuleReply(text: string): SecurityModuleNumber;
/** The error a reply stands for (a fixed failure text, an empty reply), or null when it is data. */
export declare function errorForReply(text: string, command?: string): KavenorError | null;
/** image/bmp, image/jpeg, image/png or image/gif from the head of a Base64 picture; else null. */
export declare function imageMimeType(base64: string): string | null;
export declare function defaultServiceUrl(): string;
/** The likely reason from the page's address, the service's and the local network access permission. */
export declare function diagnoseConnectionFailure(info: {
  pageUrl?: string | null; serviceUrl: string; permission?: 'granted' | 'denied' | 'prompt' | null;
}): ConnectionFailureReason;
