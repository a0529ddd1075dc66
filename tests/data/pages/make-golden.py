#!/usr/bin/env python3
"""Regenerates the *.golden.json files from a real browser engine.

Serves every page of pages.json from a loopback HTTP server, at the address and with
the Content-Type charset the manifest gives, loads each in headless chromium through
golden.html/golden.js and writes what the browser's DOM reports next to the page.

Usage: tests/data/pages/make-golden.py [page-file ...]   (needs Debian's chromium)
"""
import base64
import http.server
import json
import os
import re
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
PORT = 47613  # part of every recorded address; the tests use the same one


def load_manifest():
    with open(os.path.join(HERE, 'pages.json'), encoding='utf-8') as f:
        return json.load(f)


class Handler(http.server.BaseHTTPRequestHandler):
    manifest = []

    def log_message(self, *args):
        pass

    def do_GET(self):
        path = self.path.split('?', 1)[0]
        for name in ('golden.html', 'golden.js'):
            if path == '/__' + name:
                return self.send_file(os.path.join(HERE, name),
                                      'text/javascript' if name.endswith('.js') else 'text/html; charset=utf-8')
        for page in self.manifest:
            if page['path'] == path:
                ctype = 'text/html'
                if page.get('charset'):
                    ctype += '; charset=' + page['charset']
                return self.send_file(os.path.join(HERE, page['file']), ctype)
        self.send_response(404)
        self.end_headers()

    def send_file(self, file, ctype):
        with open(file, 'rb') as f:
            data = f.read()
        self.send_response(200)
        self.send_header('Content-Type', ctype)
        self.send_header('Content-Length', str(len(data)))
        self.send_header('Cache-Control', 'no-store')
        self.end_headers()
        self.wfile.write(data)


def run_browser(page_path):
    wrapper = 'http://127.0.0.1:%d/__golden.html?page=%s' % (PORT, page_path)
    with tempfile.TemporaryDirectory() as profile:
        dom = subprocess.run(
            ['chromium', '--headless', '--no-sandbox', '--disable-gpu',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             '--no-first-run', '--user-data-dir=' + profile, '--virtual-time-budget=15000',
             '--dump-dom', wrapper],
            capture_output=True, text=True, timeout=120).stdout
    m = re.search(r'<pre id="out">([^<]*)</pre>', dom)
    if not m or m.group(1) in ('PENDING', '') or m.group(1).startswith('ERROR'):
        raise RuntimeError('no result for %s: %s' % (page_path, m.group(1) if m else dom[:300]))
    return json.loads(base64.b64decode(m.group(1)).decode('utf-8'))


def main():
    manifest = load_manifest()
    Handler.manifest = manifest
    server = http.server.ThreadingHTTPServer(('127.0.0.1', PORT), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    wanted = set(sys.argv[1:])
    try:
        for page in manifest:
            if wanted and page['file'] not in wanted:
                continue
            result = run_browser(page['path'])
            out = os.path.join(HERE, page['file'] + '.golden.json')
            with open(out, 'w', encoding='utf-8') as f:
                json.dump(result, f, ensure_ascii=False, indent=1, sort_keys=True)
                f.write('\n')
            print('wrote', os.path.relpath(out, HERE))
    finally:
        server.shutdown()


if __name__ == '__main__':
    main()
