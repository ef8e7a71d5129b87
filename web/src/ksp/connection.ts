// One Ksp connection over a WebSocket: requests with promised replies,
// and the messages the server pushes (changed, deleted, notification).
// Every message is one FlatBuffers envelope (fennik.wire.Envelope).
import * as flatbuffers from 'flatbuffers';
import { Envelope } from '@wire/fennik/wire/envelope';
import { MessageKind } from '@wire/fennik/wire/message-kind';

export enum Method {
  Index = 0,
  Show = 1,
  Custom = 2,
  Update = 4,
  Subscribe = 6,
  Unsubscribe = 7,
}

export interface Request {
  route: string;
  method: Method;
  path?: string;
  entityId?: string;
  payload?: Uint8Array;
  responseRequired?: boolean;
}

export interface Reply {
  status: number;
  payload: Uint8Array;
}

export interface Pushed {
  kind: MessageKind;
  route: string;
  entityId: string;
  payload: Uint8Array;
}

// What the connection needs of a WebSocket; tests hand in a fake.
export interface SocketLike {
  binaryType: string;
  readyState: number;
  send(data: Uint8Array): void;
  close(): void;
  // A browser WebSocket's handlers take its own event types.
  onopen: ((ev: any) => unknown) | null;
  onclose: ((ev: any) => unknown) | null;
  onmessage: ((ev: any) => unknown) | null;
}

export class KspError extends Error {
  constructor(
    readonly request: Request,
    readonly status: number,
    readonly payload: Uint8Array = new Uint8Array(),
  ) {
    super(`${request.route}${request.path ?? ''} answered ${status}`);
  }
}

export function encodeRequest(id: number, r: Request): Uint8Array {
  const b = new flatbuffers.Builder(128 + (r.payload?.length ?? 0));
  const route = b.createString(r.route);
  const path = r.path ? b.createString(r.path) : 0;
  const entity = r.entityId ? b.createString(r.entityId) : 0;
  const payload = r.payload ? Envelope.createPayloadVector(b, r.payload) : 0;
  Envelope.startEnvelope(b);
  Envelope.addKind(b, MessageKind.Request);
  Envelope.addRequestId(b, BigInt(id));
  Envelope.addRoute(b, route);
  Envelope.addMethod(b, r.method);
  if (path) Envelope.addPath(b, path);
  if (entity) Envelope.addEntityId(b, entity);
  if (r.responseRequired === false) Envelope.addResponseRequired(b, false);
  if (payload) Envelope.addPayload(b, payload);
  b.finish(Envelope.endEnvelope(b));
  return b.asUint8Array();
}

export function decodeEnvelope(bytes: Uint8Array): Envelope {
  return Envelope.getRootAsEnvelope(new flatbuffers.ByteBuffer(bytes));
}

export class KspConnection {
  private nextId = 1;
  private pending = new Map<number, { request: Request; resolve: (r: Reply) => void; reject: (e: Error) => void }>();
  private pushListeners: ((m: Pushed) => void)[] = [];
  private closeListeners: (() => void)[] = [];
  readonly opened: Promise<void>;

  constructor(private readonly socket: SocketLike) {
    socket.binaryType = 'arraybuffer';
    this.opened = new Promise((resolve, reject) => {
      if (socket.readyState === 1) resolve();
      socket.onopen = () => resolve();
      socket.onclose = () => {
        reject(new Error('the connection closed'));
        for (const p of this.pending.values()) p.reject(new Error('the connection closed'));
        this.pending.clear();
        for (const l of this.closeListeners) l();
      };
    });
    socket.onmessage = (ev) => this.receive(ev.data);
  }

  onPush(listener: (m: Pushed) => void): void {
    this.pushListeners.push(listener);
  }

  onClose(listener: () => void): void {
    this.closeListeners.push(listener);
  }

  // Resolves with the reply; a reply status of 400 and above rejects with a KspError.
  request(r: Request): Promise<Reply> {
    const id = this.nextId++;
    const bytes = encodeRequest(id, r);
    if (r.responseRequired === false) {
      this.socket.send(bytes);
      return Promise.resolve({ status: 0, payload: new Uint8Array() });
    }
    return new Promise((resolve, reject) => {
      this.pending.set(id, { request: r, resolve, reject });
      this.socket.send(bytes);
    });
  }

  close(): void {
    this.socket.close();
  }

  private receive(data: unknown): void {
    const bytes = new Uint8Array(data as ArrayBuffer);
    let env: Envelope;
    let kind: MessageKind;
    let payload: Uint8Array;
    try {
      env = decodeEnvelope(bytes);
      kind = env.kind();
      payload = env.payloadArray()?.slice() ?? new Uint8Array();
    } catch {
      console.warn('Ignoring a message that is no Ksp envelope');
      return;
    }
    if (kind === MessageKind.Response) {
      const id = Number(env.requestId());
      const p = this.pending.get(id);
      if (!p) return;
      this.pending.delete(id);
      const status = env.status();
      if (status >= 400) p.reject(new KspError(p.request, status, payload));
      else p.resolve({ status, payload });
      return;
    }
    if (kind !== MessageKind.Changed && kind !== MessageKind.Deleted && kind !== MessageKind.Notification) {
      console.warn('Ignoring a message that is no Ksp response or push');
      return;
    }
    const message: Pushed = { kind, route: env.route() ?? '', entityId: env.entityId() ?? '', payload };
    for (const l of this.pushListeners) l(message);
  }
}

// The reply of an index request: a buffer whose root is a vector of strings.
export function decodeIdList(payload: Uint8Array): string[] {
  if (payload.length < 4) return [];
  const bb = new flatbuffers.ByteBuffer(payload);
  const vector = bb.readInt32(0);
  const length = bb.readInt32(vector);
  const ids: string[] = [];
  for (let i = 0; i < length; i++) {
    const at = vector + 4 + i * 4;
    ids.push(bb.__string(at) as string);
  }
  return ids;
}
