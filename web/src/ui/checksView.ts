// The project checks that are active and not ignored, with their messages.
import { LiveModel } from '../model/liveModel';
import { ProjectCheckClass } from '../model/classes';
import { FrameScheduler } from './frame';
import { h } from './dom';

export class ChecksView {
  readonly element = h('section', { class: 'checks', 'data-testid': 'checks' });
  private readonly list = h('ul', {});
  private readonly draw = () => this.render();

  constructor(
    private readonly model: LiveModel,
    frames: FrameScheduler,
  ) {
    this.element.append(h('h2', {}, 'Project checks'), this.list);
    model.on(ProjectCheckClass.name, () => frames.request(this.draw));
    this.render();
  }

  private render(): void {
    const active = this.model.all(ProjectCheckClass).filter((c) => c.active() && !c.ignored());
    this.list.replaceChildren(
      ...(active.length
        ? active.map((c) => h('li', { class: 'check', 'data-key': c.key() }, c.message() ?? ''))
        : [h('li', { class: 'hint' }, 'No problems found.')]),
    );
  }
}
