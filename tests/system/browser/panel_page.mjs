// Opens the live page of the virtual panel in headless Chromium while the demo runs, and checks
// what a person at the browser would see: the demo's text on the three screens (canvas pixels
// against the font's glyphs and against the daemon's pictures), LEDs that change without a
// reload, the trace narrowed to one connection, and, after it stops the demo (SIGTERM to
// DEMO_PID) and the demo says in DEMO_LOG that all it started has ended, the page showing the
// board disconnected and a PSU switch that cannot reach it. Saves a screenshot while the demo
// runs.
//
//   node panel_page.mjs PAGE_URL GLYPHLINE FONT SCREENSHOT DEMO_PID DEMO_LOG
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { chromium } from "playwright-core";

const [pageUrl, glyphline, font, screenshot, demoPid, demoLog] = process.argv.slice(2);
if (!demoLog) {
  console.error("usage: node panel_page.mjs PAGE_URL GLYPHLINE FONT SCREENSHOT DEMO_PID DEMO_LOG");
  process.exit(2);
}

const SIDE = 128;
const WAIT_MS = 20000;
// The first line of each screen as the demo's show writes it: white on black.
const FIRST_LINES = ["    TESSERAX    ", "  picture demo  ", "  LEDs & text   "];

let passes = 0;
let failures = 0;
function check(ok, what) {
  console.log((ok ? "ok      " : "FAILED  ") + what);
  if (ok) passes += 1; else failures += 1;
}

function rgb565ToRgb(v) {
  const r = (v >> 11) & 0x1f, g = (v >> 5) & 0x3f, b = v & 0x1f;
  return [(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)];
}

// RGB triples, row by row, of a line rendered from the font by the glyphline helper.
function expectedLine(text) {
  const words = execFileSync(glyphline, [font, String(SIDE), text, "0xFFFF", "0x0000"]);
  const rgb = [];
  for (let i = 0; i < words.length; i += 2) rgb.push(...rgb565ToRgb(words.readUInt16LE(i)));
  return rgb;
}

async function daemonPicture(n) {
  const answer = await fetch(new URL("api/screen/" + n + ".rgb565", pageUrl));
  const words = Buffer.from(await answer.arrayBuffer());
  const rgb = [];
  for (let i = 0; i < words.length; i += 2) rgb.push(...rgb565ToRgb(words.readUInt16LE(i)));
  return rgb;
}

// RGB triples of the first `rows` rows of a screen's canvas as the page drew it.
function canvasRows(page, n, rows) {
  return page.evaluate(([index, count, side]) => {
    const canvas = document.getElementById("screen-canvas-" + index);
    const data = canvas.getContext("2d").getImageData(0, 0, side, count).data;
    const rgb = [];
    for (let i = 0; i < data.length; i += 4) rgb.push(data[i], data[i + 1], data[i + 2]);
    return rgb;
  }, [n, rows, SIDE]);
}

function samePixels(a, b) {
  return a.length === b.length && a.every((v, i) => v === b[i]);
}

async function eventually(condition) {
  const deadline = Date.now() + WAIT_MS;
  while (Date.now() < deadline) {
    if (await condition()) return true;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  return false;
}

const isLit = (page, id) => page.evaluate((element) => document.getElementById(element).classList.contains("lit"), id);
const isChecked = (page, id) => page.evaluate((element) => document.getElementById(element).checked, id);
// The connection column of every line the trace shows.
const traceConnections = (page) => page.$$eval("#trace li:not(.empty) .conn", (cells) => cells.map((c) => c.textContent));

const userDataDir = mkdtempSync(join(tmpdir(), "panel-chromium-"));
const context = await chromium.launchPersistentContext(userDataDir, {
  executablePath: "/usr/bin/chromium",
  headless: true,
  viewport: { width: 1440, height: 900 },
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
try {
  const page = context.pages()[0] || await context.newPage();
  page.on("pageerror", (error) => check(false, "no script error on the page: " + error.message));
  await page.goto(pageUrl);
  check(await eventually(async () => (await page.textContent("#link-text")) === "live"), "the page reaches the board");
  // Survives only as long as the page is not loaded again.
  await page.evaluate(() => { window.loadedOnce = true; });

  for (let n = 0; n < 3; ++n) {
    check(await eventually(() => page.evaluate((i) => document.getElementById("screen-" + i).classList.contains("on"), n)),
      "screen " + n + " is shown as on");
    const expected = expectedLine(FIRST_LINES[n]);
    const rows = expected.length / (3 * SIDE);
    check(await eventually(async () => samePixels(await canvasRows(page, n, rows), expected)),
      "screen " + n + " shows the demo's text '" + FIRST_LINES[n].trim() + "' in the font's glyphs");
  }
  // Screens 1 and 2 stay as the show left them; screen 0 carries a running clock.
  for (const n of [1, 2]) {
    check(await eventually(async () => samePixels(await canvasRows(page, n, SIDE), await daemonPicture(n))),
      "screen " + n + " on the page is the board's picture pixel for pixel");
  }

  // Button 8 blinks: the page must show it both lit and dark without being loaded again.
  check(await eventually(() => isLit(page, "button-8")) && await eventually(async () => !(await isLit(page, "button-8"))),
    "the blinking button LED 8 is seen lit and dark");

  // Both supplies pulled through the page's switches: lampwatch darkens the PSU LED through keylight.
  check(await eventually(() => isLit(page, "toggle-0")), "the PSU LED is lit while both supplies are in");
  await page.click("label:has(#psu-0) .track");
  await page.click("label:has(#psu-1) .track");
  check(await eventually(async () => !(await isLit(page, "toggle-0"))), "the PSU LED goes dark when both supplies are out");
  await page.click("label:has(#psu-0) .track");
  check(await eventually(() => isLit(page, "toggle-0")), "the PSU LED lights again with one supply back");
  await page.click("label:has(#psu-1) .track");
  check(await page.evaluate(() => window.loadedOnce === true), "the page was never loaded again");

  check((await page.textContent("#buttons-note")).includes("LED outputs"), "the buttons are marked as LED outputs");
  check((await page.textContent("#trace-head .conn")) === "conn", "the trace's first column is labelled");
  // The demo has at least keylight's and lampwatch's connections; the last one offered is picked.
  check(await eventually(async () => (await page.$$("#trace-connection option")).length >= 3),
    "the trace offers each connection on its own");
  const picked = await page.$eval("#trace-connection option:last-child", (option) => option.value);
  await page.selectOption("#trace-connection", picked);
  check(await eventually(async () => {
    const shown = await traceConnections(page);
    return shown.length > 0 && shown.every((conn) => conn === picked);
  }), "with connection " + picked + " picked, the trace shows its lines alone");
  await page.selectOption("#trace-connection", "");
  check(await eventually(async () => new Set(await traceConnections(page)).size >= 2),
    "with every connection picked again, the trace shows several");

  await eventually(() => isChecked(page, "psu-1"));
  await page.screenshot({ path: screenshot });
  console.log("screenshot: " + screenshot);

  process.kill(Number(demoPid), "SIGTERM");
  // The page shows the board disconnected at its first poll that fails, while panelsim may
  // still be ending: a request on a connection it had already accepted is still answered, and
  // a PSU switch would reach the board then. The demo's last line comes once all has ended.
  check(await eventually(() => readFileSync(demoLog, "utf8").endsWith("demo: stopped\n")),
    "the demo stops on SIGTERM");
  check(await eventually(async () => (await page.textContent("#link-text")) === "disconnected" &&
    await page.evaluate(() => document.body.classList.contains("disconnected") &&
      getComputedStyle(document.getElementById("disconnected")).display !== "none")),
  "once the demo has stopped, the page shows the board disconnected");
  const wasIn = await isChecked(page, "psu-0");
  await page.click("label:has(#psu-0) .track");
  check(await eventually(async () => (await isChecked(page, "psu-0")) === wasIn &&
    (await page.textContent("#error")).startsWith("PSU 1 not switched")),
  "a PSU switch that cannot reach the board goes back and says why");
  console.log("the page says: " + await page.textContent("#error"));
} finally {
  await context.close();
  rmSync(userDataDir, { recursive: true, force: true });
}

console.log("browser: " + passes + " passed, " + failures + " failed");
process.exit(failures === 0 ? 0 : 1);
