#!/usr/bin/env python3
"""An SSH server for the login tests: password or keyboard-interactive
logins (paramiko), a shell that greets and echoes.

loginserver.py <port> <folder> <mode> <password>
  mode "password": password logins only.
  mode "kbdint2":  keyboard-interactive with two questions, "Password: "
                   (the password) and "Code: " ("42").
Writes <folder>/hostkey.pub (a known_hosts line without the host) and
logs every answer it was given to <folder>/log, one per line.
"""
import os
import socket
import sys
import threading

import paramiko

port, folder, mode, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
key = paramiko.Ed25519Key.from_private_key_file(os.path.join(folder, "hostkey")) \
    if os.path.exists(os.path.join(folder, "hostkey")) else None
if key is None:
    key = paramiko.RSAKey.generate(2048)
with open(os.path.join(folder, "hostkey.pub"), "w") as f:
    f.write("%s %s\n" % (key.get_name(), key.get_base64()))
log_lock = threading.Lock()


def log(text):
    with log_lock:
        with open(os.path.join(folder, "log"), "a") as f:
            f.write(text + "\n")


class Server(paramiko.ServerInterface):
    def __init__(self):
        self.shell = threading.Event()

    def get_allowed_auths(self, username):
        return "password" if mode == "password" else "keyboard-interactive"

    def check_auth_password(self, username, given):
        log("password " + given)
        return paramiko.AUTH_SUCCESSFUL if given == password else paramiko.AUTH_FAILED

    def check_auth_interactive(self, username, submethods):
        if mode != "kbdint2":
            return paramiko.AUTH_FAILED
        q = paramiko.InteractiveQuery("login", "two questions")
        q.add_prompt("Password: ", False)
        q.add_prompt("Code: ", True)
        return q

    def check_auth_interactive_response(self, responses):
        log("answers " + "|".join(responses))
        if list(responses) == [password, "42"]:
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def check_channel_request(self, kind, chanid):
        return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_pty_request(self, *args):
        return True

    def check_channel_shell_request(self, channel):
        self.shell.set()
        return True


def serve(conn):
    transport = paramiko.Transport(conn)
    transport.add_server_key(key)
    server = Server()
    try:
        transport.start_server(server=server)
        chan = transport.accept(20)
        if chan is None:
            return
        server.shell.wait(10)
        chan.send(b"WELCOME\r\n")
        while True:
            data = chan.recv(1024)
            if not data:
                break
            chan.send(data)
    except Exception as e:  # a client that went away
        log("error " + str(e))
    finally:
        transport.close()


sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
sock.bind(("127.0.0.1", port))
sock.listen(8)
while True:
    conn, _ = sock.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
