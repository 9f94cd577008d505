#!/usr/bin/env python3
"""The live page in headless Chromium, driven over WebDriver (Debian's
chromedriver): the buttons example under orva-sim --serve; the page's record
button held with the mouse, the scroll button with its key; the panel the page
draws, read back from its canvas, against the panel the program drew.

usage: live_page_test.py ORVA_SIM BUTTONS SCREENSHOT
Exit status 77 (skipped) without chromium and chromedriver, 1 then when
ORVA_BROWSER_REQUIRED is set (CI)."""
import base64
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import urllib.error
import urllib.request

ORVA_SIM, BUTTONS, SCREENSHOT = sys.argv[1:4]
ELEMENT = 'element-6066-11e4-a52e-4f735466cecf'
# The panel as '#' (lit) and '.' rows, from the RAM's hex digits or the canvas.
RAM_ROWS = '''(ram => Array.from({length: 64}, (_, y) => Array.from({length: 128}, (_, x) =>
  (parseInt(ram.substr((Math.floor(y / 8) * 128 + x) * 2, 2), 16) >> (y % 8)) & 1 ? '#' : '.').join('')))'''
CANVAS_ROWS = '''const pixels = document.getElementById('panel').getContext('2d').getImageData(0, 0, 512, 256).data;
return Array.from({length: 64}, (_, y) => Array.from({length: 128}, (_, x) =>
  pixels[((y * 4 + 2) * 512 + x * 4 + 2) * 4] < 128 ? '#' : '.').join(''));'''


class WebDriver:
    def __init__(self, port):
        self.base = f'http://127.0.0.1:{port}'
        self.session = ''

    def call(self, method, path, body=None):
        request = urllib.request.Request(self.base + self.session + path, method=method,
                                         data=None if body is None else json.dumps(body).encode(),
                                         headers={'Content-Type': 'application/json'})
        try:
            with urllib.request.urlopen(request, timeout=120) as response:
                return json.load(response)['value']
        except urllib.error.HTTPError as error:
            sys.exit(f'{method} {path}: {json.load(error)["value"].get("message", "")[:2000]}')

    def run(self, script, *args):
        return self.call('POST', '/execute/sync', {'script': script, 'args': list(args)})

    def wait(self, condition):
        """Waits in the page until the JavaScript expression holds; its value."""
        return self.call('POST', '/execute/async', {'args': [], 'script': f'''const done = arguments[0];
            const check = () => {{ const value = {condition}; value ? done(value) : setTimeout(check, 10); }};
            check();'''})

    def pointer(self, element, *actions):
        self.call('POST', '/actions', {'actions': [{'type': 'pointer', 'id': 'mouse', 'actions': [
            {'type': 'pointerMove', 'origin': {ELEMENT: element}, 'x': 0, 'y': 0}, *actions]}]})

    def key(self, kind, key):
        self.call('POST', '/actions', {'actions': [{'type': 'key', 'id': 'keys', 'actions': [{'type': kind, 'value': key}]}]})


def started(process, text):
    """The first line of the process's output that holds the text."""
    for line in process.stdout if process.stdout else process.stderr:
        if text in line:
            return line
    sys.exit(f'never printed "{text}"')


def main():
    chromium, chromedriver = shutil.which('chromium'), shutil.which('chromedriver')
    if not chromium or not chromedriver:
        required = os.environ.get('ORVA_BROWSER_REQUIRED')
        print(('failed' if required else 'skipped') + ': needs Debian\'s chromium and chromium-driver')
        return 1 if required else 77
    with socket.socket() as probe:
        probe.bind(('127.0.0.1', 0))
        driver_port = probe.getsockname()[1]
    driver = subprocess.Popen([chromedriver, f'--port={driver_port}'], stdout=subprocess.PIPE, text=True)
    browser = WebDriver(driver_port)
    sim = None
    try:
        started(driver, 'started successfully')
        args = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
                '--disable-component-update', '--disable-sync', '--no-first-run', '--disable-quic',
                '--window-size=1280,1000']
        capabilities = {'alwaysMatch': {'goog:chromeOptions': {'binary': chromium, 'args': args}}}
        browser.session = '/session/' + browser.call('POST', '/session', {'capabilities': capabilities})['sessionId']
        browser.call('POST', '/timeouts', {'script': 60000})

        # The buttons example lives 30 s of the receiver's time: real time here.
        sim = subprocess.Popen([ORVA_SIM, '--serve', '0', '--time-scale', '1', '--', BUTTONS],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        url = started(sim, 'orva-sim: serving ').split()[-1]
        errors = []
        threading.Thread(target=lambda: errors.extend(sim.stderr), daemon=True).start()
        browser.call('POST', '/url', {'url': url})

        def screen_after(condition):
            """The page's panel once the condition holds, read back from its canvas, and the program's."""
            browser.wait(f'orvaPage.lastFrame && orvaPage.lastFrame.shown && {condition}')
            with urllib.request.urlopen(url + 'panel', timeout=60) as response:
                drawn = browser.run(f'return {RAM_ROWS}(arguments[0]);', json.load(response)['ram'])
            return browser.run(CANVAS_ROWS), drawn

        box_filled = f'{RAM_ROWS}(orvaPage.lastFrame.ram)[28][32] === "#"'
        # The program's first screen: the page has set up its buttons.
        browser.wait('window.orvaPage && orvaPage.lastFrame && orvaPage.lastFrame.shown')
        record = browser.call('POST', '/element', {'using': 'css selector', 'value': '#button-record'})[ELEMENT]
        browser.pointer(record, {'type': 'pointerDown', 'button': 0})
        shown, drawn = screen_after(box_filled)
        assert shown == drawn, 'the page shows another screen than the program drew:\n' + '\n'.join(shown)
        assert drawn[28][32] == '#', 'the record box is not filled while the button is held'
        # The press's beep, played through the page's audio.
        browser.wait('orvaPage.beeps.some(beep => beep.hz === 440)')
        with open(SCREENSHOT, 'wb') as picture:
            picture.write(base64.b64decode(browser.call('GET', '/screenshot')))

        browser.pointer(record, {'type': 'pointerUp', 'button': 0})
        shown, drawn = screen_after(f'!({box_filled})')
        assert shown == drawn, 'after the release:\n' + '\n'.join(shown)
        browser.wait('document.getElementById("output").textContent.includes("record released")')

        # The scroll button by its key; its release ends the program, and the
        # page keeps the last screen with the report.
        browser.key('keyDown', 's')
        browser.wait('document.getElementById("output").textContent.includes("scroll pressed")')
        browser.key('keyUp', 's')
        report = browser.wait('orvaPage.ended && document.getElementById("report").textContent')
        assert 'open descriptors: none' in report, report
        shown, drawn = screen_after('true')
        assert shown == drawn, 'after the end:\n' + '\n'.join(shown)

        # What the stream may also bring: a panel whose supply is off (blank, marked).
        browser.run('orvaPage.receive("frame", Object.assign({}, orvaPage.lastFrame, {shown: false}));')
        assert set(''.join(browser.run(CANVAS_ROWS))) == {'.'}, 'an unpowered panel shows something'
        assert browser.run('return !document.getElementById("panel-off").hidden'), 'an unpowered panel is not marked'

        sim.send_signal(signal.SIGTERM)
        status = sim.wait(60)
        assert status == 0, f'exit status {status}: ' + ''.join(errors)
        print('the page showed each screen the program drew; screenshot', SCREENSHOT)
        return 0
    finally:
        # The browser outlives its driver unless its session is ended.
        if browser.session:
            try:
                browser.call('DELETE', '')
            except BaseException:
                pass
        for process in (driver, sim):
            if process and process.poll() is None:
                process.kill()
                process.wait()


if __name__ == '__main__':
    sys.exit(main())
