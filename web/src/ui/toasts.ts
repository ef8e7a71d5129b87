// User notifications (from the server, and this page's own failures) as
// toasts that leave after a while; errors stay until clicked.
import * as flatbuffers from 'flatbuffers';
import { UserNotification } from '@wire/fennik/wire/user-notification';
import { h } from './dom';

const KINDS = ['info', 'warning', 'error'];

export class Toasts {
  readonly element = h('div', { class: 'toasts', 'data-testid': 'toasts', role: 'status' });

  constructor(private readonly lifetimeMs = 8000) {}

  show(title: string, text: string, type = 0): void {
    const kind = KINDS[type] ?? 'info';
    const toast = h('div', { class: `toast ${kind}` }, h('strong', {}, title), h('p', {}, text));
    toast.addEventListener('click', () => toast.remove());
    this.element.append(toast);
    if (kind !== 'error') setTimeout(() => toast.remove(), this.lifetimeMs);
  }

  // A notification message's payload.
  showNotification(payload: Uint8Array): void {
    const n = UserNotification.getRootAsUserNotification(new flatbuffers.ByteBuffer(payload));
    this.show(n.title() ?? '', n.text() ?? '', n.type());
  }
}
