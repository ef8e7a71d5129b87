// The devices on the network that the project does not use yet (the
// visible discovered devices), by name, each with "Add"; "Add all" adds
// every one of them side by side; "Search" asks the network again.
import { DiscoveredDevice } from '@wire/qor/server/fbs/discovered-device';
import { LiveModel } from '../model/liveModel';
import { DiscoveredDeviceClass, MASTER_ROOT_ID } from '../model/classes';
import { Writes } from '../ksp/writes';
import { FrameScheduler } from './frame';
import { Toasts } from './toasts';
import { h } from './dom';

// The devices to list: visible ones, by name (then physical id).
export function devicesToList(all: DiscoveredDevice[]): DiscoveredDevice[] {
  return all
    .filter((d) => d.visible())
    .sort(
      (a, b) =>
        (a.name() ?? '').localeCompare(b.name() ?? '') ||
        (a.physicalDeviceId() ?? '').localeCompare(b.physicalDeviceId() ?? ''),
    );
}

export class DiscoveredView {
  readonly element = h('section', { class: 'discovered', 'data-testid': 'discovered' });
  private readonly list = h('ul', {});
  private readonly addAll = h('button', { type: 'button' }, 'Add all');
  private readonly draw = () => this.render();

  constructor(
    private readonly model: LiveModel,
    private readonly writes: Writes,
    frames: FrameScheduler,
    private readonly toasts: Toasts,
  ) {
    const search = h('button', { type: 'button', title: 'Ask the network again' }, 'Search');
    search.addEventListener('click', () => this.run(this.writes.searchNetwork()));
    this.addAll.addEventListener('click', () => this.run(this.writes.discoveredDeviceAddAll(MASTER_ROOT_ID)));
    this.list.addEventListener('click', (ev) => {
      const id = (ev.target as Element).closest('button[data-add]')?.getAttribute('data-add');
      if (id) this.run(this.writes.discoveredDeviceAdd(id));
    });
    this.element.append(h('h2', {}, 'On the network', h('span', { class: 'actions' }, search, this.addAll)), this.list);
    model.on(DiscoveredDeviceClass.name, () => frames.request(this.draw));
    this.render();
  }

  private run(p: Promise<unknown>): void {
    p.catch((e) => this.toasts.show('Network devices', e instanceof Error ? e.message : String(e), 2));
  }

  private render(): void {
    const shown = devicesToList(this.model.all(DiscoveredDeviceClass));
    this.addAll.disabled = shown.length === 0;
    this.list.replaceChildren(
      ...(shown.length
        ? shown.map((d) =>
            h(
              'li',
              { class: 'discovered-device', 'data-testid': 'discovered-device', 'data-physical-id': d.physicalDeviceId() ?? '' },
              h('span', { class: 'name' }, d.name() || d.physicalDeviceId() || ''),
              h('span', { class: 'detail' }, `${d.deviceType() ?? ''} · ${d.ipaddress() ?? ''}`),
              h('button', { type: 'button', 'data-add': d.id() ?? '', 'aria-label': `Add ${d.name() ?? ''}` }, 'Add'),
            ),
          )
        : [h('li', { class: 'hint' }, 'Every device on the network is in the project.')]),
    );
  }
}
