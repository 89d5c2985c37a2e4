"""Browse and resolve the devices with python3-zeroconf, from the PC namespace.

The independent yardstick for the lab's devices and for the program: a
ServiceBrowser for _lumarisnet._tcp.local. and, for each instance it finds,
get_service_info (SRV, TXT and A). Times count from just before the browser
starts.
"""

import subprocess
import threading
import time
from concurrent.futures import ThreadPoolExecutor

from .scenario import SERVICE_TYPE


def local_addresses():
    out = subprocess.run(["ip", "-4", "-o", "addr", "show"], stdout=subprocess.PIPE, text=True,
                         check=True).stdout
    addresses = []
    for line in out.splitlines():
        fields = line.split()
        if len(fields) > 3 and fields[1] != "lo":
            addresses.append(fields[3].split("/")[0])
    return addresses


def browse(addresses, seconds, expect=None):
    """Resolved services (dicts) and the seconds until `expect` were resolved."""
    from zeroconf import IPVersion, ServiceBrowser, ServiceStateChange, Zeroconf

    zc = Zeroconf(interfaces=addresses, ip_version=IPVersion.V4Only)
    results, lock, done = {}, threading.Lock(), threading.Event()
    pool = ThreadPoolExecutor(max_workers=32)
    start = time.monotonic()
    all_at = [None]

    def resolve(name, found):
        info = zc.get_service_info(SERVICE_TYPE, name, timeout=3000)
        entry = {"instance": name, "found_s": round(found, 3), "resolved_s": None}
        if info is not None:
            entry.update(resolved_s=round(time.monotonic() - start, 3), server=info.server,
                         addresses=info.parsed_addresses(), port=info.port,
                         txt=[t.decode("utf-8", "replace") for t in _txt_strings(info.text)])
        with lock:
            results[name] = entry
            resolved = sum(1 for r in results.values() if r["resolved_s"] is not None)
            if expect is not None and resolved >= expect and all_at[0] is None:
                all_at[0] = time.monotonic() - start
                done.set()

    def on_change(zeroconf, service_type, name, state_change):
        if state_change is ServiceStateChange.Added:
            pool.submit(resolve, name, time.monotonic() - start)

    browser = ServiceBrowser(zc, SERVICE_TYPE, handlers=[on_change])
    done.wait(seconds)
    browser.cancel()
    pool.shutdown(wait=True)
    zc.close()
    with lock:
        return sorted(results.values(), key=lambda r: r["instance"]), all_at[0]


def _txt_strings(text):
    out, offset = [], 0
    while offset < len(text):
        length = text[offset]
        out.append(text[offset + 1:offset + 1 + length])
        offset += 1 + length
    return out
