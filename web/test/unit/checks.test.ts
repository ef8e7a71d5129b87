// The project checks the page shows, from ProjectCheck entities as the
// server sends them, and the request that ignores one.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import * as flatbuffers from 'flatbuffers';
import { MessageKind } from '@wire/fennik/wire/message-kind';
import { ProjectCheck } from '@wire/qor/server/fbs/project-check';
import { ProjectCheckKey } from '@wire/qor/server/fbs/project-check-key';
import { ProjectCheckSetIgnoreArgs } from '@wire/qor/server/fbs/cmd/project-check-set-ignore-args';
import { KspConnection, Method } from '../../src/ksp/connection';
import { LIVESOUND_ROUTE, Writes } from '../../src/ksp/writes';
import { LiveModel } from '../../src/model/liveModel';
import { ProjectCheckClass } from '../../src/model/classes';
import { checkText, checksToShow } from '../../src/ui/checksView';
import { FakeSocket, envelope, idListPayload, settle } from '../support/fakeServer';

function check(id: string, key: ProjectCheckKey, message: string, active: boolean, ignored: boolean): Uint8Array {
  const b = new flatbuffers.Builder(128);
  b.forceDefaults(true);
  const idOffset = b.createString(id);
  const messageOffset = b.createString(message);
  ProjectCheck.startProjectCheck(b);
  ProjectCheck.addId(b, idOffset);
  ProjectCheck.addKey(b, key);
  ProjectCheck.addMessage(b, messageOffset);
  ProjectCheck.addActive(b, active);
  ProjectCheck.addIgnored(b, ignored);
  b.finish(ProjectCheck.endProjectCheck(b));
  return b.asUint8Array();
}

test('the list shows the active checks that are not ignored, with their messages, and follows changes', async () => {
  const checks = new Map([
    ['online', check('online', ProjectCheckKey.DEVICES_PARTIAL_ONLINE, 'All devices should be online', true, false)],
    ['names', check('names', ProjectCheckKey.DEVICES_SAME_NAME, 'Devices should have different Device Names', true, false)],
    ['delay', check('delay', ProjectCheckKey.DEVICES_SAME_POWERONDELAY, 'Devices should have different PowerOn delays', false, false)],
    ['speaker', check('speaker', ProjectCheckKey.SPEAKER_UNCONNECTED, 'Speakers should be fully connected', true, true)],
    // Ignored before its check ever ran: no message yet.
    ['firmware', check('firmware', ProjectCheckKey.DISCOVERED_DEVICE_FIRMWARE_UNSUPPORTED, '', false, true)],
  ]);
  const socket = new FakeSocket();
  socket.answer = (r) => {
    if (r.method === Method.Index) return { status: 200, payload: idListPayload([...checks.keys()]) };
    if (r.method === Method.Show) return { status: 200, payload: checks.get(r.entityId) };
    return { status: 200 };
  };
  const model = new LiveModel(new KspConnection(socket));
  socket.open();
  await model.track(ProjectCheckClass);
  const shown = () => {
    const { active, ignored } = checksToShow(model.all(ProjectCheckClass));
    return { active: active.map(checkText), ignored: ignored.map(checkText) };
  };
  assert.deepEqual(shown(), {
    active: ['Devices should have different Device Names', 'All devices should be online'],
    ignored: ['DISCOVERED_DEVICE_FIRMWARE_UNSUPPORTED', 'Speakers should be fully connected'],
  });

  // The devices came online: that problem is gone; another user ignores the names.
  const push = (id: string, bytes: Uint8Array) =>
    socket.push(envelope({ kind: MessageKind.Changed, route: ProjectCheckClass.name, entityId: id, payload: bytes }));
  push('online', check('online', ProjectCheckKey.DEVICES_PARTIAL_ONLINE, 'All devices should be online', false, false));
  push('names', check('names', ProjectCheckKey.DEVICES_SAME_NAME, 'Devices should have different Device Names', true, true));
  await settle();
  assert.deepEqual(shown().active, []);
  assert.deepEqual(shown().ignored, [
    'Devices should have different Device Names',
    'DISCOVERED_DEVICE_FIRMWARE_UNSUPPORTED',
    'Speakers should be fully connected',
  ]);
});

test('ignoring a check and watching it again send /projectCheckSetIgnore with its key and the flag, false written too', async () => {
  const socket = new FakeSocket();
  const writes = new Writes(new KspConnection(socket));
  socket.open();
  await writes.projectCheckSetIgnore(ProjectCheckKey.DEVICES_PARTIAL_ONLINE, true);
  await writes.projectCheckSetIgnore(ProjectCheckKey.DEVICES_PARTIAL_ONLINE, false);
  assert.equal(socket.received.length, 2);
  for (const [i, want] of [true, false].entries()) {
    const r = socket.received[i];
    assert.deepEqual([r.route, r.method, r.path], [LIVESOUND_ROUTE, Method.Custom, '/projectCheckSetIgnore']);
    const args = ProjectCheckSetIgnoreArgs.getRootAsProjectCheckSetIgnoreArgs(new flatbuffers.ByteBuffer(r.payload));
    assert.equal(args.key(), 106);
    assert.equal(args.ignored(), want);
    // Present on the wire (vtable slot 1), not left to the default.
    assert.notEqual(args.bb!.__offset(args.bb_pos, 6), 0, 'ignored is written');
  }
});
