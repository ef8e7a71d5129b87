// Requests that change the model: entity updates, livesound commands and
// the host's project route. Tables are built with the generated builders;
// every scalar is written even when it equals its default, as the server
// counts only written fields as present.
import * as flatbuffers from 'flatbuffers';
import { ProjectPathArgs } from '@wire/fennik/wire/project-path-args';
import { ProjectReply } from '@wire/fennik/wire/project-reply';
import { FtAudio } from '@wire/qor/server/fbs/ft-audio';
import { FtDelay } from '@wire/qor/server/fbs/ft-delay';
import { VisualItem } from '@wire/qor/server/fbs/visual-item';
import { DeviceAddArgs } from '@wire/qor/server/fbs/cmd/device-add-args';
import { DeviceAddResult } from '@wire/qor/server/fbs/cmd/device-add-result';
import { DeviceCatalogQueryArgs } from '@wire/qor/server/fbs/cmd/device-catalog-query-args';
import { DeviceCatalogQueryResult } from '@wire/qor/server/fbs/cmd/device-catalog-query-result';
import { DiscoveredDeviceAddArgs } from '@wire/qor/server/fbs/cmd/discovered-device-add-args';
import { DiscoveredDeviceAddAllArgs } from '@wire/qor/server/fbs/cmd/discovered-device-add-all-args';
import { DiscoveredDeviceAddResult } from '@wire/qor/server/fbs/cmd/discovered-device-add-result';
import { ProjectCheckSetIgnoreArgs } from '@wire/qor/server/fbs/cmd/project-check-set-ignore-args';
import { VisualItemSelectArgs } from '@wire/qor/server/fbs/cmd/visual-item-select-args';
import { KspConnection, KspError, Method } from './connection';

function builder(): flatbuffers.Builder {
  const b = new flatbuffers.Builder(128);
  b.forceDefaults(true);
  return b;
}

export const LIVESOUND_ROUTE = 'qor::server::Livesound';
export const PROJECT_ROUTE = 'fennik::server::Project';

export class Writes {
  constructor(private readonly connection: KspConnection) {}

  private update(route: string, payload: Uint8Array) {
    return this.connection.request({ route, method: Method.Update, payload });
  }

  audioLevel(id: string, levelInDb: number) {
    const b = builder();
    const idOffset = b.createString(id);
    FtAudio.startFtAudio(b);
    FtAudio.addId(b, idOffset);
    FtAudio.addLevelInDb(b, levelInDb);
    b.finish(FtAudio.endFtAudio(b));
    return this.update('qor::server::FtAudio', b.asUint8Array());
  }

  audioMute(id: string, muted: boolean) {
    const b = builder();
    const idOffset = b.createString(id);
    FtAudio.startFtAudio(b);
    FtAudio.addId(b, idOffset);
    FtAudio.addIsMuted(b, muted);
    b.finish(FtAudio.endFtAudio(b));
    return this.update('qor::server::FtAudio', b.asUint8Array());
  }

  delay(id: string, delayInMs: number) {
    const b = builder();
    const idOffset = b.createString(id);
    FtDelay.startFtDelay(b);
    FtDelay.addId(b, idOffset);
    FtDelay.addDelayInMs(b, delayInMs);
    b.finish(FtDelay.endFtDelay(b));
    return this.update('qor::server::FtDelay', b.asUint8Array());
  }

  // Moves a canvas item: x and y are throttled fields of the item.
  moveItem(id: string, x: number, y: number) {
    const b = builder();
    const idOffset = b.createString(id);
    VisualItem.startVisualItem(b);
    VisualItem.addId(b, idOffset);
    VisualItem.addX(b, Math.round(x));
    VisualItem.addY(b, Math.round(y));
    b.finish(VisualItem.endVisualItem(b));
    return this.update('qor::server::VisualItem', b.asUint8Array());
  }

  // Adds a network device to the project; resolves with the new device's id
  // (undefined when the server added nothing).
  async discoveredDeviceAdd(discoveredId: string, x = 0, y = 0): Promise<string | undefined> {
    const b = builder();
    b.finish(DiscoveredDeviceAddArgs.createDiscoveredDeviceAddArgs(b, b.createString(discoveredId), x, y));
    const reply = await this.command('/discoveredDeviceAdd', b.asUint8Array());
    if (!reply.payload.length) return undefined;
    return DiscoveredDeviceAddResult.getRootAsDiscoveredDeviceAddResult(new flatbuffers.ByteBuffer(reply.payload)).device() ?? undefined;
  }

  // Adds every discovered device to the session window whose root is given.
  async discoveredDeviceAddAll(windowRoot: string, x = 0, y = 0): Promise<void> {
    const b = builder();
    b.finish(DiscoveredDeviceAddAllArgs.createDiscoveredDeviceAddAllArgs(b, b.createString(windowRoot), x, y));
    await this.command('/discoveredDeviceAddAll', b.asUint8Array());
  }

  searchNetwork() {
    return this.command('/startRefreshDiscoveredDevices');
  }

  // The catalog items matching one query (the server's query grammar).
  async catalogQuery(query: string): Promise<CatalogEntry[]> {
    const b = builder();
    const q = DeviceCatalogQueryArgs.createQueriesVector(b, [b.createString(query)]);
    b.finish(DeviceCatalogQueryArgs.createDeviceCatalogQueryArgs(b, q));
    const reply = await this.command('/deviceCatalogQuery', b.asUint8Array());
    const result = DeviceCatalogQueryResult.getRootAsDeviceCatalogQueryResult(new flatbuffers.ByteBuffer(reply.payload));
    const entries: CatalogEntry[] = [];
    for (let m = 0; m < result.matchesLength(); m++) {
      const match = result.matches(m)!;
      for (let i = 0; i < match.itemsLength(); i++) {
        const it = match.items(i)!;
        entries.push({ kind: it.kind() ?? '', id: it.id() ?? '', vendor: it.vendor() ?? '', model: it.model() ?? '', label: it.label() ?? '' });
      }
    }
    return entries;
  }

  // Adds count devices of a catalog item's type; resolves with their ids.
  async deviceAdd(kind: string, typeId: string, count = 1, x = 0, y = 0): Promise<string[]> {
    const b = builder();
    const kindOffset = b.createString(kind);
    const idOffset = b.createString(typeId);
    b.finish(DeviceAddArgs.createDeviceAddArgs(b, x, y, count, kindOffset, idOffset));
    const reply = await this.command('/deviceAdd', b.asUint8Array());
    const result = DeviceAddResult.getRootAsDeviceAddResult(new flatbuffers.ByteBuffer(reply.payload));
    const ids: string[] = [];
    for (let i = 0; i < result.devicesLength(); i++) ids.push(result.devices(i));
    return ids;
  }

  // Changes the selection of a session window (named by its root item):
  // selects the items, or with deselect deselects them; with all, every
  // item on the window's shown layer.
  select(windowRoot: string, items: string[], options: { deselect?: boolean; all?: boolean } = {}) {
    const b = builder();
    const windowOffset = b.createString(windowRoot);
    const itemsOffset = VisualItemSelectArgs.createItemsVector(b, items.map((id) => b.createString(id)));
    b.finish(
      VisualItemSelectArgs.createVisualItemSelectArgs(b, windowOffset, itemsOffset, !!options.deselect, !!options.all),
    );
    return this.command('/visualItemSelect', b.asUint8Array());
  }

  // A canvas operation on the current window's selection that takes no
  // arguments (delete, group, ungroup, copy, paste, duplicate).
  selectionCommand(path: SelectionCommand) {
    return this.command(path);
  }

  // Marks the project check of a key (a ProjectCheckKey value) as ignored,
  // or watched again.
  projectCheckSetIgnore(key: number, ignored: boolean) {
    const b = builder();
    b.finish(ProjectCheckSetIgnoreArgs.createProjectCheckSetIgnoreArgs(b, key, ignored));
    return this.command('/projectCheckSetIgnore', b.asUint8Array());
  }

  command(path: string, payload?: Uint8Array) {
    return this.connection.request({ route: LIVESOUND_ROUTE, method: Method.Custom, path, payload });
  }

  // A project operation; resolves with the state after it, or rejects with
  // the server's reason (ProjectError).
  async project(path: '/projectNew' | '/projectOpen' | '/projectSave' | '/projectSaveAs' | '/projectInfo', file?: string) {
    let payload: Uint8Array | undefined;
    if (file !== undefined) {
      const b = builder();
      const fileOffset = b.createString(file);
      b.finish(ProjectPathArgs.createProjectPathArgs(b, fileOffset));
      payload = b.asUint8Array();
    }
    try {
      const reply = await this.connection.request({ route: PROJECT_ROUTE, method: Method.Custom, path, payload });
      return projectState(reply.payload);
    } catch (e) {
      if (e instanceof KspError && e.payload.length) throw new ProjectError(projectState(e.payload).error || e.message);
      throw e;
    }
  }
}

export type SelectionCommand =
  | '/visualItemDestroySelected'
  | '/visualItemGroupSelected'
  | '/visualItemUngroupSelected'
  | '/visualItemCopySelected'
  | '/visualItemPaste'
  | '/visualItemDuplicateSelected';

export interface CatalogEntry {
  kind: string;
  id: string;
  vendor: string;
  model: string;
  label: string;
}

export class ProjectError extends Error {}

export interface ProjectState {
  file: string;
  open: boolean;
  schemaVersion: string;
  error: string;
}

function projectState(payload: Uint8Array): ProjectState {
  const r = ProjectReply.getRootAsProjectReply(new flatbuffers.ByteBuffer(payload));
  return { file: r.file() ?? '', open: r.open(), schemaVersion: r.schemaVersion() ?? '', error: r.error() ?? '' };
}
