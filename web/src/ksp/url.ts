// ws(s)://the page's host/ksp, with the page's token when it has one.
export function kspUrl(location: { protocol: string; host: string; search: string }): string {
  const token = new URLSearchParams(location.search).get('token');
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  return `${scheme}//${location.host}/ksp${token ? `?token=${encodeURIComponent(token)}` : ''}`;
}
