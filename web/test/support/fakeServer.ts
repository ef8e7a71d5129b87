// A Ksp server in memory for unit tests: decodes the client's envelopes
// with the generated code and answers as the real server does, or as the
// test says.
import * as flatbuffers from 'flatbuffers';
import { Envelope } from '@wire/fennik/wire/envelope';
import { MessageKind } from '@wire/fennik/wire/message-kind';
import { SubscriptionArgs } from '@wire/fennik/wire/subscription-args';
import { VisualItem } from '@wire/qor/server/fbs/visual-item';
import { SocketLike } from '../../src/ksp/connection';

export interface Received {
  id: number;
  route: string;
  method: number;
  path: string;
  entityId: string;
  responseRequired: boolean;
  payload: Uint8Array;
}

export function envelope(fields: {
  kind: MessageKind;
  requestId?: number;
  route?: string;
  entityId?: string;
  status?: number;
  payload?: Uint8Array;
}): Uint8Array {
  const b = new flatbuffers.Builder(256);
  const route = fields.route ? b.createString(fields.route) : 0;
  const entity = fields.entityId ? b.createString(fields.entityId) : 0;
  const payload = fields.payload ? Envelope.createPayloadVector(b, fields.payload) : 0;
  Envelope.startEnvelope(b);
  Envelope.addKind(b, fields.kind);
  Envelope.addRequestId(b, BigInt(fields.requestId ?? 0));
  if (route) Envelope.addRoute(b, route);
  if (entity) Envelope.addEntityId(b, entity);
  Envelope.addStatus(b, fields.status ?? 0);
  if (payload) Envelope.addPayload(b, payload);
  b.finish(Envelope.endEnvelope(b));
  return b.asUint8Array();
}

export function idListPayload(ids: string[]): Uint8Array {
  const b = new flatbuffers.Builder(256);
  const offsets = ids.map((id) => b.createString(id));
  b.startVector(4, offsets.length, 4);
  for (let i = offsets.length - 1; i >= 0; i--) b.addOffset(offsets[i]);
  b.finish(b.endVector());
  return b.asUint8Array();
}

export function visualItem(id: string, x: number, y: number, children: string[] = []): Uint8Array {
  const b = new flatbuffers.Builder(256);
  b.forceDefaults(true);
  const idOffset = b.createString(id);
  const childrenOffset = VisualItem.createChildrenVector(
    b,
    children.map((c) => b.createString(c)),
  );
  VisualItem.startVisualItem(b);
  VisualItem.addId(b, idOffset);
  VisualItem.addChildren(b, childrenOffset);
  VisualItem.addX(b, x);
  VisualItem.addY(b, y);
  VisualItem.addWidth(b, 400);
  VisualItem.addHeight(b, 200);
  VisualItem.addVisible(b, true);
  b.finish(VisualItem.endVisualItem(b));
  return b.asUint8Array();
}

export function subscription(payload: Uint8Array): { ids: string[]; classNames: string[] } {
  const args = SubscriptionArgs.getRootAsSubscriptionArgs(new flatbuffers.ByteBuffer(payload));
  const ids: string[] = [];
  const classNames: string[] = [];
  for (let i = 0; i < args.idsLength(); i++) ids.push(args.ids(i));
  for (let i = 0; i < args.classNamesLength(); i++) classNames.push(args.classNames(i));
  return { ids, classNames };
}

export class FakeSocket implements SocketLike {
  binaryType = 'blob';
  readyState = 0;
  onopen: ((ev: unknown) => unknown) | null = null;
  onclose: ((ev: unknown) => unknown) | null = null;
  onmessage: ((ev: { data: unknown }) => unknown) | null = null;
  readonly received: Received[] = [];
  // Answers a request; return undefined to leave it unanswered for now.
  answer: (r: Received) => { status: number; payload?: Uint8Array } | undefined = () => ({ status: 200 });

  open(): void {
    this.readyState = 1;
    this.onopen?.({});
  }

  send(data: Uint8Array): void {
    const env = Envelope.getRootAsEnvelope(new flatbuffers.ByteBuffer(data));
    const r: Received = {
      id: Number(env.requestId()),
      route: env.route() ?? '',
      method: env.method(),
      path: env.path() ?? '',
      entityId: env.entityId() ?? '',
      responseRequired: env.responseRequired(),
      payload: env.payloadArray()?.slice() ?? new Uint8Array(),
    };
    this.received.push(r);
    if (!r.responseRequired) return;
    const a = this.answer(r);
    if (a) this.reply(r.id, a.status, a.payload);
  }

  reply(requestId: number, status: number, payload?: Uint8Array): void {
    this.push(envelope({ kind: MessageKind.Response, requestId, status, payload }));
  }

  push(bytes: Uint8Array): void {
    // A copy in its own ArrayBuffer, as a WebSocket delivers it.
    const copy = bytes.slice();
    this.onmessage?.({ data: copy.buffer });
  }

  close(): void {
    this.readyState = 3;
    this.onclose?.({});
  }
}

// Lets pending promise callbacks run.
export const settle = () => new Promise((r) => setTimeout(r, 0));
