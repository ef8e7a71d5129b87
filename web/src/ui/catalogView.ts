// The catalog of addable device types: a search box (the server's query
// words: "qa -qa-4", "kind:matrix") and per match an "Add" button that adds
// one device of that type to the canvas.
import { CatalogEntry, Writes } from '../ksp/writes';
import { Toasts } from './toasts';
import { h } from './dom';

const SEARCH_DELAY_MS = 200;

export class CatalogView {
  readonly element = h('section', { class: 'catalog', 'data-testid': 'catalog' });
  private readonly input = h('input', {
    type: 'search',
    placeholder: 'Search the catalog: qa-8, kind:matrix, -qa-4',
    'aria-label': 'Search the catalog',
  });
  private readonly list = h('ul', {});
  private timer: ReturnType<typeof setTimeout> | undefined;
  private generation = 0;
  private entries: CatalogEntry[] = [];

  constructor(
    private readonly writes: Writes,
    private readonly toasts: Toasts,
  ) {
    this.element.append(h('h2', {}, 'Catalog'), this.input, this.list);
    this.input.addEventListener('input', () => {
      clearTimeout(this.timer);
      this.timer = setTimeout(() => void this.search(), SEARCH_DELAY_MS);
    });
    this.list.addEventListener('click', (ev) => {
      const index = (ev.target as Element).closest('button[data-index]')?.getAttribute('data-index');
      const entry = index === null || index === undefined ? undefined : this.entries[Number(index)];
      if (entry) this.writes.deviceAdd(entry.kind, entry.id).catch((e) => this.fail(e));
    });
  }

  // Runs the query in the box; a reply to an older query is dropped.
  async search(): Promise<void> {
    const generation = ++this.generation;
    try {
      const entries = await this.writes.catalogQuery(this.input.value);
      if (generation !== this.generation) return;
      this.entries = entries;
      this.list.replaceChildren(
        ...(entries.length
          ? entries.map((e, i) =>
              h(
                'li',
                { class: 'catalog-item', 'data-testid': 'catalog-item' },
                h('span', { class: 'name' }, `${e.vendor} ${e.model}`),
                h('span', { class: 'detail' }, `${e.kind} · ${e.label}`),
                h('button', { type: 'button', 'data-index': i, 'aria-label': `Add ${e.model}` }, 'Add'),
              ),
            )
          : [h('li', { class: 'hint' }, 'Nothing in the catalog matches.')]),
      );
    } catch (e) {
      this.fail(e);
    }
  }

  private fail(e: unknown): void {
    this.toasts.show('Catalog', e instanceof Error ? e.message : String(e), 2);
  }
}
