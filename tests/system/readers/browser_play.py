#!/usr/bin/python3
"""Plays a video file in headless Chromium's <video> element to its end and prints what the page saw,
as JSON: {"duration", "currentTime", "ended", "frames", "videoBytes", "audioBytes", "error"}.
Usage: browser_play.py FILE [timeout-seconds]"""
import asyncio, json, os, pathlib, shutil, subprocess, sys, tempfile, time, urllib.request

PAGE = """<!doctype html><meta charset=utf-8><body>
<video id=v muted playsinline preload=auto></video>
<script>
const v = document.getElementById('v');
let frames = 0;
function onFrame() { frames++; v.requestVideoFrameCallback(onFrame); }
v.requestVideoFrameCallback(onFrame);
window.result = new Promise(resolve => {
  const report = (error) => resolve({
    duration: v.duration, currentTime: v.currentTime, ended: v.ended, frames,
    videoBytes: v.webkitVideoDecodedByteCount, audioBytes: v.webkitAudioDecodedByteCount,
    width: v.videoWidth, height: v.videoHeight, error });
  v.addEventListener('ended', () => report(null));
  v.addEventListener('error', () => report('media error ' + (v.error ? v.error.code + ' ' + v.error.message : '?')));
  v.addEventListener('loadedmetadata', () => { window.metaDuration = v.duration; });
  v.src = SRC;
  v.playbackRate = RATE;
  v.play().catch(e => report('play: ' + e));
});
</script>"""


async def evaluate(ws_url, expression, timeout):
    import websockets
    async with websockets.connect(ws_url, max_size=None) as ws:
        await ws.send(json.dumps({"id": 1, "method": "Runtime.evaluate",
                                  "params": {"expression": expression, "awaitPromise": True,
                                             "returnByValue": True}}))
        while True:
            msg = json.loads(await asyncio.wait_for(ws.recv(), timeout))
            if msg.get("id") == 1:
                return msg


def main():
    video = pathlib.Path(sys.argv[1]).resolve()
    timeout = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    rate = float(os.environ.get("PLAYBACK_RATE", "2"))
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser:
        print(json.dumps({"error": "chromium is not installed"})); return 2
    work = pathlib.Path(tempfile.mkdtemp(prefix="browser-play-"))
    page = work / "play.html"
    page.write_text(PAGE.replace("SRC", json.dumps(video.as_uri())).replace("RATE", repr(rate)))
    profile = work / "profile"
    args = [browser, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
            "--autoplay-policy=no-user-gesture-required", "--allow-file-access-from-files",
            "--remote-debugging-port=0", f"--user-data-dir={profile}", page.as_uri()]
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=open(work / "stderr", "w"))
    try:
        port_file = profile / "DevToolsActivePort"
        deadline = time.time() + 30
        while not port_file.exists() or not port_file.read_text().strip():
            if time.time() > deadline or proc.poll() is not None:
                print(json.dumps({"error": "chromium did not start: " + (work / "stderr").read_text()[-500:]}))
                return 2
            time.sleep(0.1)
        port = port_file.read_text().split()[0]
        page_ws = None
        while page_ws is None and time.time() < deadline:
            for t in json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list")):
                if t.get("type") == "page" and t.get("url", "").endswith("play.html"):
                    page_ws = t["webSocketDebuggerUrl"]
            time.sleep(0.1)
        # The page may not have run its script yet: wait for window.result to exist.
        expr = ("(async () => { while (!window.result) await new Promise(r => setTimeout(r, 50));"
                " return await window.result; })()")
        # The page may still be loading when the first evaluation reaches it (the browser opens
        # about:blank first): its context then goes away, and the page is asked again.
        for _ in range(50):
            msg = asyncio.run(evaluate(page_ws, expr, timeout))
            message = msg.get("error", {}).get("message", "")
            if "context" not in message.lower():
                break
            time.sleep(0.1)
        value = msg.get("result", {}).get("result", {}).get("value")
        if value is None:
            value = {"error": "no result: " + json.dumps(msg)[:500]}
        print(json.dumps(value))
        return 0 if not value.get("error") else 1
    except asyncio.TimeoutError:
        print(json.dumps({"error": f"playback did not end within {timeout} s"}))
        return 1
    finally:
        proc.kill()
        proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
