"""Driving transys-gateway from Python: starting and stopping it, and a raw
LDAP client that sends hand-built messages and reads every message the
gateway sends back, unsolicited notices included.

Used by the gateway's tests and by `scripts/run`.  The BER here is the
little a client needs to build a few requests and read responses; the
gateway itself decodes with liblber.
"""
import os
import signal
import socket
import subprocess
import threading
import time

START_TRANSACTION = "1.3.6.1.1.21.1"
TRANSACTION_SPECIFICATION = "1.3.6.1.1.21.2"
END_TRANSACTION = "1.3.6.1.1.21.3"
ABORTED_TRANSACTION = "1.3.6.1.1.21.4"
NOTICE_OF_DISCONNECTION = "1.3.6.1.4.1.1466.20036"

# ---- BER -----------------------------------------------------------------


def tlv(tag, contents):
    """One element: tag, definite length, contents."""
    n = len(contents)
    if n < 0x80:
        length = bytes([n])
    else:
        octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(octets)]) + octets
    return bytes([tag]) + length + contents


def integer(value, tag=0x02):
    return tlv(tag, value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big", signed=True))


def octets(value, tag=0x04):
    return tlv(tag, value if isinstance(value, bytes) else value.encode())


def sequence(*parts, tag=0x30):
    return tlv(tag, b"".join(parts))


def read_element(data, at=0):
    """(tag, contents, next offset) of the element at `at`; ValueError when
    it is not whole."""
    if at + 2 > len(data):
        raise ValueError("short element")
    tag, first = data[at], data[at + 1]
    at += 2
    if first & 0x80:
        count = first & 0x7F
        length = int.from_bytes(data[at:at + count], "big")
        at += count
    else:
        length = first
    if at + length > len(data):
        raise ValueError("short element")
    return tag, data[at:at + length], at + length


def elements(data):
    at, found = 0, []
    while at < len(data):
        tag, contents, at = read_element(data, at)
        found.append((tag, contents))
    return found


# ---- LDAP messages -------------------------------------------------------


def message(message_id, operation, controls=b""):
    return sequence(integer(message_id), operation, controls)


def extended_request(message_id, name, value=None):
    body = octets(name, 0x80) + (octets(value, 0x81) if value is not None else b"")
    return message(message_id, tlv(0x77, body))


def start_transaction(message_id):
    return extended_request(message_id, START_TRANSACTION)


def end_transaction(message_id, identifier=b"", commit=True):
    value = sequence((b"" if commit else tlv(0x01, b"\x00")) + octets(identifier))
    return extended_request(message_id, END_TRANSACTION, value)


def transaction_control(identifier=b""):
    control = sequence(octets(TRANSACTION_SPECIFICATION), tlv(0x01, b"\xff"), octets(identifier))
    return tlv(0xA0, control)


def add_request(message_id, dn, attributes, identifier=None):
    """An add; with the transaction control when `identifier` is given."""
    listed = b"".join(
        sequence(octets(name), sequence(*(octets(v) for v in values), tag=0x31))
        for name, values in attributes)
    controls = transaction_control(identifier) if identifier is not None else b""
    return message(message_id, tlv(0x68, octets(dn) + sequence(listed)), controls)


def update_request(kind, message_id, dn, identifier=b""):
    """A delete, modify or modify DN of `dn` with the transaction control."""
    if kind == "delete":
        operation = octets(dn, 0x4A)
    elif kind == "modify":
        change = sequence(tlv(0x0A, b"\x02"),
                          sequence(octets("sn"), sequence(octets("x"), tag=0x31)))
        operation = tlv(0x66, octets(dn) + sequence(change))
    else:
        operation = tlv(0x6C, octets(dn) + octets("cn=renamed") + tlv(0x01, b"\xff"))
    return message(message_id, operation, transaction_control(identifier))


def bind_request(message_id, dn, password):
    return message(message_id, tlv(0x60, integer(3) + octets(dn) + octets(password, 0x80)))


def unbind(message_id):
    return message(message_id, tlv(0x42, b""))


def parse_response(data):
    """The fields of a response: id, op (its tag), and for results code,
    diagnostic, and for extended responses name and value (None: absent)."""
    (_, body), = elements(data)
    parts = elements(body)
    found = {"id": int.from_bytes(parts[0][1], "big", signed=True), "op": parts[1][0]}
    if parts[1][0] in (0x61, 0x65, 0x67, 0x69, 0x6B, 0x6D, 0x6F, 0x78):
        fields = elements(parts[1][1])
        found["code"] = int.from_bytes(fields[0][1], "big", signed=True)
        found["diagnostic"] = fields[2][1].decode()
        found["name"] = found["value"] = None
        for tag, contents in fields[3:]:
            if tag == 0x8A:
                found["name"] = contents.decode()
            elif tag == 0x8B:
                found["value"] = contents
    return found


class RawClient:
    """A client socket that sends bytes and reads whole messages, each read
    bounded by `timeout` seconds."""

    def __init__(self, uri, timeout=10.0):
        host, port = uri[len("ldap://"):].rstrip("/").rsplit(":", 1)
        self.sock = socket.create_connection((host, int(port)), timeout=timeout)
        self.buffer = b""

    def send(self, data):
        self.sock.sendall(data)

    def receive(self):
        """The next message, parsed; None when the gateway closed."""
        while True:
            try:
                tag, contents, end = read_element(self.buffer)
                raw, self.buffer = self.buffer[:end], self.buffer[end:]
                return parse_response(raw)
            except ValueError:
                pass
            more = self.sock.recv(65536)
            if not more:
                return None
            self.buffer += more

    def request(self, data):
        self.send(data)
        return self.receive()

    def nothing_within(self, seconds):
        """True when no byte arrives within `seconds`."""
        self.sock.settimeout(seconds)
        try:
            more = self.sock.recv(65536)
        except socket.timeout:
            return True
        finally:
            self.sock.settimeout(10.0)
        self.buffer += more
        return False

    def close(self):
        self.sock.close()


# ---- the gateway process -------------------------------------------------


class Gateway:
    """transys-gateway on a free loopback port in front of `backend`; its
    log is collected from standard error.  stop() sends SIGTERM and returns
    the exit status; a gateway still running at exit is killed."""

    def __init__(self, binary, backend, *flags, env=None):
        self.process = subprocess.Popen(
            [binary, "--listen", "127.0.0.1:0", "--backend", backend, *flags],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            env=dict(os.environ, **(env or {})))
        self.lines = []
        self.reader = threading.Thread(target=self._collect, daemon=True)
        self.reader.start()
        ready = self.process.stdout.readline()
        if not ready.startswith("listening on "):
            self.process.kill()
            raise RuntimeError("gateway did not start: %r %s" % (ready, self.log()))
        self.uri = ready.split()[-1]

    def _collect(self):
        for line in self.process.stderr:
            self.lines.append(line.rstrip("\n"))

    def log(self):
        return "\n".join(self.lines)

    def wait_for_log(self, text, seconds=10.0):
        """True once a log line contains `text`, within `seconds`."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if any(text in line for line in self.lines):
                return True
            time.sleep(0.05)
        return False

    def stop(self, seconds=20.0):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        self.reader.join(timeout=5)
        return status

    def __enter__(self):
        return self

    def __exit__(self, *details):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
