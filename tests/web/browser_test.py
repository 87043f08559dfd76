"""Browser test: the example shop's checkout in headless Chromium.

Fills the checkout form, pays, and checks that the result page says
"Approved" with a status the shop knows, that the invoice reaches "auth"
or "done" (asked of the brix tool, not the page), and that the operator
page lists it with the card number masked.  Saves screenshots of the
filled form, the result page and the operator page.  Exits 1 with the faults.

    browser_test.py URL RUN-DIR BRIX-TOOL CONFIG SCREENSHOT-DIR
"""
import json
import os
import subprocess
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

url, run, brix, config, shots = sys.argv[1:6]
CARD = '4111 1111 1111 1111'
faults = []

options = webdriver.ChromeOptions()
options.binary_location = '/usr/lib/chromium/chromium'
# Headless, and nothing that would reach for the network on its own.
for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             '--disable-dev-shm-usage', '--window-size=900,760', f'--user-data-dir={run}/chromium'):
    options.add_argument(flag)
# Its home and caches too stay in the run directory.
home = {name: f'{run}/chromium-home' for name in ('HOME', 'XDG_CONFIG_HOME', 'XDG_CACHE_HOME', 'XDG_RUNTIME_DIR')}
os.makedirs(home['HOME'], mode=0o700, exist_ok=True)
driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver', log_path=f'{run}/chromedriver.log',
                                          env=dict(os.environ, **home)), options=options)
try:
    driver.set_page_load_timeout(30)
    driver.get(f'{url}/')
    for name, value in (('amount', '42.50'), ('cardnum', CARD), ('expdate', '12/29'), ('cvv2', '123'),
                        ('zipcode', '62701')):
        field = driver.find_element(By.NAME, name)
        field.clear()
        field.send_keys(value)
    driver.save_screenshot(f'{shots}/checkout-form.png')
    driver.find_element(By.ID, 'pay').click()
    outcome = driver.find_element(By.ID, 'outcome').text
    status = driver.find_element(By.ID, 'status').text
    invoice = driver.find_element(By.XPATH, '//th[text()="Invoice"]/following-sibling::td').text
    driver.save_screenshot(f'{shots}/checkout.png')
    print(f'browser: result page: {outcome}, invoice {invoice}, status {status}')
    if outcome != 'Approved' or status not in ('auth', 'ready', 'done'):
        faults.append(f'the result page says {outcome!r}, status {status!r}')

    # The sale settles when brix-demod uploads the batch.
    deadline, where = time.monotonic() + 15, ''
    while time.monotonic() < deadline and where not in ('auth', 'done'):
        out = subprocess.run([brix, '-c', config, '--json', 'status', invoice], capture_output=True, text=True,
                             env=dict(os.environ, BRIX_CONFIG_DIR=f'{run}/conf'))
        where = json.loads(out.stdout or '{}').get('status', '') if out.returncode == 0 else ''
        time.sleep(0.2)
    print(f'browser: brix status {invoice}: {where or "not found"}')
    if where not in ('auth', 'done'):
        faults.append(f'{invoice} is in {where!r}, not in auth or done')

    driver.get(f'{url}/operator.php')
    rows = [r.text for r in driver.find_elements(By.CSS_SELECTOR, f'#queue-{where} tr')]
    driver.save_screenshot(f'{shots}/operator.png')
    if not any(invoice in r and '\u2022\u2022\u2022\u2022 1111' in r for r in rows):
        faults.append(f'the operator page does not list {invoice} with its card masked: {rows}')
    if CARD.replace(' ', '') in driver.page_source.replace(' ', ''):
        faults.append('the operator page shows a whole card number')
finally:
    driver.quit()
for fault in faults:
    print(f'browser: FAULT {fault}')
sys.exit(1 if faults else 0)
