// Browser half of bench/player_bench.sh: node player_bench.mjs WORK WIDTH HEIGHT
// First decodes DECODE frames of each folder in DECODED (comma-separated, under WORK) with
// WORK/player_decode.html, one at a time, on the page's thread and on one worker. Then plays
// WORK/player_<kind> for each of KINDS (default "compressed uncompressed") in headless
// Chromium and prints fetch and decode time per frame, frames shown per second once the cache
// is warm, the longest gap between frames, the page's peak memory, and the cost of showing a
// frame (the swap, and the draw of a new frame) against a redraw of the same frame. QUERY
// (e.g. "?antialias=0") is added to the page's address.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import puppeteer from 'puppeteer-core';

const [work, width, height] = process.argv.slice(2);
const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1', '-d', work],
  { stdio: ['ignore', 'pipe', 'ignore'] });
const port = await new Promise((resolve) => {
  let text = '';
  server.stdout.on('data', (d) => {
    text += d;
    const m = text.match(/port (\d+)/);
    if (m) resolve(Number(m[1]));
  });
});
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--use-gl=angle', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
});

// Resident memory of the browser and all its descendants, bytes.
function browserRss() {
  const children = new Map();
  const rss = new Map();
  for (const pid of fs.readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      const ppid = fields[1];
      if (!children.has(ppid)) children.set(ppid, []);
      children.get(ppid).push(pid);
      rss.set(pid, Number(fields[21]) * 4096);
    } catch { /* the process ended */ }
  }
  // All of them, and the page's renderer and the GPU process (software WebGL's buffers) alone.
  const out = { total: 0, renderer: 0, gpu: 0 };
  const stack = [String(browser.process().pid)];
  while (stack.length) {
    const pid = stack.pop();
    const bytes = rss.get(pid) || 0;
    out.total += bytes;
    let cmd = '';
    try { cmd = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8'); } catch { /* ended */ }
    if (cmd.includes('--type=renderer')) out.renderer = Math.max(out.renderer, bytes);
    if (cmd.includes('--type=gpu-process')) out.gpu = Math.max(out.gpu, bytes);
    stack.push(...(children.get(pid) || []));
  }
  return out;
}

const mb = (b) => (b / 1e6).toFixed(0);
try {
  if (process.env.DECODED) {
    const page = await (await browser.createBrowserContext()).newPage();
    for (const workers of [0, 1]) {
      await page.goto(`http://127.0.0.1:${port}/player_decode.html?dirs=${process.env.DECODED}` +
        `&frames=${process.env.DECODE || 30}&workers=${workers}`);
      const r = await page.evaluate(() => window.results);
      if (r.error) throw new Error(r.error);
      for (const [dir, v] of Object.entries(r)) {
        const where = dir.includes('draco') ? 'on its worker' : workers ? 'on a worker' : 'on the page\'s thread';
        console.log(`decode, ${dir}, ${where}: ` +
          `${v.bytes.toFixed(0)} bytes and ${v.decodeMs.toFixed(1)} ms per frame (longest ` +
          `${v.longestMs.toFixed(1)} ms; ${v.vertices} vertices)`);
      }
    }
    await page.browserContext().close();
  }
  for (const kind of (process.env.KINDS || 'compressed uncompressed').split(' ')) {
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    await page.setViewport({ width: Number(width), height: Number(height), deviceScaleFactor: 1 });
    let peakHeap = 0;
    const peak = { total: 0, renderer: 0, gpu: 0 };
    const sample = async () => {
      const m = await page.metrics().catch(() => ({}));
      peakHeap = Math.max(peakHeap, m.JSHeapUsedSize || 0);
      const now = browserRss();
      for (const k of Object.keys(peak)) peak[k] = Math.max(peak[k], now[k]);
    };
    const sampler = setInterval(sample, 200);
    await page.goto(`http://127.0.0.1:${port}/player_${kind}/index.html${process.env.QUERY || ''}`);
    const ready = await page.evaluate(async () => { await window.player.ready; return performance.now(); });
    const n = await page.evaluate(() => window.player.frames());
    // Warm: the first 40 frames loaded, drawing only frame 0 meanwhile (the loading rate).
    await page.waitForFunction(() => window.player.state().stats.loaded >= 40, { timeout: 120000, polling: 100 });
    const warm = await page.evaluate(() => [performance.now(), window.player.state().stats.loaded]);
    const loadRate = warm[1] / ((warm[0] - ready) / 1000);
    const t0 = await page.evaluate(() => { window.player.setPlaying(true); return performance.now(); });
    await page.waitForFunction(() => !window.player.state().playing, { timeout: 600000, polling: 250 });
    clearInterval(sampler);
    await sample();
    const s = await page.evaluate(() => window.player.state());
    const log = s.shownLog.filter(([t]) => t >= t0);
    let gap = 0;
    for (let i = 1; i < log.length; ++i) gap = Math.max(gap, log[i][0] - log[i - 1][0]);
    const span = (log[log.length - 1][0] - log[0][0]) / 1000;
    const st = s.stats;
    console.log(`browser, ${kind}: fetch ${(st.fetchMs / st.loaded).toFixed(1)} ms and decode ` +
      `${(st.decodeMs / st.loaded).toFixed(1)} ms per frame (mean of ${st.loaded}); loading ` +
      `${loadRate.toFixed(1)} frames/s while warming up; played ` +
      `${log.length} of ${n} frames at ${((log.length - 1) / span).toFixed(1)} frames/s ` +
      `(longest gap ${gap.toFixed(0)} ms); peak memory (resident): page renderer ` +
      `${mb(peak.renderer)} MB (JS heap ${mb(peakHeap)} MB, geometry outside it), GPU process ` +
      `${mb(peak.gpu)} MB, browser in all ${mb(peak.total)} MB; frames held at the end: ${st.held}, ` +
      `evicted: ${st.evicted}`);
    // What one frame costs: the first 20 frames (loaded again after a jump back) shown in turn,
    // and the last of them drawn again 20 times, each draw read back so that the rasteriser
    // has finished.
    await page.evaluate(() => window.player.seek(0));
    await page.waitForFunction(() => [...Array(20).keys()].every((i) =>
      window.player.entry(i) && window.player.entry(i).state === 'ready'), { timeout: 120000, polling: 100 });
    const cost = await page.evaluate(() => {
      const indices = [...Array(20).keys()];
      const swap = window.player.measureDraw(indices);
      const same = window.player.measureDraw(indices.map(() => 19), true);
      return { swap, same };
    });
    console.log(`   per frame shown: swap ${cost.swap.showMs.toFixed(2)} ms of JavaScript, then ` +
      `${cost.swap.drawMs.toFixed(1)} ms to draw it (geometry upload and rasteriser); the same ` +
      `frame drawn again: ${cost.same.drawMs.toFixed(1)} ms (rasteriser alone)`);
    await context.close();
  }
} finally {
  await browser.close();
  server.kill();
}
