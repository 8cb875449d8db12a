// The service as a web page in a real browser uses it: headless Chromium (Debian's) loads the
// test page from a local HTTP server of this test, the page talks to ws://127.0.0.1:37989, draws
// a label, shows its preview, prints two copies and lists the events. The test checks the
// preview's size and the events, and saves a screenshot under the build folder.
//
//   KV_BUILD_DIR=build node --test tests/browser/    (under the port lock: the port is shared)
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, "../..");
const buildDir = path.resolve(root, process.env.KV_BUILD_DIR || "build");
const workDir = path.join(buildDir, "browser");
const servicePort = 37989;

let service;
let pageServer;
let pageUrl;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// True when the process itself listens on the port (not a service left over from someone else).
function listensOnPort(pid, port) {
  const wanted = ":" + port.toString(16).toUpperCase().padStart(4, "0");
  const inodes = new Set();
  for (const line of fs.readFileSync("/proc/net/tcp", "utf8").split("\n").slice(1)) {
    const fields = line.trim().split(/\s+/);
    if (fields.length > 9 && fields[3] === "0A" && fields[1].endsWith(wanted)) inodes.add(fields[9]);
  }
  let links = [];
  try {
    links = fs.readdirSync(`/proc/${pid}/fd`).map((fd) => {
      try { return fs.readlinkSync(`/proc/${pid}/fd/${fd}`); } catch { return ""; }
    });
  } catch {
    return false;
  }
  return links.some((link) => link.startsWith("socket:[") && inodes.has(link.slice(8, -1)));
}

before(async () => {
  fs.mkdirSync(workDir, { recursive: true });
  const serviceWork = path.join(workDir, "service");
  service = spawn(path.join(here, "launchService.sh"), [path.join(buildDir, "bin"), serviceWork], { stdio: "ignore" });
  let exited = false;
  service.on("exit", () => { exited = true; });
  const until = Date.now() + 60000;
  while (!listensOnPort(service.pid, servicePort)) {
    assert.ok(!exited, "the service ended before it listened; see " + path.join(serviceWork, "stderr.txt"));
    assert.ok(Date.now() < until, "the service did not listen on " + servicePort);
    await sleep(50);
  }

  const page = fs.readFileSync(path.join(here, "labelPage.html"));
  pageServer = http.createServer((request, response) => {
    if (request.url !== "/") {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { "content-type": "text/html; charset=utf-8" }).end(page);
  });
  await new Promise((resolve) => pageServer.listen(0, "127.0.0.1", resolve));
  pageUrl = `http://127.0.0.1:${pageServer.address().port}/`;
});

after(async () => {
  if (pageServer) await new Promise((resolve) => pageServer.close(resolve));
  if (service && service.exitCode === null) {
    service.kill("SIGTERM");
    await new Promise((resolve) => service.once("exit", resolve));
  }
});

test("a web page draws, previews and prints a label through the service", async () => {
  // This machine's closed network refuses Chromium's background connections: none are made.
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "kv-browser-profile-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.KV_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    viewport: { width: 900, height: 1000 },
  });
  try {
    const page = await context.newPage();
    const consoleErrors = [];
    page.on("console", (message) => { if (message.type() === "error") consoleErrors.push(message.text()); });
    await page.goto(pageUrl);
    await page.waitForFunction(() => window.testResult && window.testResult.done, null, { timeout: 120000 });
    const result = await page.evaluate(() => window.testResult);
    const screenshot = path.join(workDir, "label-page.png");
    await page.screenshot({ path: screenshot, fullPage: true });
    console.log("screenshot: " + screenshot);

    assert.equal(result.failed, null);
    assert.deepEqual(consoleErrors, []);

    // 50 by 30 mm at the display scale 8.
    const size = await page.evaluate(() => {
      const img = document.getElementById("preview");
      return { width: img.naturalWidth, height: img.naturalHeight, complete: img.complete };
    });
    assert.deepEqual(size, { width: 400, height: 240, complete: true });

    assert.equal(result.answers.commitJob.resultAck.info, "commitJobApi Success!");
    const progress = result.events.filter((e) => e.apiName === "commitJob" && "printCopies" in e.resultAck);
    assert.deepEqual(progress.map((e) => [e.resultAck.printPages, e.resultAck.printCopies]), [[1, 1], [1, 2]]);
    const finished = result.events.filter((e) => e.apiName === "commitJob" && e.resultAck.info === "commitJob ok!");
    assert.equal(finished.length, 1);
    assert.deepEqual(finished[0].resultAck, { errorCode: 0, info: "commitJob ok!", result: 0 });
    // The page lists every event it received.
    const listed = await page.locator("#events li").count();
    assert.equal(listed, result.events.length);
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
});
