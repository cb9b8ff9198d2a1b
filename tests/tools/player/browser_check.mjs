// The browser player in headless Chromium (Debian's /usr/bin/chromium through puppeteer-core),
// served by python3 -m http.server on 127.0.0.1:
//   node browser_check.mjs WORK LOGDIR
// WORK holds player/ (make_player's folder for frames 0-2 of a generated scene, frame 2
// textured), render_0.png (render_view's image of frame 0's mesh through camera 0) and
// render_tex_2.png (frame 2's textured mesh through camera 0, unlit). Checks: every .glb passes
// the Khronos validator; the page loads with no console error; the view through camera 0
// matches render_view's image, in outline for frame 0 and in colour for the textured frame;
// clicking a frustum looks through its camera; play shows 0, 1, 2; with the middle frame
// deleted its error is shown and playback reaches the last frame.
// Screenshots of failed checks go to LOGDIR.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import validator from 'gltf-validator';

const [work, logDir] = process.argv.slice(2);
const failures = [];
const fail = (what) => { failures.push(what); console.log(`FAIL: ${what}`); };

// ---- The Khronos validator on every frame ----
const frameDir = path.join(work, 'player', 'frames');
for (const name of fs.readdirSync(frameDir).filter((n) => n.endsWith('.glb'))) {
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(path.join(frameDir, name))));
  const bad = report.issues.messages.filter((m) => m.severity <= 1);
  if (bad.length) fail(`${name}: validator: ${bad.map((m) => `${m.code} ${m.message} ${m.pointer}`).join('; ')}`);
}

// ---- Server and browser ----
const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1', '-d', work],
  { stdio: ['ignore', 'pipe', 'pipe'] });
const port = await new Promise((resolve, reject) => {
  let text = '';
  server.stdout.on('data', (d) => {
    text += d;
    const m = text.match(/port (\d+)/);
    if (m) resolve(Number(m[1]));
  });
  server.on('exit', (code) => reject(new Error(`http.server exited with ${code}`)));
  setTimeout(() => reject(new Error('http.server did not start')), 10000);
});
const base = `http://127.0.0.1:${port}/player/index.html`;
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--use-gl=angle', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
});

const cameras = JSON.parse(fs.readFileSync(path.join(work, 'player', 'cameras.json'))).cameras;
const [W, H] = [cameras[0].width, cameras[0].height];

// A fresh page (own cache) with its console errors collected, at the camera's image size.
async function openPage(query = '') {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  page.errors = [];
  page.on('console', (m) => { if (m.type() === 'error') page.errors.push(m.text()); });
  page.on('pageerror', (e) => page.errors.push(String(e)));
  await page.setViewport({ width: W, height: H, deviceScaleFactor: 1 });
  await page.goto(base + query, { waitUntil: 'load' });
  await page.evaluate(() => window.player.ready);
  // An image's pixels (RGBA ImageData), decoded in the page.
  await page.evaluate(() => {
    window.pixels = async (url) => {
      const img = new Image();
      img.src = url;
      await img.decode();
      const c = document.createElement('canvas');
      [c.width, c.height] = [img.width, img.height];
      const ctx = c.getContext('2d');
      ctx.drawImage(img, 0, 0);
      return ctx.getImageData(0, 0, img.width, img.height);
    };
  });
  return page;
}

// Runs one check on `page`; a failed check leaves a screenshot in LOGDIR.
async function check(name, page, body) {
  const before = failures.length;
  try {
    await body();
  } catch (e) {
    fail(`${name}: ${e.message}`);
  }
  if (failures.length > before) {
    fs.mkdirSync(logDir, { recursive: true });
    await page.screenshot({ path: path.join(logDir, `${name}.png`) }).catch(() => {});
  }
}

// Records every text the frame number and the message show, from now on.
async function watchLabels(page) {
  await page.evaluate(() => {
    window.seen = [];
    const note = () => window.seen.push([document.getElementById('frame').textContent,
      document.getElementById('message').textContent]);
    note();
    const observer = new MutationObserver(note);
    for (const id of ['frame', 'message']) {
      observer.observe(document.getElementById(id), { childList: true, characterData: true, subtree: true });
    }
  });
}

try {
  // One page for the checks that need every frame; a fresh one without the middle frame.
  const page = await openPage();
  await check('loads', page, async () => {
    await page.waitForFunction(() => window.player.state().shown === 0, { timeout: 20000 });
    // Let the prefetch of the other frames finish too.
    await page.waitForFunction(() => window.player.state().stats.loaded === 3, { timeout: 20000 });
    if (page.errors.length) fail(`loads: console errors: ${page.errors.join(' | ')}`);
  });

  await check('plays', page, async () => {
    await watchLabels(page);
    await page.click('#play');
    await page.waitForFunction(() => !window.player.state().playing, { timeout: 20000 });
    const frames = (await page.evaluate(() => window.seen)).map((s) => s[0])
      .filter((f, i, all) => i === 0 || f !== all[i - 1]);
    if (frames.join(',') !== '0,1,2') fail(`plays: frame numbers shown ${frames.join(',')}, expected 0,1,2`);
  });

  await check('camera_view', page, async () => {
    await page.evaluate(() => { window.player.seek(0); window.player.setView(0); });
    if ((await page.evaluate(() => window.player.state().shown)) !== 0) throw new Error('frame 0 is not shown');
    const mask = await page.evaluate(() => window.player.snapshot({ mask: true }));
    // Both images decoded in the page: the object is white in the mask, drawn over black by
    // render_view.
    const iou = await page.evaluate(async (maskUrl) => {
      const a = await window.pixels(maskUrl), b = await window.pixels('../render_0.png');
      if (a.width !== b.width || a.height !== b.height) return `sizes ${a.width}x${a.height} and ${b.width}x${b.height}`;
      let both = 0, either = 0;
      for (let i = 0; i < a.data.length; i += 4) {
        const inA = a.data[i] >= 128;
        const inB = b.data[i] > 0 || b.data[i + 1] > 0 || b.data[i + 2] > 0;
        both += inA && inB;
        either += inA || inB;
      }
      return either ? both / either : 'no object pixels';
    }, mask);
    console.log(`camera 0 view against render_view: IoU ${iou}`);
    if (!(iou >= 0.97)) fail(`camera_view: IoU ${iou} < 0.97`);
  });

  await check('textured', page, async () => {
    // Where render_view draws the textured frame, the player's unlit colours must match its
    // atlas as render_view samples it. A texture read upside down or from the wrong atlas
    // spot differs by 50 or so grey levels on the scene's checker; filtering and the outline
    // leave under 10.
    await page.evaluate(() => {
      const cams = document.getElementById('show-cameras');
      if (cams.checked) cams.click();
      window.player.seek(2);
      window.player.setView(0);
    });
    if ((await page.evaluate(() => window.player.state().shown)) !== 2) throw new Error('frame 2 is not shown');
    const shot = await page.evaluate(() => window.player.snapshot());
    const [n, mean] = await page.evaluate(async (shot) => {
      const a = (await window.pixels(shot)).data, b = (await window.pixels('../render_tex_2.png')).data;
      let count = 0, sum = 0;
      for (let i = 0; i < a.length; i += 4) {
        if (b[i] + b[i + 1] + b[i + 2] === 0) continue;
        count++;
        sum += (Math.abs(a[i] - b[i]) + Math.abs(a[i + 1] - b[i + 1]) + Math.abs(a[i + 2] - b[i + 2])) / 3;
      }
      return [count, count ? sum / count : NaN];
    }, shot);
    console.log(`textured frame 2 through camera 0: mean difference ${mean.toFixed(1)} grey levels over ${n} pixels`);
    if (!(n > 1000 && mean < 20)) fail(`textured: mean difference ${mean} over ${n} pixels (at most 20 expected)`);
    await page.evaluate(() => document.getElementById('show-cameras').click());
  });

  await check('views', page, async () => {
    // Pixels that are neither background nor letterbox, with the toggles set as given.
    const drawn = (boxes) => page.evaluate(async (boxes) => {
      for (const [id, on] of Object.entries(boxes)) {
        const box = document.getElementById(id);
        if (box.checked !== on) box.click();
      }
      const d = (await window.pixels(window.player.snapshot())).data;
      let n = 0;
      for (let i = 0; i < d.length; i += 4) n += d[i] + d[i + 1] + d[i + 2] > 0 && !(d[i] === 32 && d[i + 2] === 40);
      return n;
    }, boxes);
    const none = { surface: false, wireframe: false, points: false, 'show-cameras': false };
    const counts = [await drawn({ ...none, surface: true }), await drawn(none),
      await drawn({ ...none, wireframe: true }), await drawn({ ...none, points: true })];
    if (!(counts[0] > 1000 && counts[1] === 0 && counts[2] > 0 && counts[3] > 0))
      fail(`views: pixels drawn with surface, nothing, wireframe, points: ${counts.join(', ')}`);
    await drawn({ ...none, surface: true, 'show-cameras': true });
    // Another frame shows its own geometry.
    const masks = await page.evaluate(() => [0, 2].map((i) => {
      window.player.seek(i);
      return window.player.snapshot({ mask: true });
    }));
    if (masks[0] === masks[1]) fail('views: frames 0 and 2 draw the same picture');
  });

  await check('click_camera', page, async () => {
    await page.evaluate(() => window.player.overview());
    // The camera nearest the viewer among those whose frustum is in the picture.
    const target = await page.evaluate((W, H) => window.player.pickableCamera(W, H), W, H);
    if (target < 0) throw new Error('no frustum in the overview');
    const [x, y] = await page.evaluate((i) => window.player.frustumPoint(i), target);
    await page.mouse.click(x, y);
    const view = await page.evaluate(() => window.player.state().view);
    if (view !== target) fail(`click_camera: clicked camera ${target}'s frustum, view is ${view}`);
  });
  await page.browserContext().close();

  fs.renameSync(path.join(frameDir, 'frame_000001.glb'), path.join(work, 'moved.glb'));
  try {
    const broken = await openPage();
    await check('missing_frame', broken, async () => {
      await broken.waitForFunction(() => window.player.state().shown === 0, { timeout: 20000 });
      await watchLabels(broken);
      await broken.click('#play');
      await broken.waitForFunction(() => !window.player.state().playing, { timeout: 20000 });
      const seen = await broken.evaluate(() => window.seen);
      const last = seen[seen.length - 1][0];
      if (last !== '2') fail(`missing_frame: playback ended at frame ${last}, not 2`);
      const atOne = seen.filter(([f, m]) => f === '1' && m.includes('frame 1') && m.includes('frame_000001.glb'));
      if (!atOne.length) fail(`missing_frame: no error named frame 1 while it was shown: ${JSON.stringify(seen)}`);
    });
  } finally {
    fs.renameSync(path.join(work, 'moved.glb'), path.join(frameDir, 'frame_000001.glb'));
  }
} finally {
  await browser.close();
  server.kill();
}

if (failures.length) {
  console.log(`player: ${failures.length} check(s) failed; screenshots in ${logDir}`);
  process.exit(1);
}
console.log('player: all checks passed');
