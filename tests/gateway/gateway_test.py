"""Integration tests of transys-gateway against a private slapd.

    gateway_test.py GATEWAY CASE

runs one case; ctest runs each under scripts/directory (which exports
DIRECTORY_URI and the rest) so that every case has a directory of its own.
The clients are Debian's ldapmodify and ldapsearch, python3-ldap, and raw
sockets for what a polite client never sends.  Exit status 0: passed."""
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tools/gateway/python"))
import gateway_session as wire  # noqa: E402
from gateway_checks import (URI, PEOPLE, LIMIT_TEXT, check, person, ldapmodify,  # noqa: E402
                            people, bound_client, raw_client, start_with,
                            expect_disconnection, client_text, check_misuse,
                            settled, statistics)

GATEWAY = sys.argv[1]


# ---- cases ----------------------------------------------------------------


def commit_and_abort():
    """Relayed transactions: a commit is visible, an abort is not; the log
    tells each."""
    with wire.Gateway(GATEWAY, URI) as gateway:
        committed = ldapmodify(gateway.uri, person("one") + person("two"))
        check(committed.returncode, 0, "commit " + committed.stderr)
        aborted = ldapmodify(gateway.uri, person("three"), "abort")
        check(aborted.returncode, 0, "abort " + aborted.stderr)
        check(people(gateway.uri), ["Ada Lovelace", "Alan Turing", "one", "two"], "people")
        check(gateway.stop(), 0, "exit status")
        events = [line.split(": ", 2)[2] for line in gateway.lines if ": client " in line]
        check(events, ["connection 1 opened", "transaction started",
                       "transaction ended: commit, result 0", "connection 1 closed",
                       "connection 2 opened", "transaction started",
                       "transaction ended: abort, result 0", "connection 2 closed",
                       "connection 3 opened", "connection 3 closed"], "log")


def transaction_limit():
    """The 21st concurrent transaction is refused with 4 and message 153; a
    closed connection gives its place back."""
    with wire.Gateway(GATEWAY, URI) as gateway:
        clients = [bound_client(gateway.uri) for _ in range(21)]
        results = [start_with(client) for client in clients]
        check(results, [(0, "")] * 20 + [(4, LIMIT_TEXT)], "starts")
        check(gateway.wait_for_log("transaction refused: 4 " + LIMIT_TEXT), True, "log")
        check(gateway.wait_for_log(
            "MSG0153 (0,2): The number of open transactions has reached the limit of 20."),
            True, "message 153 " + gateway.log())
        clients[0].unbind_s()
        check(gateway.wait_for_log("connection 1 closed"), True, "closed")
        check(start_with(clients[20]), (0, ""), "start after a close")
        for client in clients[1:]:
            client.unbind_s()
        check(gateway.stop(), 0, "exit status")


def duplicate_start():
    """A second start on one connection is refused with 68 and forwarded to
    nobody; the running transaction goes on and commits."""
    with wire.Gateway(GATEWAY, URI) as gateway:
        client = raw_client(gateway.uri)
        first = client.request(wire.start_transaction(1))
        check((first["id"], first["code"], first["value"]), (1, 0, b""), "first start")
        second = client.request(wire.start_transaction(2))
        check((second["id"], second["op"], second["code"], second["diagnostic"], second["name"]),
              (2, 0x78, 68, "Duplicate StartTransactions with %s issued" % client_text(client),
               None), "second start")
        added = client.request(wire.add_request(3, "cn=kept," + PEOPLE,
                                                [("objectClass", ["person"]), ("cn", ["kept"]),
                                                 ("sn", ["k"])], b""))
        check(added["code"], 0, "queued add")
        ended = client.request(wire.end_transaction(4))
        check((ended["id"], ended["code"]), (4, 0), "commit")
        check("kept" in people(URI), True, "committed entry")
        check(client.request(wire.start_transaction(5))["code"], 0, "start after the end")
        client.close()
        check(gateway.stop(), 0, "exit status")


def age_kept():
    """A refused second start does not renew the running transaction's age.
    With a 6-second limit, whole seconds and a sweep a second, the notice
    comes at most 8 seconds after the first start; a second start 5.5
    seconds in that renewed the age would put it past 11.5."""
    with wire.Gateway(GATEWAY, URI, "--tlimit", "6", "--sweep", "1") as gateway:
        client = raw_client(gateway.uri)
        started = time.monotonic()
        check(client.request(wire.start_transaction(1))["code"], 0, "start")
        time.sleep(5.5)
        check(client.request(wire.start_transaction(2))["code"], 68, "second start")
        notice = client.receive()
        check((notice["name"], notice["code"]), (wire.ABORTED_TRANSACTION, 3), "notice")
        check(time.monotonic() - started < 9.75, True, "notice after the first start's age")
        client.close()
        check(gateway.stop(), 0, "exit status")


def update_limit():
    """The update past --maxop is answered with 11 in the response type of
    its request and never reaches the directory."""
    with wire.Gateway(GATEWAY, URI) as gateway:
        five = ldapmodify(gateway.uri, "".join(person("f%d" % i) for i in range(5)))
        check(five.returncode, 0, "five updates " + five.stderr)
        six = ldapmodify(gateway.uri, "".join(person("u%d" % i) for i in range(6)))
        check(six.returncode, 11, "ldapmodify status")
        check(six.stderr, "ldap_add: Administrative limit exceeded (11)\n\tadditional info: "
              "the transaction already holds the limit of 5 updates\n", "ldapmodify error")
        check(people(URI), ["Ada Lovelace", "Alan Turing", "f0", "f1", "f2", "f3", "f4"],
              "the five written, none of the six")
        check(gateway.stop(), 0, "exit status")
    with wire.Gateway(GATEWAY, URI, "--maxop", "0") as gateway:
        client = raw_client(gateway.uri)
        check(client.request(wire.start_transaction(1))["code"], 0, "start")
        dn = "cn=Ada Lovelace," + PEOPLE
        for number, (kind, response) in enumerate(
                [("delete", 0x6B), ("modify", 0x67), ("moddn", 0x6D)], 2):
            answer = client.request(wire.update_request(kind, number, dn))
            check((answer["id"], answer["op"], answer["code"], answer["diagnostic"]),
                  (number, response, 11, "the transaction already holds the limit of 0 updates"),
                  kind)
        check(client.request(wire.end_transaction(9))["code"], 1, "empty commit")
        check(people(URI)[:2], ["Ada Lovelace", "Alan Turing"], "nothing changed")
        client.close()
        check(gateway.stop(), 0, "exit status")


def time_out():
    """An idle transaction past --tlimit is aborted: the client gets the
    notice, its entries are never written, and it may start anew."""
    with wire.Gateway(GATEWAY, URI, "--tlimit", "2", "--sweep", "1") as gateway:
        client = raw_client(gateway.uri)
        check(client.request(wire.start_transaction(1))["code"], 0, "start")
        idle = wire.add_request(2, "cn=idle," + PEOPLE, [("objectClass", ["person"]),
                                                         ("cn", ["idle"]), ("sn", ["i"])], b"")
        check(client.request(idle)["code"], 0, "queued add")
        notice = client.receive()  # within the socket's 10 seconds
        check(notice, {"id": 0, "op": 0x78, "code": 3, "name": wire.ABORTED_TRANSACTION,
                       "value": b"", "diagnostic":
                       "transaction aborted: open longer than the time limit of 2 seconds"},
              "notice")
        check(client.nothing_within(1.0), True, "the gateway's own abort stays unseen")
        check(client.request(wire.start_transaction(3))["code"], 0, "new start")
        fresh = wire.add_request(4, "cn=fresh," + PEOPLE, [("objectClass", ["person"]),
                                                           ("cn", ["fresh"]), ("sn", ["f"])], b"")
        check(client.request(fresh)["code"], 0, "queued add")
        check(client.request(wire.end_transaction(5))["code"], 0, "commit")
        check(people(URI), ["Ada Lovelace", "Alan Turing", "fresh"], "people")
        check(gateway.wait_for_log("%s: transaction timed out: older than the limit of 2 seconds"
                                   % client_text(client)), True, "log")
        client.close()
        check(gateway.stop(), 0, "exit status")


BAD_INPUT = [
    ("not LDAP", b"GET / HTTP/1.0\r\n\r\n", "the bytes received are not an LDAP message"),
    ("truncated inside", wire.sequence(wire.integer(5), b"\x63\x20\x04\x00"),
     "malformed LDAP request"),
    ("truncated at the end", wire.start_transaction(5)[:-3],
     "the connection ended inside a message"),
    ("2 GiB", b"\x30\x84\x80\x00\x00\x00\x02\x01\x05",
     "the message announces 2147483648 bytes, more than the limit of 8388608"),
    ("start with a value", wire.extended_request(5, wire.START_TRANSACTION, b"\x00"),
     "malformed LDAP request"),
    ("end without a value", wire.extended_request(5, wire.END_TRANSACTION),
     "malformed LDAP request"),
    ("reserved message id", wire.start_transaction(2147483647),
     "message id 2147483647 is reserved by the gateway"),
]


def bad_input():
    """Each bad input ends its connection with a Notice of Disconnection and
    removes its registration; a bystander goes on unaffected."""
    with wire.Gateway(GATEWAY, URI, "--maxnum", "1") as gateway:
        bystander = bound_client(gateway.uri)
        for name, data, text in BAD_INPUT:
            client = raw_client(gateway.uri)
            check(client.request(wire.start_transaction(1))["code"], 0, name + ": start")
            client.send(data)
            if name == "truncated at the end":
                client.sock.shutdown(socket.SHUT_WR)
            expect_disconnection(client, 2, text)
            check(gateway.wait_for_log("%s: refused: 2 %s" % (client_text(client), text)), True,
                  name + ": log")
            client.close()
            check(settled(lambda: statistics(gateway), (1, 0)), (1, 0), name + ": registration")
            found = bystander.search_s(PEOPLE, 1, "(cn=Ada*)", ["cn"])
            check([entry[1]["cn"] for entry in found], [[b"Ada Lovelace"]], name + ": bystander")
        check(gateway.stop(), 0, "exit status")


def unreachable_directory():
    """A directory that cannot be reached: each client gets unavailable (52)
    and is closed; the gateway goes on listening."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        closed_uri = "ldap://127.0.0.1:%d/" % probe.getsockname()[1]
    with wire.Gateway(GATEWAY, closed_uri) as gateway:
        for _ in range(2):
            client = wire.RawClient(gateway.uri)
            expect_disconnection(client, 52, "the directory at %s cannot be reached: "
                                 "Connection refused" % closed_uri)
            client.close()
        check(gateway.stop(), 0, "exit status")


def hasty_clients():
    """Clients that hang up, or unbind, right after a Start Transaction do
    not take the directory down (slapd aborts when a connection closes
    while its Start is pending)."""
    with wire.Gateway(GATEWAY, URI) as gateway:
        for number in range(20):
            hasty = raw_client(gateway.uri)
            hasty.send(wire.start_transaction(1) + (wire.unbind(2) if number % 2 else b""))
            hasty.close()
        check(gateway.wait_for_log("connection 20 closed"), True, "all closed")
        os.kill(int(open(os.environ["DIRECTORY_PIDFILE"]).read()), 0)  # slapd still runs
        client = raw_client(gateway.uri)
        check(client.request(wire.start_transaction(1))["code"], 0, "a start afterwards")
        client.close()
        check(gateway.stop(), 0, "exit status")


def stop_aborts():
    """SIGTERM: the client is told, its open transaction is aborted at the
    directory, the gateway exits 0."""
    with wire.Gateway(GATEWAY, URI) as gateway:
        client = raw_client(gateway.uri)
        check(client.request(wire.start_transaction(1))["code"], 0, "start")
        held = wire.add_request(2, "cn=held," + PEOPLE, [("objectClass", ["person"]),
                                                         ("cn", ["held"]), ("sn", ["h"])], b"")
        check(client.request(held)["code"], 0, "queued add")
        check(gateway.stop(), 0, "exit status")
        expect_disconnection(client, 52, "the gateway is stopping")
        check(gateway.lines[-3:], [
            "transys-gateway: %s: transaction aborted: the gateway is stopping"
            % client_text(client),
            "transys-gateway: %s: connection 1 closed" % client_text(client),
            "transys-gateway: stopped"], "last log lines")
    check(people(URI), ["Ada Lovelace", "Alan Turing"], "nothing written")


def many_clients():
    """210 clients at once, each searching through its own connection to the
    directory, while 20 of them hold transactions."""
    with wire.Gateway(GATEWAY, URI, "--threads", "4") as gateway:
        clients = [raw_client(gateway.uri) for _ in range(210)]
        search = wire.message(7, wire.tlv(0x63, wire.octets(PEOPLE) + wire.tlv(0x0A, b"\x01") +
                                          wire.tlv(0x0A, b"\x00") + wire.integer(0) +
                                          wire.integer(0) + wire.tlv(0x01, b"\x00") +
                                          wire.octets("cn", 0x87) + wire.sequence()))
        starts = [client.request(wire.start_transaction(1))["code"] for client in clients[:21]]
        check(starts, [0] * 20 + [4], "starts")
        for client in clients:
            client.send(search)
        for number, client in enumerate(clients):
            answers = [client.receive() for _ in range(3)]
            check([(a["id"], a["op"]) for a in answers], [(7, 0x64), (7, 0x64), (7, 0x65)],
                  "search %d" % number)
        for client in clients:
            client.close()
        check(gateway.wait_for_log("connection 210 closed"), True, "all closed")
        check(gateway.stop(), 0, "exit status")


FLAG_ERRORS = [
    ([], "--backend URI is required"),
    (["--backend", "http://x/"], "--backend http://x/: expected an ldap://HOST[:PORT] URI"),
    (["--backend", "ldap://127.0.0.1:1/", "--maxop", "-1"], "--maxop -1: expected a number from 0"),
    (["--backend", "ldap://127.0.0.1:1/", "--sweep=0"], "--sweep 0: expected seconds from 1"),
    (["--backend", "ldap://127.0.0.1:1/", "--threads", "65"],
     "--threads 65: expected a number from 1 to 64"),
    (["--backend", "ldap://127.0.0.1:1/", "--max-message", "1023"],
     "--max-message 1023: expected bytes from 1024 to 1073741824"),
    (["--backend", "ldap://127.0.0.1:1/", "--listen", "127.0.0.1:65536"],
     "--listen 127.0.0.1:65536: expected HOST:PORT"),
    (["--backend", "ldap://127.0.0.1:1/", "--tlimit"], "--tlimit needs a value: seconds from 0"),
    (["--backend", "ldap://127.0.0.1:1/", "--colour"], "unknown flag --colour"),
]


def flags():
    """Bad flags: one line on standard error and status 2; --help: usage."""
    check_misuse(GATEWAY, FLAG_ERRORS, "usage: transys-gateway --backend ldap://HOST:PORT [flags]")


CASES = {case.__name__: case for case in [
    commit_and_abort, transaction_limit, duplicate_start, age_kept, update_limit, time_out,
    bad_input, unreachable_directory, hasty_clients, stop_aborts, many_clients, flags]}

if __name__ == "__main__":
    started = time.monotonic()
    CASES[sys.argv[2]]()
    print("%s passed in %.1f s" % (sys.argv[2], time.monotonic() - started))
