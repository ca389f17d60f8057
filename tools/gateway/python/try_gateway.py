"""The gateway in front of a private directory, for a person to try:

    try_gateway.py GATEWAY serve   prints the two URIs and commands to paste,
                                   relays until Ctrl-C
    try_gateway.py GATEWAY demo    plays a scripted session with the real
                                   clients and prints each step

Run by `scripts/run` under scripts/directory, which provides the directory
(DIRECTORY_URI and the rest) and removes it afterwards."""
import os
import shlex
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import gateway_session as wire  # noqa: E402

URI = os.environ["DIRECTORY_URI"]
BASE = os.environ["DIRECTORY_BASE"]
ADMIN = os.environ["DIRECTORY_ADMIN"]
PASSWORD = os.environ["DIRECTORY_PASSWORD"]
PEOPLE = "ou=people," + BASE


def people_ldif(*names):
    return "".join("dn: cn=%s,%s\nchangetype: add\nobjectClass: person\ncn: %s\nsn: %s\n\n"
                   % (name, PEOPLE, name, name.split()[-1]) for name in names)


def modify_command(uri, transaction):
    return ["ldapmodify", "-x", "-H", uri, "-D", ADMIN, "-w", PASSWORD, "-E", "txn=" + transaction]


def search_command(uri):
    return ["ldapsearch", "-x", "-LLL", "-H", uri, "-b", PEOPLE, "(objectClass=person)", "cn"]


def serve(binary):
    gateway = wire.Gateway(binary, URI)
    print("directory: %s (root DN %s, password %s)" % (URI, ADMIN, PASSWORD))
    print("gateway:   %s\n" % gateway.uri)
    print("A transaction of two adds through the gateway:\n")
    print("%s <<'LDIF'\n%sLDIF\n" % (shlex.join(modify_command(gateway.uri, "commit")),
                                     people_ldif("Grace Hopper", "Edsger Dijkstra")))
    print("What the directory holds now:\n\n%s\n" % shlex.join(search_command(gateway.uri)))
    print("The gateway's log follows; Ctrl-C stops the gateway and the directory.\n", flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    shown = 0
    try:
        while gateway.process.poll() is None:
            while shown < len(gateway.lines):
                print(gateway.lines[shown], flush=True)
                shown += 1
            time.sleep(0.2)
    except KeyboardInterrupt:
        pass
    finally:
        status = gateway.stop()
        for line in gateway.lines[shown:]:
            print(line)
        print("gateway stopped (status %d)" % status)


def step(title):
    print("\n== " + title, flush=True)


def run_client(command, ldif=None):
    """Runs a client, prints it and its output; returns its exit status."""
    shown = " ".join(command) + (" <<LDIF (%d adds)" % ldif.count("changetype: add")
                                 if ldif else "")
    print("$ " + shown)
    done = subprocess.run(command, input=ldif, capture_output=True, text=True, timeout=60)
    for line in (done.stdout + done.stderr).splitlines():
        if line:
            print("    " + line)
    print("    -> exit status %d" % done.returncode)
    return done.returncode


def bound(uri):
    import ldap
    client = ldap.initialize(uri)
    client.set_option(ldap.OPT_TIMEOUT, 10)
    client.simple_bind_s(ADMIN, PASSWORD)
    return client


def start(client):
    import ldap
    from ldap.extop import ExtendedRequest
    try:
        client.extop_s(ExtendedRequest(wire.START_TRANSACTION, None))
        return "0 (success)"
    except ldap.LDAPError as error:
        return "%d, \"%s\"" % (error.args[0]["result"], error.args[0].get("info", ""))


def demo(binary):
    gateway = wire.Gateway(binary, URI, "--tlimit", "2", "--sweep", "1")
    ok = True
    try:
        print("directory %s, gateway %s (20 transactions, 5 updates, 2 seconds)"
              % (URI, gateway.uri))

        step("1. A transaction of two adds, committed, and a search that sees them")
        ok &= run_client(modify_command(gateway.uri, "commit"), people_ldif("one", "two")) == 0
        run_client(search_command(gateway.uri))

        step("2. A transaction of two adds, aborted: the search does not see them")
        ok &= run_client(modify_command(gateway.uri, "abort"), people_ldif("three", "four")) == 0
        run_client(search_command(gateway.uri))

        step("3. 21 clients start a transaction each (python3-ldap)")
        clients = [bound(gateway.uri) for _ in range(21)]
        results = [start(client) for client in clients]
        print("    starts 1 to 20: %s" % ", ".join(sorted(set(results[:20]))))
        print("    start 21: %s" % results[20])
        gateway.wait_for_log("MSG0153", 5)
        for line in gateway.lines:
            if "MSG0153" in line:
                print("    gateway: " + line)
        ok &= results[20].startswith("4,")
        for client in clients:
            client.unbind_s()

        step("4. A second Start Transaction on one connection")
        client = bound(gateway.uri)
        print("    first start: %s" % start(client))
        second = start(client)
        print("    second start: %s" % second)
        ok &= second.startswith("68,")
        client.unbind_s()

        step("5. A transaction of six adds: the sixth is refused")
        six = people_ldif(*("u%d" % i for i in range(1, 7)))
        ok &= run_client(modify_command(gateway.uri, "commit"), six) == 11
        run_client(search_command(gateway.uri))

        step("6. A transaction left idle past the 2-second limit")
        raw = wire.RawClient(gateway.uri)
        raw.request(wire.bind_request(1, ADMIN, PASSWORD))
        print("    start: result %d" % raw.request(wire.start_transaction(2))["code"])
        added = raw.request(wire.add_request(3, "cn=idle," + PEOPLE, [
            ("objectClass", ["person"]), ("cn", ["idle"]), ("sn", ["idle"])], b""))
        print("    add cn=idle in the transaction: result %d; now idle..." % added["code"])
        notice = raw.receive()
        print("    notice: message id %d, name %s, result %d, \"%s\""
              % (notice["id"], notice["name"], notice["code"], notice["diagnostic"]))
        ok &= notice["name"] == wire.ABORTED_TRANSACTION and notice["code"] == 3
        raw.close()
        run_client(search_command(gateway.uri))
    finally:
        status = gateway.stop()
    step("The gateway's log, without the connections opened and closed")
    for line in gateway.lines:
        if not line.endswith(" opened") and not line.endswith(" closed"):
            print("    " + line)
    print("\ndemo %s" % ("done: every step as expected" if ok and status == 0 else "FAILED"))
    return 0 if ok and status == 0 else 1


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[2] not in ("serve", "demo"):
        sys.exit("usage: try_gateway.py GATEWAY serve|demo")
    sys.exit(serve(sys.argv[1]) if sys.argv[2] == "serve" else demo(sys.argv[1]))
