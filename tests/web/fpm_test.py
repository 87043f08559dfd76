"""php-fpm test: 200 sales over HTTP, 8 clients at once, through the pool
of 4 workers behind nginx that scripts/web-stack.sh started.

Checks every response (each call OK, the sale in "ready" or already
"done", the worker's effective user the pool's user when the request
began, no session left open by the worker's previous request), then, once
brix-demod has drained "ready", that every invoice is in exactly one queue
("done") and the spool is sound, and that no worker holds more descriptors
than before the run.  Prints the figures; exits 1 with the faults.

    fpm_test.py URL FPM-PID RUN-DIR BRIX-TOOL CONFIG POOL-UID
"""
import concurrent.futures
import json
import os
import subprocess
import sys
import time
import urllib.request

SALES, CLIENTS, WORKERS = 200, 8, 4

url, fpm_pid, run, brix, config, uid = sys.argv[1:7]
faults = []


def workers():
    pids = []
    for entry in os.listdir('/proc'):
        try:
            with open(f'/proc/{entry}/stat') as f:
                if f.read().rsplit(')', 1)[1].split()[1] == fpm_pid:
                    pids.append(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    return sorted(pids)


def descriptors(pids):
    return {pid: len(os.listdir(f'/proc/{pid}/fd')) for pid in pids}


def brix_json(*args):
    out = subprocess.run([brix, '-c', config, '--json', *args], capture_output=True, text=True,
                         env=dict(os.environ, BRIX_CONFIG_DIR=f'{run}/conf'))
    return out.returncode, [json.loads(line) for line in out.stdout.splitlines() if line.strip()]


def sale(n):
    invoice = f'F{n:04d}'
    # Cents 10 to 99: the demonstration daemon's triggers (.01-.03) stay out.
    query = f'invoice={invoice}&amount={n}.{n % 90 + 10:02d}&leave={n % 2}'
    with urllib.request.urlopen(f'{url}/fpm-sale.php?{query}', timeout=30) as r:
        return invoice, r.status, json.loads(r.read())


def check(invoice, code, a):
    why = []
    if code != 200:
        why.append(f'HTTP {code}')
    if set(a['answers'].values()) != {'OK'}:
        why.append(f"answers {a['answers']}")
    if a['status'] not in ('ready', 'done') or f'invoice {{{invoice}XXX}}' not in a['line']:
        why.append(f"status {a['status']}: {a['line']}")
    if a['euid'] != int(uid):
        why.append(f"effective user {a['euid']} at the start, not {uid}")
    if a['leaked']:
        why.append("the worker's previous request left its session open")
    return why


pids = workers()
if len(pids) != WORKERS:
    print(f'fpm: {len(pids)} workers under php-fpm {fpm_pid}, expected {WORKERS}')
    sys.exit(1)
before = descriptors(pids)
os.makedirs(f'{run}/state', exist_ok=True)
os.chmod(f'{run}/state', 0o1777)

started = time.monotonic()
answers = []
with concurrent.futures.ThreadPoolExecutor(CLIENTS) as pool:
    for invoice, code, a in pool.map(sale, range(1, SALES + 1)):
        answers.append(a)
        faults += [f'{invoice}: {w}' for w in check(invoice, code, a)]
seconds = time.monotonic() - started

# brix-demod uploads the batch: every sale ends in "done".
deadline = time.monotonic() + 20
while time.monotonic() < deadline:
    rc, counts = brix_json('count', 'ready')
    if rc == 0 and counts and all(int(c.get('count', 1)) == 0 for c in counts):
        break
    time.sleep(0.2)
held = {}
for queue in ('new', 'auth', 'ready', 'done', 'unauth', 'denied', 'review', 'bad'):
    rc, items = brix_json('list', queue)
    for item in items:
        held.setdefault(item.get('invoice', '?'), []).append(queue)
want = {f'F{n:04d}XXX': ['done'] for n in range(1, SALES + 1)}
if held != want:
    wrong = sorted(k for k in set(held) | set(want) if held.get(k) != want.get(k))
    faults.append(f'{len(wrong)} invoices not in exactly "done": ' +
                  ', '.join(f'{k} in {held.get(k, [])}' for k in wrong[:5]))
rc, _ = brix_json('check')
if rc != 0:
    faults.append(f'brix check exited {rc}')

after = descriptors(workers())
served = {}
for a in answers:
    served[a['pid']] = served.get(a['pid'], 0) + 1
checked = sum(1 for a in answers if a['leaked'] is not None)
print(f'fpm: {SALES} sales over HTTP, {CLIENTS} concurrent clients, {WORKERS} php-fpm workers behind nginx: '
      f'{seconds:.2f} s ({SALES / seconds:.0f} requests/s); {checked} requests checked a session left open before')
for pid in pids:
    print(f'fpm: worker {pid}: {served.get(pid, 0)} requests, descriptors before {before[pid]}, '
          f'after {after.get(pid, "(gone)")}')
    if after.get(pid, 1 << 30) > before[pid]:
        faults.append(f'worker {pid} holds {after.get(pid)} descriptors, {before[pid]} before')
if set(served) - set(pids):
    faults.append(f'requests served by processes that are not the workers: {set(served) - set(pids)}')
with open(f'{run}/fpm/php-errors.log') as f:
    logged = f.read().strip()
if logged:
    faults.append(f'the workers logged PHP errors: {logged[:300]}')
if checked == 0:
    faults.append('no request found a note of a session left open: the check never ran')
for fault in faults[:20]:
    print(f'fpm: FAULT {fault}')
sys.exit(1 if faults else 0)
