// The browser client's entry: connects to the server that served the page,
// keeps the live model and puts the views on the page.
import { MessageKind } from '@wire/fennik/wire/message-kind';
import { KspConnection } from './ksp/connection';
import { kspUrl } from './ksp/url';
import { Writes } from './ksp/writes';
import { EntityClass, LiveModel } from './model/liveModel';
import {
  DeviceClass,
  DeviceInfoClass,
  DiscoveredDeviceClass,
  LayerClass,
  OnlineClass,
  ProjectCheckClass,
  SessionWindowClass,
  VisualItemClass,
} from './model/classes';
import { CanvasView } from './ui/canvasView';
import { CatalogView } from './ui/catalogView';
import { ChecksView } from './ui/checksView';
import { DiscoveredView } from './ui/discoveredView';
import { DeviceView } from './ui/deviceView';
import { FrameScheduler } from './ui/frame';
import { ProjectBar } from './ui/projectBar';
import { Toasts } from './ui/toasts';
import { h } from './ui/dom';
import css from './ui/style.css';

async function start(): Promise<void> {
  document.head.append(h('style', {}, css));
  const status = h('span', { class: 'status', 'data-testid': 'connection' }, 'connecting…');
  const toasts = new Toasts();
  const frames = new FrameScheduler();
  const connection = new KspConnection(new WebSocket(kspUrl(window.location)));
  const model = new LiveModel(connection);
  const writes = new Writes(connection);
  const canvas = new CanvasView(model, frames, writes);
  const device = new DeviceView(model, writes, frames);
  const checks = new ChecksView(model, frames, writes, toasts);
  const project = new ProjectBar(writes, toasts);
  const discovered = new DiscoveredView(model, writes, frames, toasts);
  const catalog = new CatalogView(writes, toasts);
  canvas.onFocus = (id) =>
    device.show(id).catch((e) => toasts.show('Device view', `The device could not be shown: ${e instanceof Error ? e.message : e}`, 2));
  // The focused device went away (removed, or another project): forget it.
  model.on(DeviceClass.name, (c) => {
    if (c.deleted && canvas.focused && !canvas.deviceOf(canvas.focused)) canvas.focus(undefined);
  });

  connection.onPush((m) => {
    if (m.kind === MessageKind.Notification) toasts.showNotification(m.payload);
  });
  connection.onClose(() => {
    status.textContent = 'disconnected — reload the page to reconnect';
    status.className = 'status lost';
  });

  document.body.replaceChildren(
    h('header', {}, h('h1', {}, 'qorserver'), project.element, status),
    h(
      'main',
      {},
      h('section', { class: 'workspace' }, canvas.element),
      h('aside', { class: 'side' }, device.element, checks.element, discovered.element, catalog.element),
    ),
    toasts.element,
  );

  await connection.opened;
  status.textContent = 'connected';
  status.className = 'status ok';
  await Promise.all(
    [VisualItemClass, SessionWindowClass, LayerClass, DeviceClass, DeviceInfoClass, OnlineClass, ProjectCheckClass, DiscoveredDeviceClass].map(
      (cls) => model.track(cls as EntityClass<unknown>),
    ),
  );
  canvas.draw();
  void catalog.search();
  await project.refresh();
  (window as unknown as { qor: unknown }).qor = { model, frames, canvas };
}

start().catch((e) => {
  console.error(e);
  document.body.append(h('p', { class: 'fatal' }, `The client could not start: ${e instanceof Error ? e.message : e}`));
});
