import { test } from 'node:test';
import assert from 'node:assert/strict';
import { MessageKind } from '@wire/fennik/wire/message-kind';
import { KspConnection, KspError, Method, Pushed, decodeIdList } from '../../src/ksp/connection';
import { FakeSocket, envelope, idListPayload, settle } from '../support/fakeServer';
import { kspUrl } from '../../src/ksp/url';

test('replies find their requests by id, in whatever order they come', async () => {
  const socket = new FakeSocket();
  socket.answer = () => undefined;
  const connection = new KspConnection(socket);
  socket.open();
  await connection.opened;

  const first = connection.request({ route: 'qor::server::FtDelay', method: Method.Index });
  const second = connection.request({ route: 'qor::server::FtDelay', method: Method.Show, entityId: 'e1' });
  const [a, b] = socket.received;
  assert.equal(a.route, 'qor::server::FtDelay');
  assert.equal(a.method, Method.Index);
  assert.equal(b.method, Method.Show);
  assert.equal(b.entityId, 'e1');
  assert.notEqual(a.id, b.id);

  socket.reply(b.id, 200, new Uint8Array([7]));
  socket.reply(a.id, 200, new Uint8Array([9]));
  assert.deepEqual([...(await second).payload], [7]);
  assert.deepEqual([...(await first).payload], [9]);
});

test('failure statuses reject with the status and the payload; a closed connection rejects what waits', async () => {
  const socket = new FakeSocket();
  socket.answer = (r) => (r.path === '/projectSave' ? { status: 422, payload: new Uint8Array([1, 2]) } : undefined);
  const connection = new KspConnection(socket);
  socket.open();

  await assert.rejects(
    connection.request({ route: 'fennik::server::Project', method: Method.Custom, path: '/projectSave' }),
    (e: unknown) => e instanceof KspError && e.status === 422 && e.payload.length === 2,
  );
  const waiting = connection.request({ route: 'qor::server::FtDelay', method: Method.Index });
  let closed = false;
  connection.onClose(() => (closed = true));
  socket.close();
  await assert.rejects(waiting, /closed/);
  assert.ok(closed);
});

test('a request without response is sent as such and waits for nothing', async () => {
  const socket = new FakeSocket();
  const connection = new KspConnection(socket);
  socket.open();
  const reply = await connection.request({ route: 'qor::server::FtDelay', method: Method.Index, responseRequired: false });
  assert.equal(reply.status, 0);
  assert.equal(socket.received[0].responseRequired, false);
});

test('pushed messages reach the listeners with class, id and table; replies do not', async () => {
  const socket = new FakeSocket();
  const connection = new KspConnection(socket);
  socket.open();
  const pushed: Pushed[] = [];
  connection.onPush((m) => pushed.push(m));
  socket.push(envelope({ kind: MessageKind.Changed, route: 'qor::server::VisualItem', entityId: 'v1', payload: new Uint8Array([5, 6]) }));
  socket.push(envelope({ kind: MessageKind.Deleted, route: 'qor::server::VisualItem', entityId: 'v2' }));
  socket.push(envelope({ kind: MessageKind.Response, requestId: 999, status: 200 }));
  socket.push(new Uint8Array([1, 2, 3]));
  await settle();
  assert.deepEqual(
    pushed.map((m) => [m.kind, m.route, m.entityId, [...m.payload]]),
    [
      [MessageKind.Changed, 'qor::server::VisualItem', 'v1', [5, 6]],
      [MessageKind.Deleted, 'qor::server::VisualItem', 'v2', []],
    ],
  );
});

test('an index reply lists the ids in order; an empty one lists none', () => {
  assert.deepEqual(decodeIdList(idListPayload(['a', 'bb', 'c'])), ['a', 'bb', 'c']);
  assert.deepEqual(decodeIdList(idListPayload([])), []);
  assert.deepEqual(decodeIdList(new Uint8Array()), []);
});

test('the WebSocket address follows the page, with its token', () => {
  assert.equal(kspUrl({ protocol: 'http:', host: '127.0.0.1:7411', search: '' }), 'ws://127.0.0.1:7411/ksp');
  assert.equal(
    kspUrl({ protocol: 'https:', host: 'desk:8443', search: '?x=1&token=a%20b%26c' }),
    'wss://desk:8443/ksp?token=a%20b%26c',
  );
});
