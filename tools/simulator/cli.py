"""Command line of the device simulator (the entry point is tools/simulate).

  simulate run SCENARIO [--iface dev0] [--counts FILE] [--control SOCKET]
                        [--pidfile FILE] [--seed N] [--quiet] [--loss-file FILE]
      put the scenario's devices on the LAN (inside the lab's devices namespace);
      --loss-file: the lab's loss (tools/lab loss), a percentage of the requests
      each device loses on its way in
  simulate ctl SOCKET COMMAND [ARGS...]
      talk to a running simulator: ping, counts, list, silence DEVICE,
      resume DEVICE, set DEVICE FIELD VALUE, reset, quit
      (DEVICE: an id, an IP address, a MAC address or "all")
  simulate pc SCENARIO        the PC addresses the scenario expects, one a line
  simulate list SCENARIO      the scenario's devices as JSON, one a line
  simulate probe --to ADDRESS [--bind ADDRESS] [--wait SECONDS] [--json]
      send one discovery request (inside the lab's PC namespace) and print
      the answers and how long they took
  simulate flood [--iface dev0] [--rate 1000] [--seconds 20] [--first 10.77.1.1]
                 [--senders 5000] [--wellformed 0.5] [--seed N] [--fresh-names]
      learn the program's port from its next discovery request, then send it
      answers from spoofed senders (garbage mixed with well-formed ones, with
      --fresh-names a new name in each); prints a JSON summary, with the
      program's direct requests to the senders heard meanwhile (inside the
      lab's devices namespace)

SCENARIO is a path or the name of a file in tools/scenarios (without .json).
Everything that sends refuses to run outside the lab's network namespaces.
"""

import argparse
import json
import os
import select
import socket
import sys
import time

from . import engine
from . import flood
from . import scenario as scenario_module

SCENARIO_DIR = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scenarios")


def scenario_path(name):
    if os.path.exists(name):
        return name
    candidate = os.path.join(SCENARIO_DIR, name if name.endswith(".json") else name + ".json")
    if os.path.exists(candidate):
        return candidate
    raise SystemExit("simulate: no scenario %s (looked in %s)" % (name, SCENARIO_DIR))


def refuse_outside_lab(what):
    if not engine.in_lab_network_namespace():
        raise SystemExit("simulate %s: runs only inside a lab network namespace (tools/lab)" % what)


def command_run(options):
    refuse_outside_lab("run")
    scenario = scenario_module.load(scenario_path(options.scenario))
    log = (lambda text: None) if options.quiet else (
        lambda text: print("simulate: " + text, file=sys.stderr, flush=True))
    sim = engine.Engine(scenario, options.iface, options.counts, options.control,
                        options.seed, log, options.loss_file)
    if options.pidfile:
        with open(options.pidfile, "w", encoding="ascii") as handle:
            handle.write("%d\n" % os.getpid())
    try:
        sim.run()
    finally:
        if options.pidfile:
            try:
                os.unlink(options.pidfile)
            except OSError:
                pass
    return 0


def control_exchange(path, line, timeout=5.0):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as client:
        client.settimeout(timeout)
        client.connect(path)
        client.sendall((line + "\n").encode("utf-8"))
        reply = b""
        while not reply.endswith(b"\n"):
            chunk = client.recv(65536)
            if not chunk:
                break
            reply += chunk
    return json.loads(reply.decode("utf-8"))


def command_ctl(options):
    reply = control_exchange(options.socket, " ".join(options.words))
    print(json.dumps(reply, indent=1, sort_keys=True))
    return 0 if reply.get("ok") else 1


def command_pc(options):
    for address in scenario_module.load(scenario_path(options.scenario)).pc:
        print(address)
    return 0


def command_list(options):
    for device in scenario_module.load(scenario_path(options.scenario)).devices:
        print(json.dumps(device.describe(), sort_keys=True))
    return 0


def command_probe(options):
    refuse_outside_lab("probe")
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 * 1024 * 1024)
        sock.bind((options.bind, 0))
        start = time.monotonic()
        sock.sendto(scenario_module.REQUEST, (options.to, scenario_module.DISCOVERY_PORT))
        answers = []
        deadline = start + options.wait
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([sock], [], [], left)
            if not ready:
                break
            data, sender = sock.recvfrom(65535)
            answers.append((time.monotonic() - start, sender, data))
    for elapsed, sender, data in answers:
        if options.json:
            print(json.dumps({"ms": round(elapsed * 1000, 2), "ip": sender[0], "port": sender[1],
                              "len": len(data), "lines": data.decode("latin-1").split("\r\n")}))
        else:
            print("%8.2f ms  %-15s %5d bytes  %r" % (elapsed * 1000, sender[0], len(data),
                                                     data[:120].decode("latin-1")))
    last = answers[-1][0] * 1000 if answers else 0.0
    print("# %d answer(s) from %d address(es); last after %.2f ms" %
          (len(answers), len({a[1][0] for a in answers}), last), file=sys.stderr)
    return 0


def command_flood(options):
    refuse_outside_lab("flood")
    plan = flood.FloodPlan(options.first, options.senders, options.wellformed, options.seed,
                           options.fresh_names)
    flooder = flood.Flooder(options.iface, plan, options.rate, options.seconds,
                            lambda text: print("flood: " + text, file=sys.stderr, flush=True))
    try:
        result = flooder.run(options.wait)
    except RuntimeError as error:
        print("simulate flood: %s" % error, file=sys.stderr)
        return 1
    print(flood.summary_line(result), flush=True)
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="simulate", description="Simulated discovery devices.")
    sub = parser.add_subparsers(dest="command", required=True)

    run = sub.add_parser("run", help="simulate the devices of a scenario")
    run.add_argument("scenario")
    run.add_argument("--iface", default="dev0")
    run.add_argument("--counts", help="JSON file with the request counts, rewritten atomically")
    run.add_argument("--control", help="unix socket path for control commands")
    run.add_argument("--pidfile")
    run.add_argument("--seed", type=int)
    run.add_argument("--quiet", action="store_true")
    run.add_argument("--loss-file", help="file with the lab's loss in percent (looked at before each batch of frames)")
    run.set_defaults(handler=command_run)

    ctl = sub.add_parser("ctl", help="send a command to a running simulator")
    ctl.add_argument("socket")
    ctl.add_argument("words", nargs="+")
    ctl.set_defaults(handler=command_ctl)

    pc = sub.add_parser("pc", help="print the PC addresses a scenario expects")
    pc.add_argument("scenario")
    pc.set_defaults(handler=command_pc)

    listing = sub.add_parser("list", help="print a scenario's devices")
    listing.add_argument("scenario")
    listing.set_defaults(handler=command_list)

    probe = sub.add_parser("probe", help="send one discovery request and print the answers")
    probe.add_argument("--to", required=True, help="destination, e.g. 192.168.77.255")
    probe.add_argument("--bind", default="0.0.0.0", help="local address to send from")
    probe.add_argument("--wait", type=float, default=1.0, help="seconds to collect answers")
    probe.add_argument("--json", action="store_true")
    probe.set_defaults(handler=command_probe)

    flooding = sub.add_parser("flood", help="flood the program with spoofed answers")
    flooding.add_argument("--iface", default="dev0")
    flooding.add_argument("--rate", type=int, default=1000, help="datagrams a second")
    flooding.add_argument("--seconds", type=float, default=20.0)
    flooding.add_argument("--first", default="10.77.1.1", help="first spoofed sender address")
    flooding.add_argument("--senders", type=int, default=5000, help="spoofed senders, consecutive")
    flooding.add_argument("--wellformed", type=float, default=0.5,
                          help="share of well-formed answers of the maker")
    flooding.add_argument("--wait", type=float, default=30.0,
                          help="seconds to wait for the request that names the target")
    flooding.add_argument("--seed", type=int)
    flooding.add_argument("--fresh-names", action="store_true",
                          help="a new name in every well-formed answer")
    flooding.set_defaults(handler=command_flood)

    options = parser.parse_args(argv)
    try:
        return options.handler(options)
    except (scenario_module.ScenarioError, ValueError, TypeError) as error:
        print("simulate: %s" % error, file=sys.stderr)
        return 2
