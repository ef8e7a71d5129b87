// The live model: the entities this client subscribed to, kept current by
// the server's changed and deleted messages. Views read from it and listen
// for the classes they draw; nothing else keeps entity state.
import * as flatbuffers from 'flatbuffers';
import { MessageKind } from '@wire/fennik/wire/message-kind';
import { SubscriptionArgs } from '@wire/fennik/wire/subscription-args';
import { KspConnection, Method, Pushed, decodeIdList } from '../ksp/connection';

// An entity type as the client knows it: its class (the route) and the
// generated accessor of its wire table.
export interface EntityClass<T> {
  readonly name: string;
  readonly decode: (bb: flatbuffers.ByteBuffer) => T;
}

export function entityClass<T>(name: string, decode: (bb: flatbuffers.ByteBuffer) => T): EntityClass<T> {
  return { name, decode };
}

export interface Change {
  className: string;
  id: string;
  deleted: boolean;
}

interface Stored {
  bytes: Uint8Array;
  table: unknown;
}

const SUBSCRIPTION_ROUTE = 'fennik::server::Subscription';

export function subscriptionArgs(ids: string[], classNames: string[]): Uint8Array {
  const b = new flatbuffers.Builder(256);
  const idsVector = SubscriptionArgs.createIdsVector(
    b,
    ids.map((id) => b.createString(id)),
  );
  const classVector = SubscriptionArgs.createClassNamesVector(
    b,
    classNames.map((c) => b.createString(c)),
  );
  // No batch interval: the browser client takes a message per change.
  b.finish(SubscriptionArgs.createSubscriptionArgs(b, idsVector, classVector, 0));
  return b.asUint8Array();
}

export class LiveModel {
  // Per class, the entities in the order they arrived (the server's order for an index).
  private readonly store = new Map<string, Map<string, Stored>>();
  private readonly classes = new Map<string, EntityClass<unknown>>();
  private readonly tracked = new Set<string>();
  private readonly watchCount = new Map<string, number>();
  private readonly listeners = new Map<string, Set<(c: Change) => void>>();
  private readonly anyListeners = new Set<(c: Change) => void>();

  constructor(private readonly connection: KspConnection) {
    connection.onPush((m) => this.receive(m));
  }

  // Every entity of the class, now and later.
  async track<T>(cls: EntityClass<T>): Promise<void> {
    this.classes.set(cls.name, cls as EntityClass<unknown>);
    if (this.tracked.has(cls.name)) return;
    this.tracked.add(cls.name);
    await this.subscribe([], [cls.name]);
    const index = await this.connection.request({ route: cls.name, method: Method.Index });
    await Promise.all(decodeIdList(index.payload).map((id) => this.show(cls, id)));
  }

  // These entities of the class, until the returned function is called.
  async watch<T>(cls: EntityClass<T>, ids: string[]): Promise<() => void> {
    this.classes.set(cls.name, cls as EntityClass<unknown>);
    const fresh = ids.filter((id) => !this.tracked.has(cls.name) && (this.watchCount.get(id) ?? 0) === 0);
    for (const id of ids) this.watchCount.set(id, (this.watchCount.get(id) ?? 0) + 1);
    if (fresh.length) {
      await this.subscribe(fresh, []);
      await Promise.all(fresh.map((id) => this.show(cls, id)));
    }
    let released = false;
    return () => {
      if (released) return;
      released = true;
      const gone: string[] = [];
      for (const id of ids) {
        const n = (this.watchCount.get(id) ?? 1) - 1;
        if (n > 0) this.watchCount.set(id, n);
        else {
          this.watchCount.delete(id);
          if (!this.tracked.has(cls.name)) gone.push(id);
        }
      }
      if (!gone.length) return;
      for (const id of gone) this.store.get(cls.name)?.delete(id);
      this.connection
        .request({ route: SUBSCRIPTION_ROUTE, method: Method.Unsubscribe, payload: subscriptionArgs(gone, []) })
        .catch(() => undefined);
    };
  }

  get<T>(cls: EntityClass<T>, id: string | null | undefined): T | undefined {
    if (!id) return undefined;
    const stored = this.store.get(cls.name)?.get(id);
    if (!stored) return undefined;
    if (!stored.table) stored.table = cls.decode(new flatbuffers.ByteBuffer(stored.bytes));
    return stored.table as T;
  }

  all<T>(cls: EntityClass<T>): T[] {
    const entries = this.store.get(cls.name);
    if (!entries) return [];
    return [...entries.keys()].map((id) => this.get(cls, id) as T);
  }

  count(className: string): number {
    return this.store.get(className)?.size ?? 0;
  }

  // Calls the listener for every change of an entity of the class.
  on(className: string, listener: (c: Change) => void): () => void {
    let set = this.listeners.get(className);
    if (!set) this.listeners.set(className, (set = new Set()));
    set.add(listener);
    return () => set!.delete(listener);
  }

  onAny(listener: (c: Change) => void): () => void {
    this.anyListeners.add(listener);
    return () => this.anyListeners.delete(listener);
  }

  private async subscribe(ids: string[], classNames: string[]): Promise<void> {
    await this.connection.request({
      route: SUBSCRIPTION_ROUTE,
      method: Method.Subscribe,
      payload: subscriptionArgs(ids, classNames),
    });
  }

  private async show(cls: EntityClass<unknown>, id: string): Promise<void> {
    try {
      const reply = await this.connection.request({ route: cls.name, method: Method.Show, entityId: id });
      // A change that arrived meanwhile is newer than nothing, but the show is newer still.
      this.put(cls.name, id, reply.payload);
    } catch {
      // Deleted before we asked: the deleted message has said so.
    }
  }

  private receive(m: Pushed): void {
    if (m.kind === MessageKind.Changed) this.put(m.route, m.entityId, m.payload);
    else if (m.kind === MessageKind.Deleted) this.remove(m.route, m.entityId);
  }

  private put(className: string, id: string, bytes: Uint8Array): void {
    let entries = this.store.get(className);
    if (!entries) this.store.set(className, (entries = new Map()));
    const stored = entries.get(id);
    if (stored) {
      stored.bytes = bytes;
      stored.table = undefined;
    } else entries.set(id, { bytes, table: undefined });
    this.emit({ className, id, deleted: false });
  }

  private remove(className: string, id: string): void {
    if (!this.store.get(className)?.delete(id)) return;
    this.emit({ className, id, deleted: true });
  }

  private emit(change: Change): void {
    this.listeners.get(change.className)?.forEach((l) => l(change));
    this.anyListeners.forEach((l) => l(change));
  }
}
