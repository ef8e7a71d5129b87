// The project checks: those that are active and not ignored, each with its
// message and "Ignore"; below them, folded, the ignored ones with "Watch
// again". The page tracks the ProjectCheck class; ignoring is the server's
// /projectCheckSetIgnore, so every client sees the same list.
import { ProjectCheck } from '@wire/qor/server/fbs/project-check';
import { ProjectCheckKey } from '@wire/qor/server/fbs/project-check-key';
import { LiveModel } from '../model/liveModel';
import { ProjectCheckClass } from '../model/classes';
import { Writes } from '../ksp/writes';
import { FrameScheduler } from './frame';
import { Toasts } from './toasts';
import { h } from './dom';

// What the list shows, in the order of the check keys: the problems to
// look at (active, not ignored) and the checks a user ignored.
export function checksToShow(all: ProjectCheck[]): { active: ProjectCheck[]; ignored: ProjectCheck[] } {
  const byKey = [...all].sort((a, b) => a.key() - b.key());
  return { active: byKey.filter((c) => c.active() && !c.ignored()), ignored: byKey.filter((c) => c.ignored()) };
}

// A check's message; one that has not run yet has none and shows its key.
export function checkText(c: ProjectCheck): string {
  return c.message() || ProjectCheckKey[c.key()] || `check ${c.key()}`;
}

export class ChecksView {
  readonly element = h('section', { class: 'checks', 'data-testid': 'checks' });
  private readonly list = h('ul', {});
  private readonly ignoredCount = h('summary', {});
  private readonly ignoredList = h('ul', {});
  private readonly ignored = h('details', { class: 'ignored-checks' }, this.ignoredCount, this.ignoredList);
  private readonly draw = () => this.render();

  constructor(
    private readonly model: LiveModel,
    frames: FrameScheduler,
    private readonly writes: Writes,
    private readonly toasts: Toasts,
  ) {
    this.element.append(h('h2', {}, 'Project checks'), this.list, this.ignored);
    this.element.addEventListener('click', (ev) => {
      const button = (ev.target as Element).closest('button[data-key]');
      if (!button) return;
      const key = Number(button.getAttribute('data-key'));
      this.writes
        .projectCheckSetIgnore(key, button.getAttribute('data-ignore') === 'true')
        .catch((e) => this.toasts.show('Project checks', e instanceof Error ? e.message : String(e), 2));
    });
    model.on(ProjectCheckClass.name, () => frames.request(this.draw));
    this.render();
  }

  private render(): void {
    const { active, ignored } = checksToShow(this.model.all(ProjectCheckClass));
    const button = (c: ProjectCheck, ignore: boolean, text: string) =>
      h('button', { type: 'button', 'data-key': c.key(), 'data-ignore': String(ignore) }, text);
    this.list.replaceChildren(
      ...(active.length
        ? active.map((c) =>
            h(
              'li',
              { class: 'check', 'data-testid': 'project-check', 'data-key': c.key() },
              h('span', { class: 'message' }, checkText(c)),
              button(c, true, 'Ignore'),
            ),
          )
        : [h('li', { class: 'hint' }, 'No problems found.')]),
    );
    this.ignored.hidden = ignored.length === 0;
    this.ignoredCount.textContent = `Ignored (${ignored.length})`;
    this.ignoredList.replaceChildren(
      ...ignored.map((c) =>
        h(
          'li',
          { class: `check${c.active() ? '' : ' inactive'}`, 'data-testid': 'ignored-check', 'data-key': c.key() },
          h('span', { class: 'message' }, checkText(c)),
          button(c, false, 'Watch again'),
        ),
      ),
    );
  }
}
