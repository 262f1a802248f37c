#!/usr/bin/python3
"""The web face's page in headless Chromium (Selenium), against the bridge on a muxsim
that this script steers (muxsim_console): the page shows every camera and multiplexer as
the line holds them and as /api/v1/state says, an absent multiplexer's cameras unknown,
an alarm set while it is open with its report first, the key pressed only with the
token, a hung bridge as lost, a killed one as lost within 2 s with every value grey, and
the bridge's return by itself (then without commands, so without controls).

usage: web_page_test.py RODERAVO DRIVER MUXSIM_CONSOLE SCREENSHOT.png
(the screenshot of the guide, docs/images/web-page.png, is the one this takes)
"""
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

from selenium.webdriver.common.by import By

from headless_chromium import browser

TOOL, DRIVER, CONSOLE, SCREENSHOT = sys.argv[1:5]
TOKEN = 'web-page-test-token-0123456789'
GENEROUS = 60  # seconds: what a loaded machine may take for a change to show
KEY = 6  # the command byte of a KEY frame

STATES = {0x20: 'alarm', 0x2E: 'video-loss', 0xFE: 'unknown'}

# Reads the page's data-* contract in one call: the connection, every camera and
# multiplexer element with its state, the alarm reports in their order.
READ_PAGE = """
const pairs = (sel, key) => [...document.querySelectorAll(sel)].map(e => [e.dataset[key], e.dataset.state]);
return {connections: [...document.querySelectorAll('[data-connection]')].map(e => e.dataset.connection),
        cameras: Object.fromEntries(pairs('[data-camera]', 'camera')),
        cameraCount: document.querySelectorAll('[data-camera]').length,
        stateCount: document.querySelectorAll('[data-state]').length,
        muxes: Object.fromEntries(pairs('[data-mux]', 'mux')),
        reports: [...document.querySelectorAll('[data-report]')].map(e => e.dataset.report),
        grey: document.body.classList.contains('lost') &&
              getComputedStyle(document.querySelector('[data-camera] i')).color,
        banner: document.querySelector('[data-connection]').textContent};
"""


def wait_until(what, condition, timeout=GENEROUS, explain=lambda: ''):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f'{what}: not within {timeout} s {explain()}')
        time.sleep(0.05)


def differences(name, got, want):
    wrong = {k: (got.get(k), v) for k, v in want.items() if got.get(k) != v}
    return {name: wrong} if wrong else {}


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Muxsim:
    """muxsim_console: orders on its stdin, one answer line each."""

    def __init__(self):
        self.process = subprocess.Popen([CONSOLE], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        self.port = self.process.stdout.readline().strip()
        assert self.port.startswith('pts/'), f'muxsim_console said {self.port!r}'

    def ask(self, order):
        self.process.stdin.write(order + '\n')
        self.process.stdin.flush()
        answer = self.process.stdout.readline().strip()
        assert not answer.startswith('error'), answer
        return answer

    def expected(self):
        """The page's words for what the line holds now: cameras and multiplexers."""
        held = json.loads(self.ask('state'))
        cameras = {}
        for n in range(1, 101):
            state = STATES.get(held['states'][n - 1], 'fine')
            if state == 'fine' and held['videoLoss'][n - 1]:
                state = 'video-loss'
            cameras[str(n)] = state if held['present'][(n - 1) // 20] else 'unknown'
        muxes = {str(m): 'ok' if on else 'absent' for m, on in enumerate(held['present'])}
        return cameras, muxes

    def keys(self, mux):
        return [f['payload'] for f in json.loads(self.ask('control'))
                if f['mux'] == mux and f['command'] == KEY]

    def stop(self):
        self.process.stdin.close()
        self.process.wait(10)


class Bridge:
    """roderavo bridge with its web face, writable, on the simulator's pty."""

    def __init__(self, folder, line, port):
        self.log = os.path.join(folder, 'bridge.log')
        token = os.path.join(folder, 'token')
        if not os.path.exists(token):
            with open(os.open(token, os.O_WRONLY | os.O_CREAT, 0o600), 'w') as f:
                f.write(TOKEN + '\n')
        # A read time-out no busy machine reaches, so that no multiplexer present turns
        # failing, and were one to miss reads, it is never demoted for the rest of the
        # run; the absent one (demoted at once) is read again only after the test.
        self.args = [TOOL, 'bridge', '--driver', DRIVER, '--port', line, '--site', 'north',
                     '--poll-interval', '200ms', '--timeout', '1000ms', '--demote-after',
                     '1000', '--demote-for', '300s',
                     '--command-deadline', '60s', '--http', f'127.0.0.1:{port}']
        self.writable = ['--http-writable', '--http-token-file', token]
        self.url = f'http://127.0.0.1:{port}'
        self.process = None

    def start(self, writable=True):
        with open(self.log, 'w') as log:
            self.process = subprocess.Popen(self.args + (self.writable if writable else []),
                                            stdout=subprocess.DEVNULL, stderr=log)
        wait_until('the web face', lambda: f'web face on {self.url}' in self.said())

    def said(self):
        assert self.process.poll() is None, f'the bridge ended:\n{open(self.log).read()}'
        with open(self.log) as log:
            return log.read()

    def get(self, path):
        with urllib.request.urlopen(self.url + path, timeout=10) as answer:
            return answer.read()

    def stop(self, sig=signal.SIGTERM):
        if self.process and self.process.poll() is None:
            self.process.send_signal(sig)
            self.process.wait(15)


def api_view(bridge):
    state = json.loads(bridge.get('/api/v1/state'))
    return ({str(c['camera']): c['state'] for c in state['cameras']},
            {str(m['mux']): m['state'] for m in state['muxes']}, state)


def shows_the_line(page, sim, bridge):
    """The page, the API and the line agree on every camera and multiplexer."""
    last = {}

    def agree():
        seen, (cameras, muxes) = page.execute_script(READ_PAGE), sim.expected()
        api_cameras, api_muxes, _ = api_view(bridge)
        last.update(connections=seen['connections'], stateCount=seen['stateCount'],
                    **differences('page cameras', seen['cameras'], cameras),
                    **differences('API cameras', api_cameras, cameras),
                    **differences('page muxes', seen['muxes'], muxes),
                    **differences('API muxes', api_muxes, muxes))
        return (seen['connections'] == ['live'] and seen['cameraCount'] == 100 and
                seen['stateCount'] == 100 + len(muxes) and
                seen['cameras'] == cameras == api_cameras and
                seen['muxes'] == muxes == api_muxes) and seen
    return wait_until('the page, the API and muxsim agree', agree,
                      explain=lambda: f'{last}\n{bridge.said()}')


def the_page_mirrors_the_line(page, sim, bridge):
    page.get(bridge.url + '/')
    seen = shows_the_line(page, sim, bridge)
    assert all(seen['cameras'][str(n)] == 'unknown' for n in range(61, 81)), seen
    assert {'27', '45', '46', '88'} <= set(seen['reports']), seen['reports']
    facts = {i: page.find_element(By.ID, i).text for i in ('site', 'port', 'started')}
    assert facts['site'] == 'north' and facts['port'].startswith(sim.port), facts
    _, _, state = api_view(bridge)
    assert facts['started'] == state['bridge']['started'][:19].replace('T', ' '), facts
    events = page.find_element(By.ID, 'events').text
    assert 'mux 3' in events, events
    # Everything the page loads is its own, and little.
    loaded = page.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name)")
    assert all(name.startswith(bridge.url) for name in loaded), loaded
    weight = sum(len(bridge.get(p)) for p in ('/', '/app.js', '/app.css'))
    assert weight < 300 * 1024, weight


def an_alarm_shows_on_the_open_page(page, sim):
    # Camera 33 is the last to go into alarm, so its report is the newest: first, though
    # its number is not the lowest.
    sim.ask('camera 33 alarm')
    seen = wait_until('camera 33 in alarm, its report first', lambda: (
        lambda seen: seen['cameras']['33'] == 'alarm' and seen['reports'][:1] == ['33'] and seen)(
            page.execute_script(READ_PAGE)))
    assert sorted(seen['reports']) == ['27', '33', '45', '46', '88'], seen['reports']
    text = page.find_element(By.ID, 'reports').text
    # Every report is the multiplexer's ALS text: its date, time and the state.
    for camera, state in (('33', 'Alarm'), ('27', 'Alarm'), ('45', 'Video Loss')):
        assert re.search(rf'camera {camera} \(\S+\): \d\d\.\d\d\.\d{{4}} .* {state}', text), text


def a_key_needs_the_token(page, sim):
    mux = page.find_element(By.CSS_SELECTOR, '[data-mux="1"]')
    mux.find_element(By.TAG_NAME, 'summary').click()
    result = mux.find_element(By.CLASS_NAME, 'result')

    def press(expect):
        mux.find_element(By.CSS_SELECTOR, '[data-key="53"]').click()
        wait_until(f'the answer {expect}', lambda: expect in result.text)
        return result.get_attribute('data-result')

    assert press('give the token') == '1'
    typed = page.find_element(By.ID, 'token-input')
    typed.send_keys('not-the-token-0123456789')
    typed.submit()
    assert press('the token is wrong') == '1'
    assert sim.keys(1) == [], 'a key without the right token reached the line'
    typed.send_keys(TOKEN)
    typed.submit()
    assert press('KEY1=53 done') == '0', result.text
    assert sim.keys(1) == [[53]], sim.keys(1)
    kept = page.execute_script(
        'return [sessionStorage.getItem("roderavo.token"), localStorage.length, document.cookie]')
    assert kept == [TOKEN, 0, ''], kept


def lost(page):
    seen = page.execute_script(READ_PAGE)
    return seen['connections'] == ['lost'] and seen


def a_lost_bridge_shows_and_comes_back(page, sim, bridge):
    # A bridge that hangs keeps its stream open, silent: the page finds it out.
    bridge.process.send_signal(signal.SIGSTOP)
    wait_until('lost, the bridge stopped', lambda: lost(page), timeout=GENEROUS)
    bridge.process.send_signal(signal.SIGCONT)
    shows_the_line(page, sim, bridge)
    killed = time.monotonic()
    bridge.stop(signal.SIGKILL)
    seen = wait_until('lost, the bridge killed', lambda: lost(page), timeout=2)
    lost_after = time.monotonic() - killed
    assert seen['grey'] == 'rgb(158, 158, 158)', seen['grey']
    assert 'reconnecting' in seen['banner'], seen['banner']
    sim.ask('release')  # the killed bridge could not give the port back
    bridge.start(writable=False)
    seen = shows_the_line(page, sim, bridge)
    assert 'reconnected' in seen['banner'], seen['banner']
    assert seen['grey'] is False, 'the values stay grey after the return'
    # A face that takes no commands shows no controls.
    hidden = page.execute_script("return [document.querySelectorAll('[data-key], "
                                 ".controls').length, document.getElementById('token').hidden]")
    assert hidden == [0, True], hidden
    return lost_after


def main():
    sim, page, bridge = Muxsim(), None, None
    with tempfile.TemporaryDirectory() as folder:
        os.environ['RODERAVO_LOCK_DIR'] = folder
        try:
            for order in ('camera 27 alarm', 'camera 45 video-loss', 'video-loss 46 1',
                          'camera 50 unknown', 'camera 88 alarm', 'video-loss 88 1',
                          'present 3 0'):
                sim.ask(order)
            bridge = Bridge(folder, sim.port, free_port())
            bridge.start()
            page = browser()
            the_page_mirrors_the_line(page, sim, bridge)
            an_alarm_shows_on_the_open_page(page, sim)
            page.save_screenshot(SCREENSHOT)
            a_key_needs_the_token(page, sim)
            lost_after = a_lost_bridge_shows_and_comes_back(page, sim, bridge)
            print(f'web page: all scenarios pass; lost shown {lost_after:.2f} s after SIGKILL')
        finally:
            if page:
                page.quit()
            if bridge:
                bridge.stop()
            sim.stop()


if __name__ == '__main__':
    main()
