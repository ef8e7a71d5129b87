import { test } from 'node:test';
import assert from 'node:assert/strict';
import { MessageKind } from '@wire/fennik/wire/message-kind';
import { KspConnection, Method } from '../../src/ksp/connection';
import { Change, LiveModel } from '../../src/model/liveModel';
import { VisualItemClass } from '../../src/model/classes';
import { FakeSocket, envelope, idListPayload, settle, subscription, visualItem } from '../support/fakeServer';

const ROUTE = VisualItemClass.name;

// A server that holds visual items and answers index and show for them.
function serverWith(items: Map<string, Uint8Array>) {
  const socket = new FakeSocket();
  socket.answer = (r) => {
    if (r.method === Method.Index) return { status: 200, payload: idListPayload([...items.keys()]) };
    if (r.method === Method.Show) {
      const item = items.get(r.entityId);
      return item ? { status: 200, payload: item } : { status: 404 };
    }
    return { status: 200 };
  };
  const connection = new KspConnection(socket);
  socket.open();
  return { socket, model: new LiveModel(connection) };
}

const changed = (id: string, bytes: Uint8Array) =>
  envelope({ kind: MessageKind.Changed, route: ROUTE, entityId: id, payload: bytes });

test('tracking a class subscribes to it, then loads every entity in the server order', async () => {
  const items = new Map([
    ['b', visualItem('b', 8, 16)],
    ['a', visualItem('a', 24, 32)],
  ]);
  const { socket, model } = serverWith(items);
  await model.track(VisualItemClass);

  const [subscribe, index] = socket.received;
  assert.equal(subscribe.route, 'fennik::server::Subscription');
  assert.equal(subscribe.method, Method.Subscribe);
  assert.deepEqual(subscription(subscribe.payload), { ids: [], classNames: [ROUTE] });
  assert.equal(index.method, Method.Index);
  assert.deepEqual(
    model.all(VisualItemClass).map((v) => [v.id(), v.x(), v.y()]),
    [
      ['b', 8, 16],
      ['a', 24, 32],
    ],
  );
  // Tracking again asks for nothing more.
  const asked = socket.received.length;
  await model.track(VisualItemClass);
  assert.equal(socket.received.length, asked);
});

test('changed messages replace an entity, add new ones at the end, and deleted ones remove it', async () => {
  const { socket, model } = serverWith(new Map([['a', visualItem('a', 8, 8)]]));
  await model.track(VisualItemClass);
  const changes: Change[] = [];
  model.on(ROUTE, (c) => changes.push(c));

  socket.push(changed('a', visualItem('a', 400, 80, ['n'])));
  socket.push(changed('n', visualItem('n', 40, 40)));
  await settle();
  const a = model.get(VisualItemClass, 'a')!;
  assert.equal(a.x(), 400);
  assert.equal(a.children(0), 'n');
  assert.deepEqual(model.all(VisualItemClass).map((v) => v.id()), ['a', 'n']);

  socket.push(envelope({ kind: MessageKind.Deleted, route: ROUTE, entityId: 'a' }));
  // A deleted message for something never known changes nothing.
  socket.push(envelope({ kind: MessageKind.Deleted, route: ROUTE, entityId: 'zz' }));
  await settle();
  assert.equal(model.get(VisualItemClass, 'a'), undefined);
  assert.deepEqual(model.all(VisualItemClass).map((v) => v.id()), ['n']);
  assert.deepEqual(
    changes.map((c) => [c.id, c.deleted]),
    [
      ['a', false],
      ['n', false],
      ['a', true],
    ],
  );
});

test('watched entities are subscribed by id, shown once, and unsubscribed when the last watcher leaves', async () => {
  const items = new Map([
    ['a', visualItem('a', 8, 8)],
    ['b', visualItem('b', 16, 16)],
  ]);
  const { socket, model } = serverWith(items);
  const releaseFirst = await model.watch(VisualItemClass, ['a', 'b', 'gone']);
  assert.deepEqual(subscription(socket.received[0].payload), { ids: ['a', 'b', 'gone'], classNames: [] });
  assert.equal(model.get(VisualItemClass, 'b')!.x(), 16);
  assert.equal(model.get(VisualItemClass, 'gone'), undefined, 'a 404 on show leaves nothing behind');

  const before = socket.received.length;
  const releaseSecond = await model.watch(VisualItemClass, ['a']);
  assert.equal(socket.received.length, before, 'a second watcher of the same id asks nothing');

  releaseFirst();
  releaseFirst();
  await settle();
  const unsubscribe = socket.received.filter((r) => r.method === Method.Unsubscribe);
  assert.deepEqual(unsubscribe.map((r) => subscription(r.payload).ids), [['b', 'gone']]);
  assert.ok(model.get(VisualItemClass, 'a'), 'still watched by the second');
  assert.equal(model.get(VisualItemClass, 'b'), undefined);

  releaseSecond();
  await settle();
  assert.deepEqual(
    socket.received.filter((r) => r.method === Method.Unsubscribe).map((r) => subscription(r.payload).ids),
    [['b', 'gone'], ['a']],
  );
});

test('releasing a watch of a tracked class keeps its entities', async () => {
  const { socket, model } = serverWith(new Map([['a', visualItem('a', 8, 8)]]));
  await model.track(VisualItemClass);
  const release = await model.watch(VisualItemClass, ['a']);
  release();
  await settle();
  assert.ok(model.get(VisualItemClass, 'a'));
  assert.equal(socket.received.filter((r) => r.method === Method.Unsubscribe).length, 0);
});
