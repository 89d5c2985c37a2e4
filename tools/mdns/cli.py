"""Command line of tools/mdns-devices.

  mdns-devices start LAB SCENARIO [--timeout S]
      put the scenario's multicast DNS devices on the lab's LAN and return
      once every one answers (their process runs in ndt-LAB-dev)
  mdns-devices stop LAB        stop them and remove their namespaces
  mdns-devices status LAB      the running devices as JSON
  mdns-devices exec LAB DEVICE -- CMD...
      run CMD in a device's namespace (DEVICE: index, id or address),
      e.g. tcpdump -ni eth0 port 5353
  mdns-devices pc SCENARIO     the PC addresses the scenario expects, one a line
  mdns-devices list SCENARIO   the scenario's devices as JSON, one a line
  mdns-devices browse [--seconds S] [--expect N] [--json]
      browse and resolve with python3-zeroconf (run it in the lab's PC
      namespace: tools/lab exec LAB -- tools/mdns-devices browse)
  mdns-devices hostile LAB --pc ADDR/LEN --trio IP,IP,IP --ghost IP
                       [--unowned FIRST-LAST] [--seconds 30] [--rates K=N,...]
                       [--seed 1] [--wait 30]
      hostile multicast DNS traffic on the lab's LAN (tools/mdns/hostile.py):
      learn the PC from its next query, then send TXT bombs, new host names,
      multi-instance packets (naming the trio: silent devices of the running
      scenario), off-subnet answers (naming the ghost) and malformed packets
      for that long; prints a JSON summary (inside ndt-LAB-dev: run it with
      tools/lab dev LAB -- tools/mdns-devices hostile LAB ...). Rates per
      second, defaults txt=30,names=500,multi=5,offsubnet=20,malformed=100
  mdns-devices clean           remove device namespaces left by killed runs

Device namespaces are ndt-LAB-m1, ndt-LAB-m2, ...; state and logs live in
/tmp/ndt-lab-LAB/mdns/. Everything that opens a socket refuses to run
outside the lab's namespaces. Needs root.
"""

import argparse
import ipaddress
import json
import os
import subprocess
import sys
import time

from . import netns
from . import scenario as scenario_module

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SELF = os.path.join(TOOLS, "mdns-devices")
LAB = os.path.join(TOOLS, "lab")


def fail(text):
    raise SystemExit("mdns-devices: %s" % text)


def need_lab(lab):
    if not os.path.exists(os.path.join(netns.lab_dir(lab), "env")):
        fail("no lab named %s" % lab)


def read_state(lab):
    try:
        with open(os.path.join(netns.state_dir(lab), "state.json"), encoding="utf-8") as handle:
            return json.load(handle)
    except (OSError, ValueError):
        return None


def command_start(options):
    lab = options.lab
    need_lab(lab)
    scenario_module.load(options.scenario)  # fail early on a bad file
    netns.clean(log=lambda text: print("mdns-devices: " + text, file=sys.stderr))
    if netns.fleet_pid(lab) is not None:
        fail("devices already run in lab %s" % lab)
    directory = netns.state_dir(lab)
    os.makedirs(directory, exist_ok=True)
    for name in ("state.json", "pid"):
        if os.path.exists(os.path.join(directory, name)):
            os.unlink(os.path.join(directory, name))
    log_path = os.path.join(directory, "log")
    with open(log_path, "ab") as log:
        process = subprocess.Popen(
            [LAB, "dev", lab, "--", "/usr/bin/python3", SELF, "run", os.path.abspath(options.scenario),
             "--lab", lab],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    deadline = time.monotonic() + options.timeout
    while time.monotonic() < deadline:
        state = read_state(lab)
        if state and state.get("ready"):
            print("mdns-devices: %d device(s) in lab %s (pid %d)" % (len(state["devices"]), lab, state["pid"]),
                  file=sys.stderr)
            return extend_loss(lab)
        if process.poll() is not None:
            break
        time.sleep(0.05)
    else:
        netns.stop_pids([process.pid])
        process.wait()
    with open(log_path, encoding="utf-8", errors="replace") as handle:
        sys.stderr.write("".join(handle.readlines()[-20:]))
    command_stop(options)
    fail("the devices did not start")
    return 1


def extend_loss(lab):
    """The lab's loss (tools/lab loss) also for the new devices' namespaces,
    set once they all answered."""
    try:
        with open(os.path.join(netns.lab_dir(lab), "loss"), encoding="ascii") as handle:
            percent = handle.read().strip()
    except OSError:
        return 0
    return subprocess.run([LAB, "loss", lab, percent], check=False).returncode


def command_stop(options):
    lab = options.lab
    pid = netns.fleet_pid(lab)
    if pid is not None:
        netns.stop_pids([pid], seconds=10)
    # After a killed run: namespaces and split LANs it left.
    for ns in netns.device_namespaces(lab):
        netns.remove_namespace(ns)
    netns.join_lans(lab)
    return 0


def command_status(options):
    state = read_state(options.lab)
    if state is None:
        fail("no devices run in lab %s" % options.lab)
    print(json.dumps(state, indent=1, sort_keys=True))
    return 0


def command_exec(options):
    state = read_state(options.lab)
    if state is None:
        fail("no devices run in lab %s" % options.lab)
    words = options.command[1:] if options.command[:1] == ["--"] else options.command
    if not words:
        fail("exec: no command")
    for device in state["devices"]:
        if options.device in (str(device["index"]), device["id"], device["ip"]):
            os.execvp("nsenter", ["nsenter", "--net=/run/netns/%s" % device["namespace"], "--"] + words)
    fail("no device %s in lab %s" % (options.device, options.lab))
    return 1


def command_pc(options):
    for address in scenario_module.load(options.scenario).pc:
        print(address)
    return 0


def command_list(options):
    for device in scenario_module.load(options.scenario).devices:
        print(json.dumps(device.describe(), sort_keys=True))
    return 0


def command_browse(options):
    from . import browse
    if not netns.in_lab_namespace():
        fail("browse runs only inside a lab namespace (tools/lab exec LAB -- ...)")
    addresses = options.bind or browse.local_addresses()
    if not addresses:
        fail("no IPv4 address to browse from")
    results, all_at = browse.browse(addresses, options.seconds, options.expect)
    resolved = [r for r in results if r["resolved_s"] is not None]
    if options.json:
        print(json.dumps({"found": len(results), "resolved": len(resolved), "all_resolved_s": all_at,
                          "services": results}, sort_keys=True))
    else:
        for r in results:
            if r["resolved_s"] is None:
                print("%-40s found %.3f s, not resolved" % (r["instance"], r["found_s"]))
            else:
                print("%-40s found %.3f s, resolved %.3f s: %s %s port %d txt %s" % (
                    r["instance"], r["found_s"], r["resolved_s"], r["server"], ",".join(r["addresses"]),
                    r["port"], r["txt"]))
        print("# %d found, %d resolved%s" % (len(results), len(resolved),
                                              "" if all_at is None else "; all %d after %.3f s" % (options.expect, all_at)))
    return 0 if options.expect is None or len(resolved) >= options.expect else 1


def command_hostile(options):
    from . import hostile
    if not netns.same_namespace("/run/netns/ndt-%s-dev" % options.lab):
        fail("hostile runs only inside the lab's devices namespace (tools/lab dev %s -- ...)" % options.lab)
    state = read_state(options.lab)
    macs = {d["ip"]: d["mac"] for d in (state or {}).get("devices", [])}
    trio = []
    for address in options.trio.split(","):
        if address not in macs:
            fail("hostile: %s is no running device of lab %s" % (address, options.lab))
        trio.append((address, bytes.fromhex(macs[address].replace("-", ""))))
    if options.ghost not in macs:
        fail("hostile: the ghost %s is no running device of lab %s" % (options.ghost, options.lab))
    pc = ipaddress.IPv4Interface(options.pc)
    first, _, last = options.unowned.partition("-")
    first, last = ipaddress.IPv4Address(first), ipaddress.IPv4Address(last or first)
    unowned = [ipaddress.IPv4Address(a) for a in range(int(first), int(last) + 1)]
    if any(a not in pc.network or str(a) in macs or a == pc.ip for a in unowned):
        fail("hostile: --unowned must hold only free addresses of %s" % pc.network)
    try:
        plan = hostile.HostilePlan(pc.network, unowned, trio, options.ghost, options.seed)
        sender = hostile.HostileSender(options.iface, plan, hostile.parse_rates(options.rates), options.seconds,
                                       str(pc.ip), lambda text: print("hostile: " + text, file=sys.stderr,
                                                                      flush=True))
        result = sender.run(options.wait)
    except (ValueError, RuntimeError) as error:
        fail("hostile: %s" % error)
    print(hostile.summary_line(result), flush=True)
    return 0


def command_clean(_options):
    netns.clean(log=lambda text: print("mdns-devices: " + text, file=sys.stderr))
    return 0


def command_run(options):
    from . import fleet
    return fleet.run(scenario_module.load(options.scenario), options.lab)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="mdns-devices", description="Multicast DNS devices in the lab.")
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("start")
    p.add_argument("lab")
    p.add_argument("scenario")
    p.add_argument("--timeout", type=float, default=90.0)
    p.set_defaults(handler=command_start)
    for name, handler in (("stop", command_stop), ("status", command_status)):
        p = sub.add_parser(name)
        p.add_argument("lab")
        p.set_defaults(handler=handler)
    p = sub.add_parser("exec")
    p.add_argument("lab")
    p.add_argument("device")
    p.add_argument("command", nargs=argparse.REMAINDER)
    p.set_defaults(handler=command_exec)
    for name, handler in (("pc", command_pc), ("list", command_list)):
        p = sub.add_parser(name)
        p.add_argument("scenario")
        p.set_defaults(handler=handler)
    p = sub.add_parser("browse")
    p.add_argument("--seconds", type=float, default=5.0)
    p.add_argument("--expect", type=int)
    p.add_argument("--bind", action="append", help="PC address to browse from (default: all)")
    p.add_argument("--json", action="store_true")
    p.set_defaults(handler=command_browse)
    p = sub.add_parser("hostile")
    p.add_argument("lab")
    p.add_argument("--pc", required=True, help="the PC's address and prefix length")
    p.add_argument("--trio", required=True, help="three silent devices the multi-instance packet names")
    p.add_argument("--ghost", required=True, help="a silent device named only from off the subnet")
    p.add_argument("--unowned", default="192.168.77.130-192.168.77.199",
                   help="on-subnet addresses no host owns (the hostile senders' own)")
    p.add_argument("--seconds", type=float, default=30.0)
    p.add_argument("--rates", default="")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--wait", type=float, default=30.0, help="seconds to wait for the PC's first query")
    p.add_argument("--iface", default="dev0")
    p.set_defaults(handler=command_hostile)
    p = sub.add_parser("clean")
    p.set_defaults(handler=command_clean)
    p = sub.add_parser("run")
    p.add_argument("scenario")
    p.add_argument("--lab", required=True)
    p.set_defaults(handler=command_run)
    options = parser.parse_args(argv)
    if options.command not in ("pc", "list") and os.geteuid() != 0:
        fail("must run as root")
    try:
        return options.handler(options)
    except scenario_module.ScenarioError as error:
        fail(str(error))
    except netns.NetnsError as error:
        fail(str(error))
    return 1
