"""Captures the seeds of the ldap_message fuzz target: the real messages of
real clients, recorded by a socket relay.

    scripts/directory -- /usr/bin/python3 tests/fuzz/capture_ldap_message_seeds.py \\
        build/x86_64/tools/gateway/transys-gateway tests/fuzz/corpus/ldap_message

Three sessions go through a relay that records every message each way:
`ldapmodify -E txn=commit` with an add, a modify, a modify DN and a delete
straight to the directory; `ldapmodify -E txn=abort` with one add; and
`ldapmodify -E txn=commit` through the gateway with --maxop 1 and two adds,
whose second the gateway answers itself with 11.  Each message becomes one
file, named SESSION_ID_DIRECTION_WHAT: the message id, request or
response, and what the request is (a response is named after its
request, with its result code)."""
import os
import socket
import subprocess
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../tools/gateway/python"))
import gateway_session as wire  # noqa: E402

GATEWAY, OUT = sys.argv[1], sys.argv[2]
URI = os.environ["DIRECTORY_URI"]
ADMIN = os.environ["DIRECTORY_ADMIN"]
PASSWORD = os.environ["DIRECTORY_PASSWORD"]
PEOPLE = "ou=people," + os.environ["DIRECTORY_BASE"]

OPERATIONS = {0x60: "bind", 0x42: "unbind", 0x68: "add", 0x66: "modify", 0x4A: "delete",
              0x6C: "modify_dn", 0x77: "extended"}
NAMES = {wire.START_TRANSACTION: "start_transaction", wire.END_TRANSACTION: "end_transaction"}


def describe_request(message):
    """What a request is, for its file name."""
    (_, body), = wire.elements(message)
    parts = wire.elements(body)
    tag, contents = parts[1]
    what = OPERATIONS.get(tag, "tag_%02x" % tag)
    if tag == 0x77:
        fields = wire.elements(contents)
        what = NAMES.get(fields[0][1].decode(), "extended")
        if what == "end_transaction":
            value = wire.elements(wire.elements(fields[1][1])[0][1])
            what += "_abort" if any(t == 0x01 for t, _ in value) else "_commit"
    controls = [part for part in parts[2:] if part[0] == 0xA0]
    if controls and wire.TRANSACTION_SPECIFICATION.encode() in controls[0][1]:
        what += "_in_transaction"
    return what


def file_names(session, messages):
    """SESSION_ID_DIRECTION_WHAT for each message, a response named after
    the request of its message id."""
    asked = {}
    names = []
    for direction, message in messages:
        number = wire.parse_response(message)["id"]
        if direction == "request":
            asked[number] = describe_request(message)
            what = asked[number]
        else:
            what = "%s_result_%d" % (asked.get(number, "unsolicited"),
                                     wire.parse_response(message)["code"])
        names.append("%s_%02d_%s_%s" % (session, number, direction, what))
    return names


class Relay:
    """A loopback listener that relays one connection at a time to
    `target` and records the messages of both directions in order."""

    def __init__(self, target):
        host, port = target[len("ldap://"):].rstrip("/").rsplit(":", 1)
        self.target = (host, int(port))
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.uri = "ldap://127.0.0.1:%d/" % self.listener.getsockname()[1]
        self.messages = []
        self.lock = threading.Lock()

    def _pump(self, source, sink, direction):
        buffered = b""
        while True:
            data = source.recv(65536)
            if not data:
                sink.shutdown(socket.SHUT_WR)
                return
            sink.sendall(data)
            buffered += data
            while True:
                try:
                    _, _, end = wire.read_element(buffered)
                except ValueError:
                    break
                with self.lock:
                    self.messages.append((direction, buffered[:end]))
                buffered = buffered[end:]

    def relay_one(self, run_client):
        """Runs `run_client(uri)` through the relay; the messages it made."""
        self.messages = []
        done = threading.Thread(target=run_client, args=(self.uri,))
        done.start()
        client, _ = self.listener.accept()
        server = socket.create_connection(self.target, timeout=30)
        client.settimeout(30)
        pumps = [threading.Thread(target=self._pump, args=(client, server, "request")),
                 threading.Thread(target=self._pump, args=(server, client, "response"))]
        for pump in pumps:
            pump.start()
        done.join(60)
        for pump in pumps:
            pump.join(60)
        client.close()
        server.close()
        return list(self.messages)


def ldapmodify(transaction, ldif):
    def run(uri):
        subprocess.run(["ldapmodify", "-x", "-H", uri, "-D", ADMIN, "-w", PASSWORD,
                        "-E", "txn=" + transaction], input=ldif, capture_output=True,
                       text=True, timeout=30)
    return run


def person(cn):
    return "dn: cn=%s,%s\nchangetype: add\nobjectClass: person\ncn: %s\nsn: %s\n\n" % (
        cn, PEOPLE, cn, cn)


def save(session, messages):
    requests_first = sorted(messages, key=lambda item: item[0] != "request")
    for name, (_, message) in zip(file_names(session, requests_first), requests_first):
        with open(os.path.join(OUT, name), "wb") as seed:
            seed.write(message)
        print(name)


def main():
    os.makedirs(OUT, exist_ok=True)
    direct = Relay(URI)
    save("commit", direct.relay_one(ldapmodify("commit", person("seed") + (
        "dn: cn=seed,%s\nchangetype: modify\nreplace: sn\nsn: Seeded\n\n"
        "dn: cn=seed,%s\nchangetype: modrdn\nnewrdn: cn=sown\ndeleteoldrdn: 1\n\n"
        "dn: cn=sown,%s\nchangetype: delete\n\n") % (PEOPLE, PEOPLE, PEOPLE))))
    save("abort", direct.relay_one(ldapmodify("abort", person("never"))))
    with wire.Gateway(GATEWAY, URI, "--maxop", "1") as gateway:
        limited = Relay(gateway.uri)
        save("update_limit", limited.relay_one(ldapmodify("commit", person("one") + person("two"))))
        gateway.stop()


if __name__ == "__main__":
    main()
