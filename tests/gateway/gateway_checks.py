"""What the gateway's tests share: the directory's names from the
environment scripts/directory sets, exact checks, the real clients
(ldapmodify, ldapsearch, python3-ldap) and raw ones, and what the tests
read of a running gateway and directory: the gateway's statistics line,
open descriptors and resident memory from /proc, and the directory's
process, stopped and started again on its address."""
import os
import re
import signal
import subprocess
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tools/gateway/python"))
import gateway_session as wire  # noqa: E402

URI = os.environ.get("DIRECTORY_URI", "")
BASE = os.environ.get("DIRECTORY_BASE", "")
ADMIN = os.environ.get("DIRECTORY_ADMIN", "")
PASSWORD = os.environ.get("DIRECTORY_PASSWORD", "")
PEOPLE = "ou=people," + BASE
LIMIT_TEXT = "The number of transaction exceeds limit"


def check(actual, expected, what):
    if actual != expected:
        raise AssertionError("%s: expected %r, got %r" % (what, expected, actual))


def person(cn):
    return "dn: cn=%s,%s\nchangetype: add\nobjectClass: person\ncn: %s\nsn: %s\n\n" % (
        cn, PEOPLE, cn, cn)


def ldapmodify(uri, ldif, transaction="commit"):
    return subprocess.run(
        ["ldapmodify", "-x", "-H", uri, "-D", ADMIN, "-w", PASSWORD, "-E", "txn=" + transaction],
        input=ldif, capture_output=True, text=True, timeout=30)


def people(uri):
    """The cn of every person under ou=people, sorted."""
    found = subprocess.run(
        ["ldapsearch", "-x", "-LLL", "-H", uri, "-D", ADMIN, "-w", PASSWORD, "-b", PEOPLE,
         "(objectClass=person)", "cn"],
        capture_output=True, text=True, timeout=30)
    check(found.returncode, 0, "ldapsearch " + found.stderr)
    return sorted(line[4:] for line in found.stdout.splitlines() if line.startswith("cn: "))


def bound_client(uri):
    import ldap
    client = ldap.initialize(uri)
    client.set_option(ldap.OPT_NETWORK_TIMEOUT, 10)
    client.set_option(ldap.OPT_TIMEOUT, 10)
    client.simple_bind_s(ADMIN, PASSWORD)
    return client


def raw_client(uri):
    """A raw client bound as the directory's root: slapd lets no anonymous
    client start a transaction."""
    client = wire.RawClient(uri)
    check(client.request(wire.bind_request(99, ADMIN, PASSWORD))["code"], 0, "bind")
    return client


def start_with(client):
    """A Start Transaction through python3-ldap: (code, text)."""
    import ldap
    from ldap.extop import ExtendedRequest
    try:
        client.extop_s(ExtendedRequest(wire.START_TRANSACTION, None))
        return 0, ""
    except ldap.LDAPError as error:
        return error.args[0]["result"], error.args[0].get("info", "")


def expect_disconnection(client, code, text):
    notice = client.receive()
    check((notice["id"], notice["op"], notice["name"]), (0, 0x78, wire.NOTICE_OF_DISCONNECTION),
          "notice")
    check((notice["code"], notice["diagnostic"]), (code, text), "notice result")
    check(client.receive(), None, "connection closed after the notice")


def client_text(client):
    host, port = client.sock.getsockname()
    return "client %s:%d" % (host, port)


def open_descriptors(pid):
    """The number of descriptors process `pid` holds open."""
    return len(os.listdir("/proc/%d/fd" % pid))


def check_misuse(program, errors, usage):
    """Each bad use of `program` in `errors` (arguments, text): one line on
    standard error and status 2, nothing run; --help: `usage` first."""
    name = os.path.basename(program)
    for arguments, text in errors:
        run = subprocess.run([program, *arguments], capture_output=True, text=True, timeout=10)
        check((run.returncode, run.stdout, run.stderr),
              (2, "", "%s: %s (try --help)\n" % (name, text)), " ".join(arguments))
    shown = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=10)
    check((shown.returncode, shown.stdout.splitlines()[0]), (0, usage), "help")


def directory_connections():
    """The TCP connections the directory holds established on its port, as
    the kernel lists them: a connection slapd has not yet closed after its
    client went is not established any more, so the count does not depend
    on when slapd gets round to closing it."""
    port = urllib.parse.urlsplit(URI).port
    established = 0
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as rows:
            next(rows)
            for row in rows:
                fields = row.split()
                if int(fields[1].rsplit(":", 1)[1], 16) == port and fields[3] == "01":
                    established += 1
    return established


def resident_kib(pid):
    """Process `pid`'s resident memory (VmRSS), in KiB."""
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS for process %d" % pid)


STATISTICS = re.compile(r"statistics: (\d+) connections open, (\d+) transactions registered$")


def statistics(gateway):
    """(open connections, registered transactions), asked of the gateway
    with SIGUSR1 and read from the line it logs in answer."""
    seen = len(gateway.lines)
    gateway.process.send_signal(signal.SIGUSR1)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        for line in gateway.lines[seen:]:
            found = STATISTICS.search(line)
            if found:
                return int(found.group(1)), int(found.group(2))
        time.sleep(0.02)
    raise AssertionError("no statistics line: " + gateway.log())


def settled(read, expected, seconds=15.0):
    """read() once it returns `expected`, or its last value after `seconds`."""
    deadline = time.monotonic() + seconds
    found = read()
    while found != expected and time.monotonic() < deadline:
        time.sleep(0.1)
        found = read()
    return found


def limit_probe(gateway, maxnum):
    """The black-box view of the library's table: maxnum + 1 clients start
    a transaction each.  The codes in order (an empty table accepts exactly
    maxnum and refuses the next with 4), and the statistics while the
    clients hold their transactions.  The clients are closed."""
    clients = [raw_client(gateway.uri) for _ in range(maxnum + 1)]
    codes = [client.request(wire.start_transaction(1))["code"] for client in clients]
    during = statistics(gateway)
    for client in clients:
        client.close()
    return codes, during


def directory_pid():
    with open(os.environ["DIRECTORY_PIDFILE"]) as pidfile:
        return int(pidfile.read())


def directory_answers():
    return subprocess.run(["ldapsearch", "-x", "-H", URI, "-b", "", "-s", "base"],
                          capture_output=True, timeout=10).returncode == 0


def kill_directory(sig=signal.SIGKILL):
    """Ends the directory's slapd and waits (at most 10 seconds) until its
    address refuses connections."""
    os.kill(directory_pid(), sig)
    check(settled(directory_answers, False, 10), False, "the directory is gone")


def start_directory():
    """Starts slapd again on the same address with the same configuration
    and data; scripts/directory stops it at the end through its pidfile."""
    home = os.environ["DIRECTORY_HOME"]
    subprocess.run(["/usr/sbin/slapd", "-f", os.path.join(home, "slapd.conf"), "-h", URI],
                   check=True, timeout=30)
    check(settled(directory_answers, True, 15), True, "the directory answers again")
