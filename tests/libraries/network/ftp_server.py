"""A minimal FTP server for the network library's tests, on the standard
library's sockets: USER, PASS, PASV, TYPE, RETR, STOR and QUIT over one
passive data connection per transfer. It listens on 127.0.0.1 (a free
port, printed first as "PORT <n>"), prints every command it receives as
"CMD <line>" and every stored file as "STORED <name> <hex bytes>", and
exits after the given number of sessions.

Usage: ftp_server.py ROOT SESSIONS [QUIRK...]
Quirks: user-ok (USER answers 230), deny (PASS answers 530), multiline
(a three-line greeting), bad-continuation (a greeting line without the
code), preliminary (a 120 before the greeting), short-pasv (five
numbers), long-pasv (seven numbers), use125 (RETR answers 125), no-size
(150 without a byte count), garbage (an endless line instead of a
greeting), hang-up (close at once).
"""
import os
import socket
import sys


def send(conn, text):
    conn.sendall(text.encode("latin-1"))


def greeting(conn, quirks):
    if "garbage" in quirks:
        send(conn, "2" * 5000)
        return False
    if "hang-up" in quirks:
        return False
    if "preliminary" in quirks:
        send(conn, "120 Wait a moment\r\n")
    if "multiline" in quirks:
        send(conn, "220-Welcome\r\n220-to the test\r\n220 Ready\r\n")
    elif "bad-continuation" in quirks:
        send(conn, "220-Welcome\r\nthis line has no code\r\n220 Ready\r\n")
    else:
        send(conn, "220 Ready\r\n")
    return True


def session(conn, root, quirks):
    reader = conn.makefile("rb")
    if not greeting(conn, quirks):
        return
    data_listener = None
    while True:
        raw = reader.readline()
        if not raw:
            return
        line = raw.decode("latin-1").rstrip("\r\n")
        print("CMD " + line, flush=True)
        verb, _, argument = line.partition(" ")
        if verb == "user":
            send(conn, "230 Logged in\r\n" if "user-ok" in quirks else "331 Password please\r\n")
        elif verb == "pass":
            send(conn, "530 Not logged in\r\n" if "deny" in quirks else "230 Logged in\r\n")
        elif verb == "pasv":
            data_listener = socket.socket()
            data_listener.bind(("127.0.0.1", 0))
            data_listener.listen(1)
            port = data_listener.getsockname()[1]
            numbers = [127, 0, 0, 1, port // 256, port % 256]
            if "short-pasv" in quirks:
                numbers = numbers[:5]
            if "long-pasv" in quirks:
                numbers.append(9)
            send(conn, "227 Entering Passive Mode (%s).\r\n" % ",".join(map(str, numbers)))
        elif verb == "type":
            send(conn, "200 Type set to %s\r\n" % argument)
        elif verb == "retr":
            path = os.path.join(root, argument.lstrip("/"))
            if not os.path.isfile(path):
                send(conn, "550 No such file\r\n")
                continue
            with open(path, "rb") as f:
                content = f.read()
            if "use125" in quirks:
                send(conn, "125 Data connection already open\r\n")
            elif "no-size" in quirks:
                send(conn, "150 Opening data connection\r\n")
            else:
                send(conn, "150 Opening BINARY mode data connection for %s (%d bytes).\r\n"
                     % (argument, len(content)))
            data, _ = data_listener.accept()
            data.sendall(content)
            data.close()
            send(conn, "226 Transfer complete\r\n")
        elif verb == "stor":
            if argument.startswith("/forbidden"):
                send(conn, "550 Permission denied\r\n")
                continue
            send(conn, "150 Ok to send data\r\n")
            data, _ = data_listener.accept()
            chunks = []
            while True:
                chunk = data.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
            data.close()
            print("STORED %s %s" % (argument, b"".join(chunks).hex()), flush=True)
            send(conn, "226 Transfer complete\r\n")
        elif verb == "quit":
            send(conn, "221 Bye\r\n")
            return
        else:
            send(conn, "502 Not implemented\r\n")


def main():
    root, sessions, quirks = sys.argv[1], int(sys.argv[2]), set(sys.argv[3:])
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    print("PORT %d" % server.getsockname()[1], flush=True)
    for _ in range(sessions):
        conn, _ = server.accept()
        try:
            session(conn, root, quirks)
        except OSError:
            pass  # the client may hang up right after its last command
        finally:
            conn.close()
    print("END", flush=True)


if __name__ == "__main__":
    main()
