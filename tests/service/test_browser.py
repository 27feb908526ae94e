"""What the service exists for: a page of another origin, in a real browser,
calls the service with fetch and reads the answer."""
import json
import subprocess
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


PAGE = b"""<!doctype html><html><body><script>
(async () => {
  const out = {};
  async function attempt(name, url, options) {
    try { const r = await fetch(url, options); out[name] = await r.text(); }
    catch (e) { out[name] = 'error: ' + e.name; }
  }
  await attempt('post', 'http://127.0.0.1:14007/echo', {method: 'POST', body: new URLSearchParams({value: 'abc'})});
  await attempt('post_tls', 'https://127.0.0.1:14407/echo', {method: 'POST', body: 'value=xyz'});
  await attempt('get', 'http://127.0.0.1:14007/echo', {method: 'GET'});
  try {
    const r = await fetch('http://127.0.0.1:14007/getLastErr', {method: 'POST'});
    out.last_error = Array.from(new Uint8Array(await r.arrayBuffer()), b => b.toString(16)).join(' ');
  } catch (e) { out.last_error = 'error: ' + e.name; }
  await fetch('/result', {method: 'POST', body: JSON.stringify(out)});
})();
</script></body></html>"""


class PageServer(BaseHTTPRequestHandler):
    results = []
    arrived = threading.Event()

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        PageServer.results.append(json.loads(body))
        PageServer.arrived.set()
        self.send_response(204)
        self.end_headers()

    def log_message(self, *args):
        pass


def test_page_of_another_origin_reads_post_answers_only(service, tmp_path):
    server = ThreadingHTTPServer(("127.0.0.1", 8000), PageServer)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    browser = subprocess.Popen(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--ignore-certificate-errors", f"--user-data-dir={tmp_path / 'profile'}",
         "--remote-debugging-port=0", "http://127.0.0.1:8000/page.html"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        assert PageServer.arrived.wait(90), "the page never reported"
    finally:
        browser.terminate()
        try:
            browser.wait(20)
        except subprocess.TimeoutExpired:
            browser.kill()
        server.shutdown()
    result = PageServer.results[0]
    assert result["post"] == "abc"
    assert result["post_tls"] == "xyz"
    assert result["get"].startswith("error: ")  # no Access-Control-Allow-Origin on GET
    assert result["last_error"] == "ef bb bf"  # the bytes as sent; text() would drop the mark
