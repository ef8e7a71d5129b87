// New, open, save and save as through the host's project route. Paths are
// files as the server sees them.
import { Writes, ProjectState } from '../ksp/writes';
import { Toasts } from './toasts';
import { h } from './dom';

export class ProjectBar {
  readonly element = h('div', { class: 'project-bar' });
  private readonly fileLabel = h('span', { class: 'file', 'data-testid': 'project-file' }, '');

  constructor(
    private readonly writes: Writes,
    private readonly toasts: Toasts,
    private readonly ask: (question: string, value: string) => string | null = (q, v) => window.prompt(q, v),
  ) {
    const button = (label: string, action: () => Promise<void>) => {
      const b = h('button', { type: 'button' }, label);
      b.addEventListener('click', () => void action());
      return b;
    };
    this.element.append(
      button('New', () => this.run('/projectNew')),
      button('Open…', async () => {
        const file = this.ask('Open which project file (on the server)?', '');
        if (file) await this.run('/projectOpen', file);
      }),
      button('Save', () => this.run('/projectSave')),
      button('Save as…', async () => {
        const file = this.ask('Save the project as (a file on the server):', this.current?.file ?? '');
        if (file) await this.run('/projectSaveAs', file);
      }),
      this.fileLabel,
    );
  }

  private current: ProjectState | undefined;

  async refresh(): Promise<void> {
    await this.run('/projectInfo');
  }

  private async run(path: Parameters<Writes['project']>[0], file?: string): Promise<void> {
    try {
      this.current = await this.writes.project(path, file);
      this.fileLabel.textContent = this.current.file || 'unsaved project';
      if (path === '/projectSave' || path === '/projectSaveAs') this.toasts.show('Saved', this.current.file);
    } catch (e) {
      this.toasts.show('Project', e instanceof Error ? e.message : String(e), 2);
    }
  }
}
