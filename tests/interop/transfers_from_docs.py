#!/usr/bin/env python3
"""A second implementation's first day, written from docs/data-file.md and
docs/protocol.md alone: it knows nothing of the client but those two files.

It writes a data file for a client "alice" that shares one folder and has
one download from "bob" queued, starts the real client against a small
server of its own and checks the login sequence the client sends. Then it
acts as bob, both ways over the message connection alice opens to ask for
her queued file: it sends her that file, and checks it arrives in her
download folder; it waits for alice's own file in her share list, queues
it, accepts her transfer and receives the file over the file connection
she opens, and compares the bytes. Everything talks over loopback, and
every wait has a deadline.

Usage: transfers_from_docs.py --client PATH --docs FOLDER
"""

import argparse
import hashlib
import http.server
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

CLIENT_START_S = 30   # from start to the login sequence
SHARE_WAIT_S = 60     # until alice's scan offers the file
TRANSFER_WAIT_S = 60  # from the queue request to the last byte
STOP_WAIT_S = 10

ALICE, ALICE_PASSWORD = "alice", "alice-pw"
BOB = "bob"


class CheckFailed(Exception):
    pass


class Stopped(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CheckFailed(what)


# ---------------------------------------------------------------------------
# Encoding shared by the data file and the wire: little-endian integers, and
# strings as a u32 byte count followed by the UTF-8 bytes.

def u8(v):
    return struct.pack("<B", v)


def u32(v):
    return struct.pack("<I", v)


def u64(v):
    return struct.pack("<Q", v)


def i64(v):
    return struct.pack("<q", v)


def string(text):
    data = text.encode("utf-8")
    return u32(len(data)) + data


class Reader:
    """Reads fields from a body; running past its end fails the check."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, n):
        expect(self.at + n <= len(self.data), "a message ended before its last field")
        chunk = self.data[self.at:self.at + n]
        self.at += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def u64(self):
        return struct.unpack("<Q", self.take(8))[0]

    def string(self):
        return self.take(self.u32()).decode("utf-8")


# ---------------------------------------------------------------------------
# The data file ("Layout" and "Item shapes" of data-file.md).

class DataFile:
    VALUED, STANDALONE, MARKER = 0, 1, 2

    def __init__(self):
        self.types = []        # (name, valueless flag)
        self.items = []        # (type index, kind, value or None)
        self.connections = []  # (item index, item index)

    def _type(self, name, valueless):
        for index, (known, flag) in enumerate(self.types):
            if known == name:
                assert flag == valueless
                return index
        self.types.append((name, valueless))
        return len(self.types) - 1

    def valued(self, type_name, value):
        self.items.append((self._type(type_name, 0), self.VALUED, value))
        return len(self.items) - 1

    def marker(self, type_name):
        self.items.append((self._type(type_name, 1), self.MARKER, None))
        return len(self.items) - 1

    def entity(self, type_name):
        self.items.append((self._type(type_name, 1), self.STANDALONE, None))
        return len(self.items) - 1

    def connect(self, a, b):
        self.connections.append((a, b))

    def setting(self, key, text):
        self.connect(self.valued("global", key), self.valued("global_value", text))

    def share_with_everyone(self, folder):
        self.connect(self.valued("shared_folder", folder), self.marker("shared_public"))

    def queue_download(self, user, remote_folder, name, size, order):
        entry = self.entity("download_entry")
        for type_name, value in (("user", user), ("file_name", name), ("remote_folder", remote_folder),
                                 ("file_size", str(size)), ("download_entry_status", "queued"),
                                 ("download_order", str(order)), ("subfolder_save_level", "0")):
            self.connect(entry, self.valued(type_name, value))

    def to_bytes(self):
        out = b"QVDF" + u32(1) + u32(len(self.types))
        for name, valueless in self.types:
            out += string(name) + u8(valueless)
        out += u32(len(self.items))
        for type_index, kind, value in self.items:
            out += u32(type_index) + u8(kind)
            if kind == self.VALUED:
                out += string(value)
        out += u32(len(self.connections))
        for a, b in self.connections:
            out += u32(a) + u32(b)
        return out + u32(zlib.crc32(out) & 0xFFFFFFFF)


def worked_example_from_docs(docs):
    """The bytes of data-file.md's worked example, read from its dump."""
    with open(os.path.join(docs, "data-file.md"), encoding="utf-8") as f:
        text = f.read()
    block = re.search(r"<!-- worked-example-bytes -->\s*```\n(.*?)```", text, re.S)
    expect(block, "data-file.md has no worked example dump")
    dump = b""
    for line in block.group(1).splitlines():
        # Four hex digits of offset, two spaces, sixteen hex pairs in 48
        # columns, then the same bytes as text.
        expect(int(line[:4], 16) == len(dump), "the worked example's offsets do not add up")
        dump += bytes(int(pair, 16) for pair in line[6:54].split())
    return dump


def check_worked_example(docs):
    example = DataFile()
    example.setting("username", "alice")
    example.setting("password", "secret")
    example.share_with_everyone("/home/alice/Music")
    expect(example.to_bytes() == worked_example_from_docs(docs),
           "the worked example in data-file.md is not what its own rules produce")


# ---------------------------------------------------------------------------
# Framing

class Stream:
    """A socket read with deadlines; bytes that arrive before a wait runs
    out stay buffered for the next read."""

    def __init__(self, sock, stopping=None):
        self.sock, self.buffer, self.stopping = sock, b"", stopping

    def fill(self, n, deadline):
        while len(self.buffer) < n:
            if self.stopping is not None and self.stopping.is_set():
                raise Stopped()
            remaining = deadline - time.monotonic()
            expect(remaining > 0, "timed out waiting for %d bytes" % (n - len(self.buffer)))
            self.sock.settimeout(min(remaining, 0.5))
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                continue
            expect(chunk, "the connection closed while %d bytes were still due" % (n - len(self.buffer)))
            self.buffer += chunk

    def take(self, n, deadline):
        self.fill(n, deadline)
        taken, self.buffer = self.buffer[:n], self.buffer[n:]
        return taken

    def u32(self, deadline):
        return struct.unpack("<I", self.take(4, deadline))[0]

    def message(self, deadline):
        """A server or "P" message: u32 length of code and body, u32 code, body."""
        self.fill(4, deadline)
        length = struct.unpack("<I", self.buffer[:4])[0]
        expect(4 <= length <= 16 * 1024 * 1024, "a frame of length %d" % length)
        frame = self.take(4 + length, deadline)
        return struct.unpack("<I", frame[4:8])[0], frame[8:]

    def send(self, data):
        self.sock.sendall(data)

    def wait_for_close(self, deadline, what):
        while True:
            expect(time.monotonic() < deadline, what)
            self.sock.settimeout(0.5)
            try:
                extra = self.sock.recv(65536)
            except socket.timeout:
                continue
            if not extra:
                return
            expect(False, "unexpected bytes before the connection closed")


def message(code, body=b""):
    return u32(4 + len(body)) + u32(code) + body


def user_stats():
    # average speed, download count, shared files, shared folders
    return u32(0) + u64(0) + u32(0) + u32(0)


# ---------------------------------------------------------------------------
# The server: the client's login, and what a transfer needs of the server
# ("The login sequence as sent", "Reaching another client", "Transfers").

class TinyServer(threading.Thread):
    def __init__(self, bob_port):
        super().__init__(daemon=True)
        self.bob_port = bob_port
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.login = None   # (name, digest, version)
        self.received = []  # (code, body) after the login, in order
        self.error = None
        self.changed = threading.Condition()
        self.stopping = threading.Event()

    def wait_for(self, predicate, seconds, what):
        deadline = time.monotonic() + seconds
        with self.changed:
            while not predicate():
                expect(self.error is None, "server side: %s" % self.error)
                remaining = deadline - time.monotonic()
                expect(remaining > 0, "timed out waiting for " + what)
                self.changed.wait(min(remaining, 0.5))

    def codes(self):
        with self.changed:
            return [code for code, _ in self.received]

    def bodies(self, code):
        with self.changed:
            return [body for c, body in self.received if c == code]

    def run(self):
        try:
            self.listener.settimeout(0.5)
            connection = None
            while connection is None and not self.stopping.is_set():
                try:
                    connection, _ = self.listener.accept()
                except socket.timeout:
                    pass
            if connection is not None:
                with connection:
                    self.serve(Stream(connection, self.stopping))
        except (Stopped, OSError):
            pass
        except CheckFailed as failure:
            with self.changed:
                self.error = str(failure)
                self.changed.notify_all()
        finally:
            self.listener.close()

    def serve(self, stream):
        # The client talks for as long as it runs; this reads until stopped.
        forever = time.monotonic() + 24 * 3600
        code, body = stream.message(forever)
        expect(code == 1, "the client's first message is %d, not 1 Login" % code)
        r = Reader(body)
        login = (r.string(), r.string(), r.u32())
        stream.send(message(1, u8(1) + string("hello from the docs") + u8(0)))
        with self.changed:
            self.login = login
            self.changed.notify_all()
        while True:
            code, body = stream.message(forever)
            with self.changed:
                self.received.append((code, body))
                self.changed.notify_all()
            self.answer(stream, code, body)

    def answer(self, stream, code, body):
        if code == 3:  # Get peer address
            user = Reader(body).string()
            if user == BOB:
                reply = string(user) + string("127.0.0.1") + u32(self.bob_port) + u32(0)
            else:
                reply = string(user) + string("") + u32(0) + u32(0)
            stream.send(message(3, reply))
        elif code == 5:  # Add user: bob exists and is online
            user = Reader(body).string()
            if user == BOB:
                reply = string(user) + u8(1) + u32(2) + user_stats() + string("")
            else:
                reply = string(user) + u8(0)
            stream.send(message(5, reply))
        elif code == 36:  # Get user stats
            user = Reader(body).string()
            stream.send(message(36, string(user) + user_stats()))
        # The rest (1100, 18, 32, 121, ...) needs no answer here: the direct
        # way to bob wins without the relay.


class QuietWebHost(http.server.BaseHTTPRequestHandler):
    """Where the client looks for its version file: nothing is there."""

    def do_GET(self):
        self.send_error(404)

    def log_message(self, *args):
        pass


class WebHost(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client stopped in the middle of its request is no fault here.
        pass


# ---------------------------------------------------------------------------
# The peer side, as bob

def greeting(name, kind, token):
    content = u8(1) + string(name) + string(kind) + u32(token)
    return u32(len(content)) + content


def accept(listener, deadline, what):
    listener.settimeout(0.5)
    while True:
        expect(time.monotonic() < deadline, "timed out waiting for " + what)
        try:
            return Stream(listener.accept()[0])
        except socket.timeout:
            pass


def read_greeting(stream, deadline):
    """(name, type) of a direct greeting, the opening of a connection."""
    length = stream.u32(deadline)
    expect(5 <= length <= 4096, "an opening frame of length %d" % length)
    r = Reader(stream.take(length, deadline))
    expect(r.u8() == 1, "a connection does not open with a direct greeting")
    name, kind = r.string(), r.string()
    r.u32()  # the connection's own token
    return name, kind


def share_list_files(body):
    """(remote folder, file name, size) of every file in an inflated 5."""
    r = Reader(body)
    files = []
    for _ in range(r.u32()):
        folder = r.string()
        for _ in range(r.u32()):
            r.u8()
            name = r.string()
            size = r.u64()
            r.string()  # extension
            for _ in range(r.u32()):
                r.u32()
                r.u32()
            files.append((folder, name, size))
    return files


def wait_for_share(peer, folder, name, size):
    deadline = time.monotonic() + SHARE_WAIT_S
    while True:
        peer.send(message(4))
        code = None
        while code != 5:
            code, body = peer.message(deadline)
        if (folder, name, size) in share_list_files(zlib.decompress(body)):
            return
        expect(time.monotonic() < deadline, "alice never offered %s\\%s" % (folder, name))
        time.sleep(0.2)


def wait_for_transfer_request(peer, path):
    deadline = time.monotonic() + TRANSFER_WAIT_S
    while True:
        code, body = peer.message(deadline)
        r = Reader(body)
        if code == 50:
            refused = r.string()
            raise CheckFailed("alice refused %s: %r" % (refused, r.string()))
        if code == 40:
            direction, token, requested = r.u32(), r.u32(), r.string()
            size = r.u64()
            expect(direction == 1, "the transfer request has direction %d" % direction)
            expect(requested == path, "the transfer request names %r" % requested)
            return token, size


def receive_file(listener, transfer_token, size):
    deadline = time.monotonic() + TRANSFER_WAIT_S
    stream = accept(listener, deadline, "alice's file connection")
    with stream.sock:
        expect(read_greeting(stream, deadline) == (ALICE, "F"), "the greeting is not alice's file connection")
        got = stream.u32(deadline)
        expect(got == transfer_token, "the file connection carries token %d, not %d" % (got, transfer_token))
        stream.send(i64(0))
        return stream.take(size, deadline)


def send_queued_file(peer, plain_port, path, content):
    """As the uploader of alice's queued download: 40, her 41, the file."""
    deadline = time.monotonic() + TRANSFER_WAIT_S
    code = None
    while code != 43:
        code, body = peer.message(deadline)
    expect(Reader(body).string() == path, "alice asks for another file than her queued download")
    token = 0x00B0B001
    peer.send(message(40, u32(1) + u32(token) + string(path) + u64(len(content))))
    while code != 41:
        code, body = peer.message(deadline)
    expect(body == u32(token) + u8(1), "alice's answer is not an acceptance without a size")

    files = Stream(socket.create_connection(("127.0.0.1", plain_port), timeout=5))
    with files.sock:
        files.send(greeting(BOB, "F", 0x00B0B002) + u32(token))
        offset = struct.unpack("<q", files.take(8, deadline))[0]
        expect(offset == 0, "alice asks for the file from byte %d" % offset)
        files.send(content)
        # The downloader closes once it has the last byte.
        files.wait_for_close(deadline, "alice kept the file connection open")


def wait_for_file(path, content):
    deadline = time.monotonic() + TRANSFER_WAIT_S
    while True:
        if os.path.isfile(path):
            with open(path, "rb") as f:
                if f.read() == content:
                    return
        expect(time.monotonic() < deadline, "%s never held the file that was sent" % path)
        time.sleep(0.1)


# ---------------------------------------------------------------------------

def sample_bytes(size):
    # Not a repeating pattern, so a chunk at the wrong offset shows.
    state, out = 0x2545F491, bytearray(size)
    for i in range(size):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = state >> 24
    return bytes(out)


def free_ports(count):
    # The client listens on every interface and binds these a moment later,
    # which is why this check runs alone.
    listeners = [socket.create_server(("0.0.0.0", 0)) for _ in range(count)]
    ports = [listener.getsockname()[1] for listener in listeners]
    for listener in listeners:
        listener.close()
    return ports


def stop(process):
    if process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(STOP_WAIT_S)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(STOP_WAIT_S)


def check_login_sequence(server, plain_port, obfuscated_port, alive):
    server.wait_for(lambda: alive() and server.login is not None, CLIENT_START_S, "the login")
    name, digest, _version = server.login
    expect(name == ALICE, "the client logged in as %r" % name)
    expect(digest == hashlib.md5((ALICE + ALICE_PASSWORD).encode()).hexdigest(),
           "the login digest is not the MD5 of name and password")
    # 5 for the one user of the data file's downloads.
    server.wait_for(lambda: alive() and len(server.received) >= 6, CLIENT_START_S, "the login sequence")
    with server.changed:
        first = server.received[:6]
    codes = [code for code, _ in first]
    expect(codes == [2, 5, 92, 1101, 35, 36], "after the login the client sent %s, not 2, 5, 92, 1101, 35, 36" % codes)
    ports = Reader(first[0][1])
    expect((ports.u32(), ports.u32()) == (plain_port, obfuscated_port), "message 2 names other ports")
    expect(Reader(first[1][1]).string() == BOB, "the client does not ask about the user of its download")
    state = Reader(first[3][1])
    expect((state.u8(), state.string(), state.u32(), state.u32(), state.u32(), state.u32()) == (0, ALICE, 0, 0, 2, 0),
           "1101 is not the state of a client without parent or children")
    expect(Reader(first[5][1]).string() == ALICE, "36 does not ask for the client's own statistics")


def run(client, docs, root):
    check_worked_example(docs)

    home = os.path.join(root, "alice")
    runtime = os.path.join(home, "runtime")
    music = os.path.join(home, "Music")
    os.makedirs(runtime)
    os.chmod(runtime, 0o700)
    os.makedirs(music)
    content = sample_bytes(200000 + 77)  # not a whole number of chunks
    file_name = "take five.bin"
    with open(os.path.join(music, file_name), "wb") as f:
        f.write(content)

    # bob's file that alice has queued in her data file.
    bob_content = sample_bytes(3 * 8192 + 5)[::-1]
    bob_folder, bob_name = "\\srv\\bob\\Tunes", "sunrise.bin"

    plain_port, obfuscated_port = free_ports(2)
    data = DataFile()
    data.setting("username", ALICE)
    data.setting("password", ALICE_PASSWORD)
    data.setting("listening_port", str(plain_port))
    data.setting("obfuscated_listening_port", str(obfuscated_port))
    data.setting("download_folder", os.path.join(home, "Downloads"))
    data.share_with_everyone(music)
    data.queue_download(BOB, bob_folder, bob_name, len(bob_content), 1)
    data.setting("transfer_order_counter", "2")
    data_file = os.path.join(home, ".Quorvane.%d" % (int(time.time() * 1000) - 1000))
    with open(data_file, "wb") as f:
        f.write(data.to_bytes())

    bob_listener = socket.create_server(("127.0.0.1", 0))
    server = TinyServer(bob_listener.getsockname()[1])
    web = WebHost(("127.0.0.1", 0), QuietWebHost)
    threading.Thread(target=web.serve_forever, daemon=True).start()
    server.start()

    environment = dict(os.environ)
    for key in ("XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"):
        environment.pop(key, None)
    environment.update({
        "HOME": home,
        "XDG_RUNTIME_DIR": runtime,
        "QT_QPA_PLATFORM": "offscreen",
        "QUORVANE_TEST": "1",
        "QUORVANE_SERVER": "127.0.0.1:%d" % server.port,
        "QUORVANE_WEB": "http://127.0.0.1:%d/" % web.server_address[1],
    })
    log_path = os.path.join(root, "client.log")
    log = open(log_path, "wb")
    process = subprocess.Popen([client], env=environment, stdout=log, stderr=subprocess.STDOUT)
    peer = None

    def alive():
        expect(process.poll() is None, "the client exited with status %s" % process.poll())
        expect(not os.path.exists(data_file + ".unreadable"), "the client could not read the data file")
        return True

    try:
        check_login_sequence(server, plain_port, obfuscated_port, alive)

        # bob is online: alice connects to him to ask for her download.
        peer = accept(bob_listener, time.monotonic() + TRANSFER_WAIT_S, "alice's message connection")
        expect(read_greeting(peer, time.monotonic() + TRANSFER_WAIT_S) == (ALICE, "P"),
               "alice's first connection to bob is not her message connection")
        send_queued_file(peer, plain_port, bob_folder + "\\" + bob_name, bob_content)
        wait_for_file(os.path.join(home, "Downloads", "complete", "Tunes", bob_name), bob_content)

        # And back: bob downloads alice's shared file over the same connection.
        remote_folder = music.replace("/", "\\")
        wait_for_share(peer, remote_folder, file_name, len(content))

        path = remote_folder + "\\" + file_name
        peer.send(message(43, string(path)))
        token, size = wait_for_transfer_request(peer, path)
        expect(size == len(content), "the transfer request announces %d bytes" % size)
        asked = [Reader(body).string() for body in server.bodies(5)]
        expect(BOB in asked, "alice started the upload without asking the server about bob")
        peer.send(message(41, u32(token) + u8(1)))

        received = receive_file(bob_listener, token, size)
        expect(received == content, "the file arrived with other bytes")
        expect(BOB in [Reader(body).string() for body in server.bodies(3)],
               "alice reached bob without asking the server for his address")
        alive()
    except CheckFailed:
        log.flush()
        with open(log_path, "rb") as f:
            sys.stderr.write("--- client output ---\n" + f.read()[-8000:].decode("utf-8", "replace") + "\n")
        sys.stderr.write("--- server messages after the login: %s\n" % server.codes())
        raise
    finally:
        if peer:
            peer.sock.close()
        stop(process)
        server.stopping.set()
        server.join(5)
        web.shutdown()
        web.server_close()
        bob_listener.close()
        log.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", required=True)
    parser.add_argument("--docs", required=True)
    arguments = parser.parse_args()
    root = tempfile.mkdtemp(prefix="qv-docs-")
    try:
        run(arguments.client, arguments.docs, root)
    except CheckFailed as failure:
        print("FAIL: %s" % failure, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("PASS: files went both ways between the client and a peer built from the documents alone")
    return 0


if __name__ == "__main__":
    sys.exit(main())
