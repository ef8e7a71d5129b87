// Bundles the browser client and its tests with esbuild.
//   node build.mjs --gen DIR --modules DIR --out DIR [--tests DIR]
// --gen: TypeScript that flatc generated from the wire schemas (imported as
// "@wire/..."); --modules: the node_modules of `npm ci`; --out: the folder
// qorserver serves; --tests: where the compiled *.test.mjs (and the
// measuring scripts, *.bench.mjs) go.
import { createRequire } from 'node:module';
import { copyFile, mkdir, readdir } from 'node:fs/promises';
import { dirname, join, relative, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const args = {};
for (let i = 2; i < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
for (const required of ['gen', 'modules', 'out']) {
  if (!args[required]) {
    console.error(`build.mjs: --${required} is missing`);
    process.exit(2);
  }
}

// esbuild comes from the build tree's node_modules, not from beside this file.
const { build } = createRequire(join(resolve(args.modules), 'noop.js'))('esbuild');

const common = {
  bundle: true,
  alias: { '@wire': resolve(args.gen) },
  nodePaths: [resolve(args.modules)],
  loader: { '.css': 'text' },
  logLevel: 'warning',
  target: 'es2020',
};

await mkdir(args.out, { recursive: true });
await build({
  ...common,
  entryPoints: [join(here, 'src/main.ts')],
  outfile: join(args.out, 'app.js'),
  format: 'iife',
  minify: true,
  sourcemap: 'linked',
});
await copyFile(join(here, 'static/index.html'), join(args.out, 'index.html'));

async function testFiles(dir) {
  const found = [];
  for (const entry of await readdir(dir, { withFileTypes: true })) {
    const path = join(dir, entry.name);
    if (entry.isDirectory()) found.push(...(await testFiles(path)));
    else if (/\.(test|bench)\.ts$/.test(entry.name)) found.push(path);
  }
  return found;
}

if (args.tests) {
  const root = join(here, 'test');
  const entries = await testFiles(root);
  await build({
    ...common,
    entryPoints: Object.fromEntries(entries.map((f) => [relative(root, f).replace(/\.ts$/, ''), f])),
    outdir: args.tests,
    outExtension: { '.js': '.mjs' },
    platform: 'node',
    format: 'esm',
    target: 'node20',
    // Run from the build tree, where npm ci put them.
    external: ['playwright-core'],
    sourcemap: 'inline',
  });
}
