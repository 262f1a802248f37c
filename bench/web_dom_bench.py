#!/usr/bin/python3
"""Watches one camera on the web face's page in headless Chromium, for web_bench.

Prints "ready" once the page is live and shows the camera fine, then one line for each
change of the camera's data-state: the new state and the wall-clock time of the change in
milliseconds, as the page took it (performance.timeOrigin + performance.now(), in the
mutation's own callback: the time the DOM changed, not the time this script looked).
Runs until SIGTERM. "unavailable: WHY" instead of "ready" when there is no browser or
the page has no camera elements.

usage: web_dom_bench.py URL CAMERA
"""
import os
import signal
import sys
import time

URL, CAMERA = sys.argv[1], sys.argv[2]
GENEROUS = 60  # seconds for the page to go live and show the camera on a loaded machine
BARE = 15  # seconds after which a page without any camera element is taken as such

# Every change of the camera's state, timed in the page. The observer watches the whole
# document, so that it also sees a camera element the page would make anew.
WATCH = """
window.benchChanges = [];
new MutationObserver((records) => {
  const at = performance.timeOrigin + performance.now();
  for (const record of records)
    if (record.target.dataset.camera === arguments[0])
      window.benchChanges.push([record.target.dataset.state, at]);
}).observe(document.body, {attributes: true, subtree: true, attributeFilter: ['data-state']});
"""

READY = """
const camera = document.querySelector(`[data-camera="${arguments[0]}"]`);
const connection = document.querySelector('[data-connection]');
return [camera ? camera.dataset.state : null, connection ? connection.dataset.connection : null];
"""


def stop(*_):
    raise SystemExit(0)


def until_ready(page):
    start = time.monotonic()
    seen = None
    while time.monotonic() < start + GENEROUS:
        seen = page.execute_script(READY, CAMERA)
        if seen == ['fine', 'live']:
            return None
        if seen[0] is None and time.monotonic() > start + BARE:
            return f'the page shows no camera {CAMERA}'
        time.sleep(0.05)
    return f'camera {CAMERA} and the connection showed {seen}, not fine and live'


def main():
    signal.signal(signal.SIGTERM, stop)
    # An ordinary program: the real-time policy the bench may run under is not for a browser.
    try:
        os.sched_setscheduler(0, os.SCHED_OTHER, os.sched_param(0))
    except OSError:
        pass
    try:
        # The test's own browser; imported here, so that a machine without Selenium
        # gets the row's word for it.
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                        '..', 'tests', 'bridge'))
        from headless_chromium import browser
        page = browser()
    except Exception as error:  # no Selenium, Chromium or driver here
        print(f'unavailable: no headless Chromium ({type(error).__name__})', flush=True)
        return
    try:
        page.get(URL)
        why = until_ready(page)
        if why:
            print(f'unavailable: {why}', flush=True)
            return
        page.execute_script(WATCH, CAMERA)
        print('ready', flush=True)
        parent = os.getppid()
        while os.getppid() == parent:  # a bench that ended without a word ends this too
            for state, at in page.execute_script('return window.benchChanges.splice(0)'):
                print(f'{state} {at:.3f}', flush=True)
            time.sleep(0.02)
    finally:
        page.quit()


if __name__ == '__main__':
    main()
